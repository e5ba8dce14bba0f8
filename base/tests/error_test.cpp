#include "base/error.hpp"

#include <gtest/gtest.h>

#include <cerrno>

namespace orvik {
namespace {

TEST(OsError, CarriesTheSystemsTextAndTheNumber) {
  EXPECT_EQ(os_error_text(ENOENT), "No such file or directory (os error 2)");
  EXPECT_EQ(os_error(EBADF).message, "Bad file descriptor (os error 9)");
  EXPECT_TRUE(os_error(EBADF).causes.empty());
  errno = EACCES;
  EXPECT_EQ(last_os_error().error().message, "Permission denied (os error 13)");
}

}  // namespace
}  // namespace orvik
