#include "session_log/uuid.hpp"

#include <gtest/gtest.h>

#include <set>

namespace orvik::session_log {
namespace {

constexpr std::string_view canonical = "67e55044-10b1-426f-9247-bb680e5fe0c8";

TEST(Uuid, ReadsTheFourTextForms) {
  const std::string_view forms[] = {
      "67e5504410b1426f9247bb680e5fe0c8",
      "67e55044-10b1-426f-9247-bb680e5fe0c8",
      "{67e55044-10b1-426f-9247-bb680e5fe0c8}",
      "urn:uuid:67e55044-10b1-426f-9247-bb680e5fe0c8",
      "67E55044-10B1-426F-9247-BB680E5FE0C8",
      "{67E55044-10b1-426F-9247-bb680e5fe0c8}",
  };
  for (auto form : forms) {
    auto id = Uuid::parse(form);
    ASSERT_TRUE(id) << form;
    EXPECT_EQ(id->to_string(), canonical) << form;
  }
}

TEST(Uuid, RefusesNearMisses) {
  const std::string_view misses[] = {
      " 67e55044-10b1-426f-9247-bb680e5fe0c8",
      "67e55044-10b1-426f-9247-bb680e5fe0c8 ",
      "67e55044-10b1-426f-9247-bb680e5fe0c",     // one digit short
      "67e55044-10b1-426f-9247-bb680e5fe0c8a",   // one digit long
      "67e55044-10b1-426f-9247-bb680e5fe0cg",    // not a hex digit
      "67e5504-410b1-426f-9247-bb680e5fe0c8",    // hyphen one place early
      "67e55044_10b1_426f_9247_bb680e5fe0c8",
      "67e5504410b1426f9247bb680e5fe0c-",
      "URN:UUID:67e55044-10b1-426f-9247-bb680e5fe0c8",
      "urn:uuid:67e5504410b1426f9247bb680e5fe0c8",
      "(67e55044-10b1-426f-9247-bb680e5fe0c8)",
      "{67e55044-10b1-426f-9247-bb680e5fe0c8",
      "{67e5504410b1426f9247bb680e5fe0c8}",
      "",
  };
  for (auto miss : misses) EXPECT_FALSE(Uuid::parse(miss)) << miss;
}

TEST(Uuid, NewV4IsRandomWithVersionAndVariant) {
  std::set<std::string> seen;
  for (int i = 0; i < 100; ++i) {
    const auto id = Uuid::new_v4();
    EXPECT_EQ(id.bytes[6] >> 4, 4);
    EXPECT_EQ(id.bytes[8] >> 6, 2);
    seen.insert(id.to_string());
  }
  EXPECT_EQ(seen.size(), 100u);
  EXPECT_TRUE(Uuid::nil().is_nil());
  EXPECT_EQ(Uuid::nil().to_string(), "00000000-0000-0000-0000-000000000000");
}

}  // namespace
}  // namespace orvik::session_log
