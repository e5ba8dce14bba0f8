#include "term/layout.hpp"

#include <gtest/gtest.h>

#include <string>

namespace orvik::term {
namespace {

bool inside(Rect part, Rect parent) {
  return part.x >= parent.x && part.y >= parent.y && part.right() <= parent.right() && part.bottom() <= parent.bottom();
}

// Fills each part of a one-row split with a, b, c…; cells no part covers stay '.'.
std::string fill(const std::vector<Constraint>& constraints, std::uint16_t width) {
  const Rect area{3, 7, width, 1};
  std::string out(width, '.');
  const auto parts = Layout::horizontal(constraints).split(area);
  EXPECT_EQ(parts.size(), constraints.size());
  char letter = 'a';
  for (const auto& p : parts) {
    EXPECT_TRUE(inside(p, area)) << "part outside its parent";
    EXPECT_EQ(p.y, area.y);
    EXPECT_EQ(p.height, area.height);
    for (std::uint16_t x = p.x; x < p.right(); ++x) {
      EXPECT_EQ(out[x - area.x], '.') << "parts overlap";
      out[x - area.x] = letter;
    }
    ++letter;
  }
  return out;
}

struct FillCase {
  std::vector<Constraint> constraints;
  std::uint16_t width;
  std::string expected;
};

TEST(Layout, FillsInConstraintOrder) {
  const FillCase cases[] = {
      {{Length(3), Min(0)}, 10, "aaabbbbbbb"},
      {{Length(1), Min(0), Length(1)}, 5, "abbbc"},
      {{Percentage(50), Percentage(50)}, 10, "aaaaabbbbb"},
      {{Percentage(50), Percentage(50)}, 11, "aaaaabbbbbb"},  // the odd cell goes to the later half
      {{Percentage(50), Percentage(50)}, 1, "b"},
      {{Length(2), Length(1), Length(2)}, 6, "aabcc."},     // nothing takes the spare cell
      {{Length(3), Length(6), Min(6), Length(3)}, 20, "aaabbbbbbccccccccddd"},
      {{Min(2), Min(2)}, 7, "aaaabbb"},                     // leftovers shared, the odd one to the first
      {{Length(2), Percentage(25)}, 8, "aabb...."},
  };
  for (const auto& c : cases) EXPECT_EQ(fill(c.constraints, c.width), c.expected) << c.expected;
}

TEST(Layout, ShrinksFlexiblePartsFirstWhenTooSmall) {
  const FillCase cases[] = {
      {{Length(3), Length(6), Min(6), Length(3)}, 15, "aaabbbbbbcccddd"},  // Min gives way below its minimum
      {{Length(3), Length(6), Min(6), Length(3)}, 10, "aaabbbbbbd"},       // then the last fixed part
      {{Length(1), Min(0), Length(1)}, 1, "a"},
      {{Length(4), Percentage(50)}, 5, "aaaab"},
      {{Length(4), Length(4)}, 0, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(fill(c.constraints, c.width), c.expected) << c.expected;
}

TEST(Layout, VerticalSplitKeepsTheWidth) {
  const auto [a, b] = split<2>(Layout::vertical({Length(1), Min(0)}), Rect{2, 4, 9, 5});
  EXPECT_EQ(a, (Rect{2, 4, 9, 1}));
  EXPECT_EQ(b, (Rect{2, 5, 9, 4}));
}

TEST(Layout, StaysInsideAnAreaAtTheEdgeOfTheCoordinateRange) {
  const Rect area{0xfff0, 0, 0x0f, 1};
  for (const auto& p : Layout::horizontal({Length(100), Min(5)}).split(area)) EXPECT_TRUE(inside(p, area));
}

}  // namespace
}  // namespace orvik::term
