// Windows sides of the services: a rename that the system refuses leaves
// the old file whole, and a drive root as the program folder.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "platform/services.h"

namespace folivex {
namespace {

namespace fs = std::filesystem;

const Text kBookName = "\xCD\xBC\xCA\xE9";  // 图书

class Win32FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    root_ = fs::temp_directory_path() / ("folivex-win32-" + std::to_string(stamp));
    fs::create_directories(root_);
    folder_ = root_.string();
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  Text In(const Text& name) const { return folder_ + "\\" + name; }
  fs::path root_;
  Text folder_;
};

// A reader that shares the file with no deleter keeps it from being
// replaced: the new bytes must not land and no temporary may stay.
TEST_F(Win32FilesTest, WriteFileAtomicallyKeepsTheOldFileWhenTheRenameIsRefused) {
  const Text path = In(kBookName + ".txt");
  ASSERT_TRUE(WriteBytesFile(path, TextToBytes("old")));
  {
    StreamFile reader(path, StreamFile::Mode::Read);
    ASSERT_TRUE(reader.IsOpen());
    const FileResult result = WriteFileAtomically(path, TextToBytes("new"));
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.error.empty());
  }
  EXPECT_EQ(ReadBytesFile(path), TextToBytes("old"));
  EXPECT_EQ(ListFiles(folder_), std::vector<Text>{kBookName + ".txt"});
}

TEST(Win32ProgramFolder, ADriveRootLosesItsSeparatorButIsEnteredAsTheRoot) {
  const fs::path saved = fs::current_path();
  SetProgramFolder("C:\\");
  EXPECT_EQ(ProgramFolder(), "C:");
  EXPECT_TRUE(EnterProgramFolder());
  EXPECT_EQ(fs::current_path(), fs::path("C:\\"));
  SetProgramFolder("");
  fs::current_path(saved);
  EXPECT_EQ(PathSeparator(), "\\");
}

}  // namespace
}  // namespace folivex
