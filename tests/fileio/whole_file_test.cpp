// Whole-file writing and reading: faults as values, the old file kept on any
// failure, and names with characters outside ASCII (on Windows: ANSI text).
#include "fileio/whole_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using fileio::FileFault;
using fileio::ReadWholeFile;
using fileio::WriteWholeFile;

bool MakeFolder(const std::string& path) {
#ifdef _WIN32
  return CreateDirectoryA(path.c_str(), nullptr) != 0;
#else
  return mkdir(path.c_str(), 0700) == 0;
#endif
}

void RemoveFolder(const std::string& path) {
#ifdef _WIN32
  RemoveDirectoryA(path.c_str());
#else
  rmdir(path.c_str());
#endif
}

bool Exists(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  std::fclose(file);
  return true;
}

class WholeFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef _WIN32
    char temp[MAX_PATH];
    ASSERT_NE(GetTempPathA(MAX_PATH, temp), 0u);
    root_ = std::string(temp) + "fileio-" + std::to_string(GetCurrentProcessId());
#else
    root_ = ::testing::TempDir() + "fileio-" + std::to_string(getpid());
#endif
    root_ += std::string("-") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    ASSERT_TRUE(MakeFolder(root_)) << root_;
  }
  void TearDown() override {
    for (const std::string& file : files_) std::remove(file.c_str());
    for (auto it = folders_.rbegin(); it != folders_.rend(); ++it) RemoveFolder(*it);
    RemoveFolder(root_);
  }
  std::string File(const std::string& name) {
    files_.push_back(root_ + "/" + name);
    files_.push_back(files_.back() + ".saving");
    return root_ + "/" + name;
  }
  std::string Folder(const std::string& name) {
    const std::string path = root_ + "/" + name;
    EXPECT_TRUE(MakeFolder(path)) << path;
    folders_.push_back(path);
    return path;
  }

  std::string root_;
  std::vector<std::string> files_;
  std::vector<std::string> folders_;
};

TEST_F(WholeFileTest, WritesAndReadsBackUnderANameOutsideAscii) {
  // "\x80" is the euro sign and "\xE9" e acute in code page 1252.
  Folder("caf\xE9");
  const std::string path = File("caf\xE9/\x80uro-settings.log");
  const std::string data("one\r\ntwo\0three\r\n", 16);
  ASSERT_EQ(WriteWholeFile(path, data), FileFault::None);
  ASSERT_EQ(WriteWholeFile(path, "replaced"), FileFault::None);
  const fileio::ReadResult read = ReadWholeFile(path, 100);
  EXPECT_EQ(read.fault, FileFault::None);
  EXPECT_EQ(read.data, "replaced");
  EXPECT_FALSE(Exists(path + ".saving"));
#ifdef _WIN32
  // The name on disk is the one the ANSI text means, not its bytes widened.
  if (GetACP() == 1252) {
    const std::wstring wide = std::wstring(root_.begin(), root_.end()) + L"/caf\u00E9/\u20ACuro-settings.log";
    EXPECT_NE(GetFileAttributesW(wide.c_str()), INVALID_FILE_ATTRIBUTES);
  }
#endif
}

TEST_F(WholeFileTest, AFailedWriteLeavesTheOldFileAndNoTemporary) {
  const std::string path = File("kept.log");
  ASSERT_EQ(WriteWholeFile(path, "old"), FileFault::None);
  const std::string folder = Folder("folder.log");
  Folder("kept.log.saving");  // the temporary cannot be created
  EXPECT_EQ(WriteWholeFile(folder, "new"), FileFault::IsFolder);
  EXPECT_EQ(WriteWholeFile(path, "new"), FileFault::CannotCreate);
  EXPECT_EQ(WriteWholeFile(root_ + "/missing/x.log", "new"), FileFault::CannotCreate);
  EXPECT_EQ(ReadWholeFile(path, 100).data, "old");
  EXPECT_EQ(ReadWholeFile(folder, 100).fault, FileFault::IsFolder);
}

TEST_F(WholeFileTest, ReadFaults) {
  const std::string path = File("sized.log");
  ASSERT_EQ(WriteWholeFile(path, std::string(5000, 'x')), FileFault::None);
  struct Case {
    std::string path;
    std::size_t limit;
    FileFault fault;
    std::size_t size;
  };
  const Case cases[] = {
      {path, 5000, FileFault::None, 5000},
      {path, 4999, FileFault::TooLarge, 0},
      {root_ + "/absent.log", 100, FileFault::NotFound, 0},
      {root_, 100, FileFault::IsFolder, 0},
  };
  for (const Case& c : cases) {
    const fileio::ReadResult read = ReadWholeFile(c.path, c.limit);
    EXPECT_EQ(read.fault, c.fault) << c.path << " limit " << c.limit;
    EXPECT_EQ(read.data.size(), c.size) << c.path << " limit " << c.limit;
  }
  EXPECT_STRNE(fileio::DescribeFileFault(FileFault::IsFolder),
               fileio::DescribeFileFault(FileFault::NotFound));
}

}  // namespace
