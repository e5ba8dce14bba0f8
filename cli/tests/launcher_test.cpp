#include "cli/launcher.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "child_process.hpp"

namespace orvik::cli {
namespace {

namespace fs = std::filesystem;

// A temporary directory with a bin/ of stub emulators that record their arguments and their ignored-signal
// mask in record/<name>, and the probe run there with PATH holding only bin/.
class Launcher : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::path(::testing::TempDir()) / ("launcher_" + std::to_string(::getpid()));
    fs::remove_all(root_);
    fs::create_directories(bin());
    fs::create_directories(record());
  }
  void TearDown() override { fs::remove_all(root_); }

  fs::path bin() const { return root_ / "bin"; }
  fs::path record() const { return root_ / "record"; }

  void stub(const std::string& name, fs::perms perms = fs::perms::owner_all) const {
    std::ofstream(bin() / name) << "#!/bin/sh\n"
                                   "{\n"
                                   "  for a in \"$@\"; do printf 'ARG %s\\n' \"$a\"; done\n"
                                   "  while read -r k v; do [ \"$k\" = SigIgn: ] && echo \"SIGIGN $v\"; done "
                                   "< /proc/self/status\n"
                                   "  echo END\n"
                                   "} > \"$STUB_RECORD/"
                                << name << "\"\n";
    fs::permissions(bin() / name, perms);
  }

  child::Finished launch(const std::string& program, const std::string& path) const {
    return child::run({.path = program,
                       .argv = {program},
                       .env = {"ORVIK_PROBE_LAUNCH=1", "PATH=" + path, "STUB_RECORD=" + record().string()},
                       .cwd = root_.string()});
  }
  child::Finished launch(const std::string& program = CLI_PROBE) const { return launch(program, bin().string()); }

  // The lines a stub recorded; the launcher does not wait for it, so neither does the probe.
  std::vector<std::string> recorded(const std::string& name) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      std::ifstream in(record() / name);
      std::vector<std::string> lines;
      for (std::string line; std::getline(in, line);) lines.push_back(line);
      if (!lines.empty() && lines.back() == "END") return {lines.begin(), lines.end() - 1};
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return {"(nothing recorded)"};
  }

  fs::path root_;
};

// The arguments of a record, and whether SIGPIPE (signal 13) was ignored in the stub.
std::vector<std::string> arguments(const std::vector<std::string>& lines, bool* sigpipe_ignored = nullptr) {
  std::vector<std::string> args;
  for (const auto& line : lines) {
    if (line.starts_with("ARG ")) args.push_back(line.substr(4));
    if (line.starts_with("SIGIGN ") && sigpipe_ignored)
      *sigpipe_ignored = (std::stoull(line.substr(7), nullptr, 16) >> (SIGPIPE - 1)) & 1;
  }
  return args;
}

TEST_F(Launcher, OnlyKittyInstalled) {
  stub("kitty");
  const auto ran = launch();
  EXPECT_EQ(ran.status, 0) << ran.err;
  EXPECT_EQ(ran.out, "Orvik launched in a new kitty window.\n");
  EXPECT_EQ(ran.err, "");
  bool sigpipe_ignored = true;
  EXPECT_EQ(arguments(recorded("kitty"), &sigpipe_ignored),
            (std::vector<std::string>{"-e", fs::canonical(CLI_PROBE).string()}));
  EXPECT_FALSE(sigpipe_ignored) << "the probe ignores SIGPIPE; the emulator must get the default back";
}

TEST_F(Launcher, FirstEmulatorThatStartsWins) {
  stub("gnome-terminal");
  stub("kitty");
  const auto ran = launch();
  EXPECT_EQ(ran.status, 0) << ran.err;
  EXPECT_EQ(ran.out, "Orvik launched in a new gnome-terminal window.\n");
  EXPECT_EQ(arguments(recorded("gnome-terminal")), (std::vector<std::string>{"--", fs::canonical(CLI_PROBE).string()}));
}

TEST_F(Launcher, SkipsAnEmulatorThatCannotStart) {
  stub("xterm", fs::perms::owner_read | fs::perms::owner_write);  // found but not executable
  stub("alacritty");
  const auto ran = launch();
  EXPECT_EQ(ran.out, "Orvik launched in a new alacritty window.\n");
  EXPECT_EQ(arguments(recorded("alacritty")).at(0), "-e");
}

TEST_F(Launcher, NoneFound) {
  const std::string expected =
      "ERROR: no supported terminal emulator found (tried: gnome-terminal, xterm, konsole, alacritty, kitty). "
      "Run `orvik run` directly instead.\n";
  for (const auto& path : {bin().string(), std::string()}) {  // an empty PATH searches the (empty) cwd
    const auto ran = launch(CLI_PROBE, path);
    EXPECT_EQ(ran.status, 1);
    EXPECT_EQ(ran.out, "");
    EXPECT_EQ(ran.err, expected);
  }
}

TEST_F(Launcher, PathWithSpacesStaysOneArgument) {
  const auto dir = root_ / "dir with  spaces";
  fs::create_directories(dir);
  const auto copy = dir / "orvik probe";
  fs::copy_file(CLI_PROBE, copy);
  fs::permissions(copy, fs::perms::owner_all);
  stub("kitty");
  const auto ran = launch(copy.string());
  EXPECT_EQ(ran.status, 0) << ran.err;
  EXPECT_EQ(arguments(recorded("kitty")), (std::vector<std::string>{"-e", copy.string()}));
}

TEST_F(Launcher, ExecutablePathFailures) {
  const auto missing = executable_path((root_ / "no-such-link").c_str());
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().message, "could not determine orvik executable path");
  EXPECT_EQ(missing.error().causes, (std::vector<std::string>{"no /proc/self/exe available. Is /proc mounted?"}));

  const auto not_link = executable_path(bin().c_str());
  ASSERT_FALSE(not_link);
  EXPECT_EQ(not_link.error().message, "could not determine orvik executable path");
  EXPECT_EQ(not_link.error().causes, (std::vector<std::string>{"Invalid argument (os error 22)"}));

  fs::create_symlink("/opt/bad\xff/orvik", root_ / "bad");
  const auto bad = executable_path((root_ / "bad").c_str());
  ASSERT_FALSE(bad);
  EXPECT_EQ(bad.error().message, "executable path is not valid UTF-8");
  EXPECT_TRUE(bad.error().causes.empty());

  const std::string long_target = "/" + std::string(3000, 'x') + "/orvik";  // past the first buffer
  fs::create_symlink(long_target, root_ / "long");
  EXPECT_EQ(executable_path((root_ / "long").c_str()).value_or(""), long_target);
  EXPECT_EQ(executable_path().value_or(""), fs::canonical("/proc/self/exe").string());
}

}  // namespace
}  // namespace orvik::cli
