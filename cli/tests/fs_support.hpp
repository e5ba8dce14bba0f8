#pragma once

// Real files for the watcher tests: a temporary folder, appends that are single writes, a stderr capture.

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

namespace orvik::cli::testing {

struct TempDir {
  std::filesystem::path path;

  TempDir() {
    std::string name = (std::filesystem::temp_directory_path() / "orvik-XXXXXX").string();
    if (::mkdtemp(name.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
    path = name;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
};

// One write(2), so that the watcher sees the bytes arrive together.
inline void append(const std::filesystem::path& path, std::string_view bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  ::close(fd);
}

inline std::string read_all(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// Sends fd 2 to a file for the lifetime of the object; text() reads what has been written so far.
class StderrCapture {
 public:
  StderrCapture() : file_(dir_.path / "stderr") {
    ::fflush(stderr);
    saved_ = ::dup(2);
    const int fd = ::open(file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ::dup2(fd, 2);
    ::close(fd);
  }
  ~StderrCapture() { restore(); }
  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;

  std::string text() const { return read_all(file_); }

  void restore() {
    if (saved_ < 0) return;
    ::fflush(stderr);
    ::dup2(saved_, 2);
    ::close(saved_);
    saved_ = -1;
  }

 private:
  TempDir dir_;
  std::filesystem::path file_;
  int saved_ = -1;
};

}  // namespace orvik::cli::testing
