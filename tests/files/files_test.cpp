// platform/files on what the station meets outside its own files: pipes and
// devices, a full disk, a file where a directory should be.
#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

namespace {

class Files : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::path(testing::TempDir()) /
           ("files_" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string Path(const char* name) const { return (dir_ / name).string(); }

  std::filesystem::path dir_;
};

TEST_F(Files, APipeIsReadAsAStreamOnlyAndUpToTheBound) {
  const std::string fifo = Path("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // A reader of the station's own files must not wait for a writer.
  std::string got;
  const auto collect = [&got](std::string_view piece) { got.append(piece); };
  EXPECT_EQ(ReadFileChunks(fifo, 1000, 16, collect, nullptr), ReadOutcome::kNotRegular);

  struct Case {
    std::size_t maxBytes;
    ReadOutcome outcome;
    std::size_t kept;
  };
  for (const Case c :
       {Case{1000, ReadOutcome::kComplete, 100}, Case{40, ReadOutcome::kCutAtBound, 40}}) {
    got.clear();
    std::thread writer([&fifo] {
      std::FILE* out = std::fopen(fifo.c_str(), "w");
      if (out == nullptr) return;
      std::fputs(std::string(100, 'n').c_str(), out);
      std::fclose(out);
    });
    int error = -1;
    EXPECT_EQ(ReadStreamChunks(fifo, c.maxBytes, 16, collect, &error), c.outcome) << c.maxBytes;
    writer.join();
    EXPECT_EQ(got, std::string(c.kept, 'n'));
    EXPECT_EQ(error, 0);
  }
}

TEST_F(Files, CloseFileReportsWhatDidNotArrive) {
  int error = -1;
  std::FILE* file = OpenFile(Path("log.html"), "w", &error);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(error, 0);
  std::fputs("<br>", file);
  EXPECT_EQ(CloseFile(file), 0);

  // A full disk shows at the close at the latest.
  file = OpenFile("/dev/full", "w", &error);
  ASSERT_NE(file, nullptr);
  std::fputs("<br>", file);
  EXPECT_EQ(CloseFile(file), ENOSPC);

  EXPECT_EQ(OpenFile(Path("missing/log.html"), "w", &error), nullptr);
  EXPECT_EQ(error, ENOENT);
  EXPECT_EQ(ErrnoText("LOG/x/GNSS_000.html", ENOSPC),
            "LOG/x/GNSS_000.html: No space left on device");
}

TEST_F(Files, MakeDirectories) {
  EXPECT_EQ(MakeDirectories(Path("LOG/KELMAR_LOGS_1")), 0);
  EXPECT_TRUE(std::filesystem::is_directory(Path("LOG/KELMAR_LOGS_1")));
  EXPECT_EQ(MakeDirectories(Path("LOG/KELMAR_LOGS_1")), 0) << "standing already is fine";
  std::fclose(std::fopen(Path("file").c_str(), "w"));
  EXPECT_NE(MakeDirectories(Path("file")), 0);
  EXPECT_NE(MakeDirectories(Path("file/below")), 0);
}

}  // namespace
