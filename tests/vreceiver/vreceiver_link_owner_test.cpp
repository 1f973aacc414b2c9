// What qarn-emu finds at COM<n> before it links its receiver there: an
// operator's own link or file is never replaced (qarn-emu refuses, naming the
// entry, and exits non-zero); its own link left behind by a qarn-emu that was
// killed is replaced, and removed again at exit.
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>

#include "vreceiver_lab.h"

namespace {

namespace fs = vrx::fs;

class LinkOwnerTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vreceiver-owner-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    fs::create_directories(dir_ + "/COM");
    link_ = dir_ + "/COM/COM3";
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  bool Spawn(vrx::Child& emu) {
    std::string error;
    const bool started = emu.Spawn({QARN_EMU_PATH, "--port", "0", "--com-dir", dir_ + "/COM"},
                                   {"GNSS_TIME_SCALE=0.05"}, dir_, &error);
    EXPECT_TRUE(started) << error;
    return started;
  }

  // qarn-emu refuses to start; its message names the entry.
  void ExpectRefused(const std::string& why) {
    vrx::Child emu;
    ASSERT_TRUE(Spawn(emu));
    EXPECT_EQ(emu.Wait(), 1) << emu.Output();
    EXPECT_NE(emu.Output().find(link_), std::string::npos) << emu.Output();
    EXPECT_NE(emu.Output().find(why), std::string::npos) << emu.Output();
    EXPECT_EQ(emu.Output().find("listening on port"), std::string::npos) << emu.Output();
  }

  std::string dir_, link_;
};

TEST_F(LinkOwnerTest, OperatorsLinkIsKept) {
  fs::create_symlink("/dev/ttyUSB0", link_);
  ExpectRefused("not made by qarn-emu");
  ASSERT_TRUE(fs::is_symlink(fs::symlink_status(link_)));
  EXPECT_EQ(fs::read_symlink(link_), "/dev/ttyUSB0");
}

TEST_F(LinkOwnerTest, RegularFileIsKept) {
  std::ofstream(link_) << "operator's notes\n";
  ExpectRefused("not a link made by qarn-emu");
  std::ifstream in(link_);
  std::string text;
  std::getline(in, text);
  EXPECT_EQ(text, "operator's notes");
}

TEST_F(LinkOwnerTest, ForgedOwnerFileForAnotherTargetDoesNotMakeTheLinkOurs) {
  fs::create_symlink("/dev/ttyUSB0", link_);
  std::ofstream(link_ + ".qarn-emu") << "qarn-emu 999999999 /dev/pts/77\n";
  ExpectRefused("not made by qarn-emu");
  EXPECT_EQ(fs::read_symlink(link_), "/dev/ttyUSB0");
}

TEST_F(LinkOwnerTest, RunningEmulatorsLinkIsKept) {
  vrx::Child first;
  ASSERT_TRUE(Spawn(first));
  ASSERT_TRUE(first.WaitForOutput("listening on port ", 10)) << first.Output();
  const fs::path target = fs::read_symlink(link_);
  ExpectRefused("in use by qarn-emu");
  EXPECT_EQ(fs::read_symlink(link_), target);
  first.Stop();
  EXPECT_FALSE(fs::exists(fs::symlink_status(link_)));
  EXPECT_FALSE(fs::exists(fs::symlink_status(link_ + ".qarn-emu")));
}

TEST_F(LinkOwnerTest, StaleOwnLinkIsReplacedAndRemovedAtExit) {
  {
    vrx::Child killed;
    ASSERT_TRUE(Spawn(killed));
    ASSERT_TRUE(killed.WaitForOutput("listening on port ", 10)) << killed.Output();
    ::kill(killed.Pid(), SIGKILL);
    killed.Wait();
  }
  ASSERT_TRUE(fs::is_symlink(fs::symlink_status(link_))) << "a killed qarn-emu leaves its link";
  vrx::Child emu;
  ASSERT_TRUE(Spawn(emu));
  ASSERT_TRUE(emu.WaitForOutput("listening on port ", 10)) << emu.Output();
  const int fd = ::open(link_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  EXPECT_TRUE(fd >= 0 && ::isatty(fd)) << link_;
  if (fd >= 0) ::close(fd);
  emu.Stop();
  EXPECT_FALSE(fs::exists(fs::symlink_status(link_)));
  EXPECT_FALSE(fs::exists(fs::symlink_status(link_ + ".qarn-emu")));
  EXPECT_TRUE(fs::is_empty(dir_ + "/COM"));
}

}  // namespace
