#include "term/layout.hpp"

#include <algorithm>

namespace orvik::term {

namespace {

using Kind = Constraint::Kind;

// Takes up to `excess` cells from the parts of `kind`, the last part first; returns what is still too much.
std::uint64_t shrink(std::vector<std::uint64_t>& sizes, const std::vector<Constraint>& constraints, Kind kind,
                     std::uint64_t excess) {
  for (std::size_t i = sizes.size(); i-- > 0 && excess > 0;) {
    if (constraints[i].kind != kind) continue;
    const auto cut = std::min(sizes[i], excess);
    sizes[i] -= cut;
    excess -= cut;
  }
  return excess;
}

}  // namespace

std::vector<Rect> Layout::split(Rect area) const {
  const bool vertical = direction == Direction::Vertical;
  const std::uint64_t total = vertical ? area.height : area.width;

  std::vector<std::uint64_t> sizes(constraints.size());
  std::uint64_t percent_before = 0;
  std::size_t mins = 0;
  for (std::size_t i = 0; i < constraints.size(); ++i) {
    const auto& c = constraints[i];
    switch (c.kind) {
      case Kind::Length:
        sizes[i] = c.value;
        break;
      case Kind::Min:
        sizes[i] = c.value;
        ++mins;
        break;
      case Kind::Percentage: {
        // Rounded down on the running sum, so that 50/50 of an odd span fills it, the later half one larger.
        const std::uint64_t percent_after = percent_before + c.value;
        sizes[i] = total * percent_after / 100 - total * percent_before / 100;
        percent_before = percent_after;
        break;
      }
    }
  }

  std::uint64_t sum = 0;
  for (const auto s : sizes) sum += s;
  if (sum < total && mins > 0) {
    // Room left over goes to the Min parts, shared evenly, the earlier ones taking the odd cells.
    const std::uint64_t extra = total - sum;
    std::size_t seen = 0;
    for (std::size_t i = 0; i < constraints.size(); ++i) {
      if (constraints[i].kind != Kind::Min) continue;
      sizes[i] += extra / mins + (seen < extra % mins ? 1 : 0);
      ++seen;
    }
  } else if (sum > total) {
    // Too small: the flexible parts give way first, then the fixed ones from the end.
    std::uint64_t excess = sum - total;
    for (const auto kind : {Kind::Min, Kind::Percentage, Kind::Length})
      excess = shrink(sizes, constraints, kind, excess);
  }

  std::vector<Rect> out;
  out.reserve(sizes.size());
  std::uint32_t pos = vertical ? area.y : area.x;
  const std::uint32_t end = vertical ? area.bottom() : area.right();
  for (const auto s : sizes) {
    const auto size = static_cast<std::uint16_t>(std::min<std::uint64_t>(s, end - pos));
    const auto at = static_cast<std::uint16_t>(pos);
    out.push_back(vertical ? Rect{area.x, at, area.width, size} : Rect{at, area.y, size, area.height});
    pos += size;
  }
  return out;
}

}  // namespace orvik::term
