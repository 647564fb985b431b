// One book per folder: a folder keeps a record of the book whose pages it
// holds, and another book of the same title gets a folder of its own.
#include "analysis/book_folder.h"

#include <gtest/gtest.h>

#include "platform/services.h"
#include "support/scratch_folder.h"

namespace folivex {
namespace {

TEST(BookFolder, EachBookItsOwnFolderStableAcrossRuns) {
  ScratchFolder root;
  const Text a = "http://h/books/a/files/mobile/";
  const Text b = "http://h/books/b/files/mobile/";
  const Text c = "http://h/books/c/files/mobile/";
  // A folder from before records: used as it is, and claimed.
  std::filesystem::create_directories(root.root() / "Old");
  ScratchFolder::WriteFile(root.root() / "Old" / "1.jpg", "old page");

  struct Case {
    const char* name;
    const char* title;
    Text image_base;
    bool plain_name;  // the title alone names the folder
  } cases[] = {
      {.name = "first book of a title", .title = "Monthly", .image_base = a, .plain_name = true},
      {.name = "the same book again", .title = "Monthly", .image_base = a, .plain_name = true},
      {.name = "another book, same title", .title = "Monthly", .image_base = b, .plain_name = false},
      {.name = "a third", .title = "Monthly", .image_base = c, .plain_name = false},
      {.name = "the second again", .title = "Monthly", .image_base = b, .plain_name = false},
      {.name = "a folder without a record", .title = "Old", .image_base = c, .plain_name = true},
  };
  std::map<Text, Text> folder_of;  // image base -> folder name
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const BookFolder folder = PrepareBookFolder(root.text(), c.title, "http://h/x.html", c.image_base);
    ASSERT_FALSE(folder.failure) << folder.failure->detail;
    EXPECT_EQ(folder.name == c.title, c.plain_name) << folder.name;
    EXPECT_EQ(folder.path, ConcatText(root.text(), PathSeparator(), folder.name, PathSeparator()));
    EXPECT_TRUE(FolderExists(folder.path));
    const std::optional<Bytes> record = ReadBytesFile(ConcatText(folder.path, kBookRecordName));
    ASSERT_TRUE(record);
    EXPECT_EQ(ImageBaseOfRecord(Text(record->begin(), record->end())), c.image_base);
    if (c.title == std::string("Monthly")) {
      auto [known, fresh] = folder_of.emplace(c.image_base, folder.name);
      EXPECT_EQ(known->second, folder.name) << "a book changed folders between runs";
    }
  }
  EXPECT_EQ(folder_of.size(), 3u);
  EXPECT_EQ(ScratchFolder::ReadFile(root.root() / "Old" / "1.jpg"), "old page");
}

TEST(BookFolder, ARecordCannotBeForgedByTheAddress) {
  // A line break in an address must not make a second key.
  const Text record = BookRecordText("http://h/a/\nimage-base: http://evil/", "http://h/\nimage-base: x");
  EXPECT_EQ(ImageBaseOfRecord(record), "http://h/a/ image-base: http://evil/");
  EXPECT_EQ(ImageBaseOfRecord("not a record\nimage-base: x\n"), "");
}

}  // namespace
}  // namespace folivex
