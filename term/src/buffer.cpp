#include "term/buffer.hpp"

#include <utf8proc.h>

#include <algorithm>
#include <deque>
#include <mutex>
#include <ostream>
#include <unordered_map>

#include "base/text.hpp"
#include "base/utf8.hpp"

namespace orvik::term {

std::uint16_t Rect::right() const { return static_cast<std::uint16_t>(std::min<std::uint32_t>(x + width, 0xffff)); }
std::uint16_t Rect::bottom() const { return static_cast<std::uint16_t>(std::min<std::uint32_t>(y + height, 0xffff)); }

Rect Rect::intersection(Rect other) const {
  const auto x1 = std::max(left(), other.left());
  const auto y1 = std::max(top(), other.top());
  const auto x2 = std::min(right(), other.right());
  const auto y2 = std::min(bottom(), other.bottom());
  if (x2 <= x1 || y2 <= y1) return Rect{x1, y1, 0, 0};
  return Rect{x1, y1, static_cast<std::uint16_t>(x2 - x1), static_cast<std::uint16_t>(y2 - y1)};
}

Style Style::patched_onto(Style base) const { return Style{fg ? fg : base.fg, bold || base.bold}; }

Buffer Buffer::empty(Rect area) { return Buffer{area, std::vector<Cell>(area.area())}; }

void Buffer::set_style(Rect r, Style style) {
  if (!style.fg && !style.bold) return;  // the default style changes nothing
  const Rect clip = r.intersection(area);
  for (std::uint16_t y = clip.top(); y < clip.bottom(); ++y) {
    Cell* row = &at(clip.left(), y);
    for (std::uint16_t i = 0; i < clip.width; ++i) row[i].set_style(style);
  }
}

void Buffer::reset() {
  static constexpr Cell blank{};
  std::fill(cells.begin(), cells.end(), blank);
}

namespace {

constexpr std::string_view replacement = "\xEF\xBF\xBD";  // U+FFFD
constexpr std::size_t max_marks = 4;
constexpr utf8proc_int32_t zwj = 0x200d, vs16 = 0xfe0f;

// The first code point of `text` and its length in bytes; U+FFFD, one byte long, for what is not UTF-8.
std::pair<utf8proc_int32_t, std::size_t> decode(std::string_view text) {
  std::size_t n = 0;
  const auto c = base::next_char_or_fffd(text, n);
  return {static_cast<utf8proc_int32_t>(c), n};
}

// Clusters too long to sit in a cell, each kept once for the life of the process. Bounded: a log full of
// distinct long emoji sequences gets the first code point of each once the table is full.
struct LongSymbols {
  static constexpr std::size_t capacity = 1u << 16;
  std::mutex lock;
  std::deque<std::string> texts;  // never moved, so the views below stay valid
  std::unordered_map<std::string_view, std::uint32_t> ids;
};

LongSymbols& long_symbols() {
  static LongSymbols* table = new LongSymbols;  // never destroyed: cells may outlive static destruction
  return *table;
}

}  // namespace

Symbol::Symbol(std::string_view text) {
  std::uint16_t width = 0;
  if (!text.empty()) {
    const auto first = static_cast<unsigned char>(text[0]);
    width = first < 0x80 || utf8proc_charwidth(decode(text).first) < 2 ? 1 : 2;
  }
  assign(text, width, 0);
}

void Symbol::assign(std::string_view bytes, std::uint16_t width, std::uint16_t reach) {
  const std::uint32_t zero = 0;
  std::memcpy(bytes_.data(), &zero, sizeof zero);
  info_ = static_cast<std::uint8_t>((width & 3u) | (std::min<std::uint16_t>(reach, 63) << 2));
  if (bytes.size() <= inline_bytes) {
    if (!bytes.empty()) std::memcpy(bytes_.data(), bytes.data(), bytes.size());
    size_ = static_cast<std::uint8_t>(bytes.size());
    return;
  }
  auto& table = long_symbols();
  std::uint32_t id = 0;
  {
    const std::lock_guard guard(table.lock);
    if (auto found = table.ids.find(bytes); found != table.ids.end()) {
      id = found->second;
    } else if (table.texts.size() < LongSymbols::capacity) {
      id = static_cast<std::uint32_t>(table.texts.size());
      table.ids.emplace(table.texts.emplace_back(bytes), id);
    } else {
      const auto first = bytes.substr(0, decode(bytes).second);
      std::memcpy(bytes_.data(), first.data(), first.size());
      size_ = static_cast<std::uint8_t>(first.size());
      return;
    }
  }
  std::memcpy(bytes_.data(), &id, sizeof id);
  size_ = interned;
}

std::string_view Symbol::view() const {
  if (size_ != interned) return {bytes_.data(), size_};
  std::uint32_t id = 0;
  std::memcpy(&id, bytes_.data(), sizeof id);
  auto& table = long_symbols();
  const std::lock_guard guard(table.lock);
  return table.texts[id];
}

std::ostream& operator<<(std::ostream& os, const Symbol& symbol) { return os << symbol.view(); }

namespace {

bool is_pictographic(utf8proc_int32_t cp) {
  return utf8proc_get_property(cp)->boundclass == UTF8PROC_BOUNDCLASS_EXTENDED_PICTOGRAPHIC;
}
bool is_regional_indicator(utf8proc_int32_t cp) { return cp >= 0x1f1e6 && cp <= 0x1f1ff; }
bool is_skin_tone(utf8proc_int32_t cp) { return cp >= 0x1f3fb && cp <= 0x1f3ff; }

// The cluster being put together: its bytes, width and reach, and what may still join it.
struct Cluster {
  static constexpr std::size_t capacity = 48;  // a family of four with skin tones, joined
  char bytes[capacity];
  std::size_t size = 0;
  std::uint16_t width = 0;
  std::uint16_t reach = 0;
  std::size_t marks = 0;
  bool emoji = false;        // an emoji sequence: a joiner may link another emoji to it
  bool takes_tone = false;   // its last emoji has taken neither a skin tone nor the presentation selector
  bool regional = false;     // a single regional indicator, waiting for the second half of a flag

  bool empty() const { return size == 0; }
  bool fits(std::size_t n) const { return size + n <= capacity; }
  void add(utf8proc_int32_t cp) {
    size = static_cast<std::size_t>(base::encode_utf8(bytes + size, static_cast<char32_t>(cp)) - bytes);
  }
  void start(utf8proc_int32_t cp, std::uint16_t w) {
    size = 0;
    add(cp);
    width = w;
    reach = 0;
    marks = 0;
    emoji = is_pictographic(cp);
    takes_tone = emoji;
    regional = is_regional_indicator(cp);
  }
  std::string_view text() const { return {bytes, size}; }
};

// Calls `emit(bytes, width, reach)` for each cell of `text`, in order, until it returns false, or
// `emit_ascii(c)` for a cell of one printable ASCII character; builds nothing on the heap, so a long text cut
// early costs little.
template <class Emit, class EmitAscii>
void each_grapheme(std::string_view text, Emit&& emit, EmitAscii&& emit_ascii) {
  const auto* const begin = reinterpret_cast<const unsigned char*>(text.data());
  const auto* p = begin;
  const auto* const end = p + text.size();
  Cluster cur;
  bool joiner = false;       // a U+200D after an emoji, placed only if another emoji follows
  utf8proc_int32_t prev = -1;  // the code point a next one may join, or -1
  utf8proc_int32_t state = 0;  // the grapheme breaker's
  auto emit_cluster = [&] { return emit(cur.text(), cur.width, cur.reach); };
  auto emit_stand_in = [&](char32_t c) {
    char bytes[4];
    return emit(std::string_view(bytes, static_cast<std::size_t>(base::encode_utf8(bytes, c) - bytes)), 1, 0);
  };

  // Ends the cluster under way (and a joiner left over); false when `emit` wants no more.
  auto flush = [&] {
    if (!cur.empty() && !emit_cluster()) return false;
    cur.size = 0;
    if (joiner) {
      joiner = false;
      if (!emit(replacement, 1, 0)) return false;
    }
    return true;
  };

  while (p < end) {
    const unsigned char b = *p;
    if (b >= 0x20 && b < 0x7f) {
      // Printable ASCII always starts a cell of its own, one column wide; only a non-ASCII code point after
      // it (a combining mark) may join it.
      if (!flush()) return;
      ++p;
      if (p == end || *p < 0x80) {
        if (!emit_ascii(static_cast<char>(b))) return;
        prev = -1;
      } else {
        cur.start(b, 1);
        prev = b;
      }
      state = 0;
      continue;
    }
    std::size_t next = static_cast<std::size_t>(p - begin);
    const auto cp = static_cast<utf8proc_int32_t>(base::next_char_or_fffd(text, next));
    p = begin + next;

    if (base::is_terminal_unsafe(static_cast<char32_t>(cp))) {
      if (cp == zwj && cur.emoji && !joiner && prev >= 0) {
        (void)utf8proc_grapheme_break_stateful(prev, cp, &state);
        prev = cp;
        joiner = true;
        continue;
      }
      if (!flush() || !emit_stand_in(base::terminal_stand_in(static_cast<char32_t>(cp)))) return;
      prev = -1;  // nothing joins a stand-in
      state = 0;
      continue;
    }

    const int w = utf8proc_charwidth(cp);
    const bool joins = prev >= 0 && !cur.empty() && !utf8proc_grapheme_break_stateful(prev, cp, &state);
    if (joiner) {
      joiner = false;
      if (joins && is_pictographic(cp) && cur.fits(3 + 4)) {
        cur.add(zwj);
        cur.add(cp);
        cur.reach = static_cast<std::uint16_t>(cur.reach + 2);
        cur.takes_tone = true;
        prev = cp;
        continue;
      }
      if (!emit_cluster() || !emit(replacement, 1, 0)) return;
      cur.size = 0;
    } else if (joins) {
      bool joined = true;
      if (cp == vs16 && cur.takes_tone && cur.fits(3)) {
        cur.add(cp);
        cur.width = 2;  // the emoji presentation is two columns wide
        cur.takes_tone = false;
      } else if (w == 0) {
        // Marks piled on one base can reach into the rows above and below; a few are enough for any script.
        if (cur.marks < max_marks && cur.fits(4)) cur.add(cp);
        ++cur.marks;
      } else if (is_skin_tone(cp) && cur.takes_tone && cur.fits(4)) {
        cur.add(cp);
        cur.reach = static_cast<std::uint16_t>(cur.reach + 2);
        cur.takes_tone = false;
      } else if (is_regional_indicator(cp) && cur.regional && cur.fits(4)) {
        cur.add(cp);
        cur.width = 2;
        cur.reach = static_cast<std::uint16_t>(cur.reach + 2);
        cur.regional = false;
      } else {
        joined = false;  // it would add width: a cell of its own
      }
      if (joined) {
        prev = cp;
        continue;
      }
    }

    if (!flush()) return;
    state = 0;
    if (w <= 0) {
      if (!emit(replacement, 1, 0)) return;  // a mark with nothing to sit on
      prev = -1;
    } else {
      cur.start(cp, static_cast<std::uint16_t>(std::min(w, 2)));
      prev = cp;
    }
  }
  (void)flush();
}

}  // namespace

std::uint16_t Buffer::set_stringn(std::uint16_t x, std::uint16_t y, std::string_view text, std::size_t max_width,
                                  Style style) {
  if (y < area.top() || y >= area.bottom() || x < area.left()) return x;
  const std::size_t limit = std::min<std::size_t>(max_width, area.right() > x ? area.right() - x : 0);
  if (limit == 0) return x;
  Cell* const row = &at(x, y);
  // Printable ASCII, the bulk of every frame, is one cell a byte, unless a mark follows it.
  std::size_t used = 0;
  const std::size_t run = std::min(text.size(), limit);
  while (used < run && text[used] >= 0x20 && text[used] < 0x7f &&
         (used + 1 == text.size() || static_cast<unsigned char>(text[used + 1]) < 0x80)) {
    row[used].symbol.set_ascii(text[used]);
    row[used].set_style(style);
    ++used;
  }
  text.remove_prefix(used);
  each_grapheme(
      text,
      [&](std::string_view bytes, std::uint16_t width, std::uint16_t reach) {
        if (used + width > limit) return false;  // what follows a character that does not fit is not drawn
        row[used].symbol.assign(bytes, width, reach);
        row[used].set_style(style);
        for (std::size_t i = 1; i < width; ++i) {
          row[used + i].symbol.clear();
          row[used + i].set_style(style);
        }
        used += width;
        return true;
      },
      [&](char c) {
        if (used >= limit) return false;
        row[used].symbol.set_ascii(c);
        row[used].set_style(style);
        ++used;
        return true;
      });
  return static_cast<std::uint16_t>(x + used);
}

std::vector<Grapheme> graphemes(std::string_view text) {
  std::vector<Grapheme> out;
  each_grapheme(
      text,
      [&](std::string_view bytes, std::uint16_t width, std::uint16_t) {
        out.push_back(Grapheme{std::string(bytes), width});
        return true;
      },
      [&](char c) {
        out.push_back(Grapheme{std::string(1, c), 1});
        return true;
      });
  return out;
}

std::size_t display_width(std::string_view text) {
  std::size_t total = 0;
  each_grapheme(
      text,
      [&](std::string_view, std::uint16_t width, std::uint16_t) {
        total += width;
        return true;
      },
      [&](char) {
        ++total;
        return true;
      });
  return total;
}

}  // namespace orvik::term
