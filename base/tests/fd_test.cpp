#include "base/fd.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace orvik::base {
namespace {

struct Pipe {
  Fd read_end, write_end;
  Pipe() {
    int fds[2];
    EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    read_end = Fd(fds[0]);
    write_end = Fd(fds[1]);
  }
};

TEST(Fd, ClosesOnceAndMovesOwnership) {
  Pipe p;
  const int fd = p.write_end.fd;
  Fd moved(std::move(p.write_end));
  EXPECT_EQ(p.write_end.fd, -1);
  EXPECT_EQ(moved.fd, fd);
  moved = Fd();
  EXPECT_EQ(::fcntl(fd, F_GETFD), -1);  // closed by the assignment
  char c;
  EXPECT_EQ(read_some(p.read_end.fd, &c, 1), 0u);  // and so the pipe is at its end
}

// A non-blocking pipe fills long before the text is written: write_all waits for the reader, it drops nothing.
TEST(WriteAll, WaitsOnANonBlockingDescriptorUntilAllIsWritten) {
  Pipe p;
  ASSERT_EQ(::fcntl(p.write_end.fd, F_SETFL, O_NONBLOCK), 0);
  const std::string text(1 << 20, 'x');
  std::string got;
  std::thread reader([&] {
    char buf[4096];
    while (auto n = read_some(p.read_end.fd, buf, sizeof buf)) {
      if (*n == 0) break;
      got.append(buf, *n);
    }
  });
  EXPECT_TRUE(write_all(p.write_end.fd, text));
  p.write_end.reset();
  reader.join();
  EXPECT_EQ(got, text);
}

TEST(WriteAll, FailsWithTheSystemsText) {
  const int ro = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  EXPECT_EQ(write_all(ro, "x").error().message, "Bad file descriptor (os error 9)");
  ::close(ro);
  char c;
  EXPECT_EQ(read_some(ro, &c, 1).error(), EBADF);
}

}  // namespace
}  // namespace orvik::base
