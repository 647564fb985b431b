// The run-time services as both systems offer them: the in-memory controls
// and their dispatch, files and folders with Chinese names, messages, the
// clipboard override and threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/services.h"

namespace folivex {
namespace {

namespace fs = std::filesystem;

// Code page 936 spellings used below.
const Text kBookName = "\xCD\xBC\xCA\xE9";  // 图书
// 乗: its second byte is 0x5C, the byte of "\".
const Text kBackslashTrail = "\x81\x5C";
const Text kInfoTitle = "\xD0\xC5\xCF\xA2\xA3\xBA";  // 信息：

Bytes SmallJpeg() {
  return {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, 0x01, 0x01, 0x00,
          0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0xFF, 0xD9};
}

class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    root_ = fs::temp_directory_path() /
            ("folivex-services-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    fs::create_directories(root_);
    folder_ = root_.string();
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  Text In(const Text& name) const { return folder_ + PathSeparator() + name; }
  // The Unicode name as the file system holds it (UTF-8 on Linux, UTF-16 on
  // Windows).
  fs::path Native(const std::u8string& name) const { return root_ / fs::path(name); }

  fs::path root_;
  Text folder_;
};

TEST_F(FilesTest, ChineseNamesRoundTripUnderTheirUnicodeNames) {
  struct Case {
    const char* name;
    Text file;
    std::u8string unicode;
  } cases[] = {
      {"plain", "1.jpg", u8"1.jpg"},
      {"Chinese", kBookName + ".jpg", u8"图书.jpg"},
      {"second byte is a backslash byte", kBackslashTrail + ".jpg", u8"乗.jpg"},
  };
  const Bytes content = SmallJpeg();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(WriteBytesFile(In(c.file), content));
    EXPECT_TRUE(fs::is_regular_file(Native(c.unicode)));
    EXPECT_EQ(fs::file_size(Native(c.unicode)), content.size());
    EXPECT_TRUE(FileExists(In(c.file)));
    EXPECT_EQ(ReadBytesFile(In(c.file)), content);
  }
  std::vector<Text> expected;
  for (const Case& c : cases) expected.push_back(c.file);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(ListFiles(folder_), expected);
  EXPECT_EQ(ListFiles(folder_ + PathSeparator()), expected);
}

TEST_F(FilesTest, CreateFolderMakesOneLevel) {
  const Text sep = PathSeparator();
  struct Case {
    const char* name;
    Text path;
    bool created;
  } cases[] = {
      {"new", In("a"), true},
      {"exists", In("a"), false},
      {"trailing separator", In(kBookName) + sep, true},
      {"exists, trailing separator", In(kBookName) + sep, false},
      {"backslash byte inside a character", In(kBackslashTrail) + sep, true},
      {"parent missing", In("missing") + sep + "child", false},
      {"empty", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CreateFolder(c.path), c.created);
  }
  EXPECT_TRUE(fs::is_directory(Native(u8"图书")));
  EXPECT_TRUE(fs::is_directory(Native(u8"乗")));
  EXPECT_TRUE(FolderExists(In(kBackslashTrail)));
  EXPECT_FALSE(FolderExists(In("missing")));
  EXPECT_FALSE(fs::exists(Native(u8"missing")));
}

TEST_F(FilesTest, WriteBytesFileCreatesOrEmptiesButNeverCreatesFolders) {
  ASSERT_TRUE(CreateFolder(In("folder")));
  ASSERT_TRUE(WriteBytesFile(In("old.jpg"), Bytes(100000, 7)));
  struct Case {
    const char* name;
    Text path;
    Bytes bytes;
    bool ok;
  } cases[] = {
      {"empty path", "", SmallJpeg(), false},
      {"missing folder", In("nowhere") + PathSeparator() + "1.jpg", SmallJpeg(), false},
      {"path is a folder", In("folder"), SmallJpeg(), false},
      {"new file", In("new.jpg"), SmallJpeg(), true},
      {"empty bytes empty an existing file", In("old.jpg"), {}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(WriteBytesFile(c.path, c.bytes), c.ok);
    if (c.ok) {
      EXPECT_EQ(ReadBytesFile(c.path), c.bytes);
    }
  }
  EXPECT_FALSE(FolderExists(In("nowhere")));
  EXPECT_TRUE(FolderExists(In("folder")));
}

TEST_F(FilesTest, WriteBytesFileFailsWhileAnotherWriterHoldsTheFile) {
  const Text path = In(kBookName + ".jpg");
  const Bytes first = TextToBytes("first writer");
  StreamFile holder(path, StreamFile::Mode::Write);
  ASSERT_TRUE(holder.IsOpen());
  ASSERT_TRUE(holder.Write(first.data(), first.size()));
  // The second writer fails and, above all, does not empty the file.
  EXPECT_FALSE(WriteBytesFile(path, SmallJpeg()));
  StreamFile second(path, StreamFile::Mode::Write);
  EXPECT_FALSE(second.IsOpen());
  ASSERT_TRUE(holder.Close());
  EXPECT_EQ(ReadBytesFile(path), first);
  // Once released, the next writer gets it.
  EXPECT_TRUE(WriteBytesFile(path, SmallJpeg()));
  EXPECT_EQ(ReadBytesFile(path), SmallJpeg());
}

TEST_F(FilesTest, WriteFileAtomicallyReplacesTheFileWhole) {
  const Text path = In(kBookName + ".txt");
  ASSERT_TRUE(WriteBytesFile(path, TextToBytes("old")));
  const FileResult result = WriteFileAtomically(path, TextToBytes("new content"));
  EXPECT_TRUE(result.ok) << result.error;
  EXPECT_TRUE(result.error.empty());
  EXPECT_EQ(ReadBytesFile(path), TextToBytes("new content"));
  // No temporary file stays behind.
  EXPECT_EQ(ListFiles(folder_), std::vector<Text>{kBookName + ".txt"});
}

TEST_F(FilesTest, WriteFileAtomicallyFailsCleanly) {
  ASSERT_TRUE(CreateFolder(In("target")));
  ASSERT_TRUE(WriteBytesFile(In("target") + PathSeparator() + "inside", TextToBytes("kept")));
  ASSERT_TRUE(WriteBytesFile(In("keep.txt"), TextToBytes("keep")));
  struct Case {
    const char* name;
    Text path;
  } cases[] = {
      {"target is a folder", In("target")},
      {"folder missing", In("nowhere") + PathSeparator() + "a.txt"},
      {"empty path", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const FileResult result = WriteFileAtomically(c.path, TextToBytes("new"));
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.error.empty());
  }
  EXPECT_TRUE(FolderExists(In("target")));
  EXPECT_EQ(ReadBytesFile(In("target") + PathSeparator() + "inside"), TextToBytes("kept"));
  // Nothing but the file that was there before: no temporary left over.
  EXPECT_EQ(ListFiles(folder_), std::vector<Text>{"keep.txt"});
}

TEST_F(FilesTest, ListFilesNamesOnlyPlainFiles) {
  ASSERT_TRUE(CreateFolder(In("sub")));
  ASSERT_TRUE(WriteBytesFile(In("sub") + PathSeparator() + "deep.jpg", SmallJpeg()));
  ASSERT_TRUE(WriteBytesFile(In("2.jpg"), {}));
  ASSERT_TRUE(WriteBytesFile(In("1.jpg"), {}));
  EXPECT_EQ(ListFiles(folder_), (std::vector<Text>{"1.jpg", "2.jpg"}));
  EXPECT_TRUE(ListFiles(In("nowhere")).empty());
  EXPECT_FALSE(FileExists(In("sub")));
  EXPECT_TRUE(RemoveFile(In("1.jpg")));
  EXPECT_FALSE(RemoveFile(In("1.jpg")));
  EXPECT_EQ(ListFiles(folder_), std::vector<Text>{"2.jpg"});
  EXPECT_FALSE(ReadBytesFile(In("1.jpg")).has_value());
  EXPECT_FALSE(ReadBytesFile(In("sub")).has_value());
}

TEST_F(FilesTest, StreamFileWritesAndReadsBack) {
  const Text path = In(kBookName + ".bin");
  Bytes content(300000);
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<std::uint8_t>(i * 31);
  {
    StreamFile writer(path, StreamFile::Mode::Write);
    ASSERT_TRUE(writer.IsOpen());
    StreamFile moved = std::move(writer);
    EXPECT_FALSE(writer.IsOpen());
    ASSERT_TRUE(moved.Write(content.data(), content.size() / 2));
    ASSERT_TRUE(moved.Write(content.data() + content.size() / 2, content.size() - content.size() / 2));
    EXPECT_TRUE(moved.Close());
    EXPECT_FALSE(moved.IsOpen());
  }
  StreamFile reader(path, StreamFile::Mode::Read);
  ASSERT_TRUE(reader.IsOpen());
  Bytes read;
  std::uint8_t buffer[4096];
  while (const std::size_t got = reader.Read(buffer, sizeof buffer)) read.insert(read.end(), buffer, buffer + got);
  EXPECT_EQ(read, content);
  EXPECT_TRUE(reader.Close());
  EXPECT_FALSE(StreamFile(In("missing"), StreamFile::Mode::Read).IsOpen());
  EXPECT_FALSE(StreamFile(In("nowhere") + PathSeparator() + "x", StreamFile::Mode::Write).IsOpen());
}

// --- Temporary files ----------------------------------------------------------

TEST(TemporaryNames, AreReadBackByTheParserAndNothingElseIs) {
  const Text made = TemporaryFileName("12.jpg", 7);
  ASSERT_EQ(made.rfind(".12.jpg.part-" + std::to_string(ProcessId()) + "-", 0), 0u) << made;
  const std::optional<TemporaryName> parts = ParseTemporaryFileName(made);
  ASSERT_TRUE(parts.has_value());
  EXPECT_EQ(parts->pid, ProcessId());
  EXPECT_EQ(parts->run.size(), 8u);
  EXPECT_EQ(parts->counter, 7u);
  EXPECT_TRUE(IsThisRunsTemporary(*parts));

  // The same pid with another run's digits: a container's earlier run.
  const Text earlier = ".12.jpg.part-" + std::to_string(ProcessId()) + "-" +
                       (parts->run == "0badbeef" ? "feedbead" : "0badbeef") + "-7";
  struct Case {
    const char* name;
    Text file;
    std::optional<TemporaryName> parts;
  } cases[] = {
      {"another process", ".3.jpg.part-41-0123abcd-5", TemporaryName{41, "0123abcd", 5}},
      {"an older version's name", ".3.jpg.part-999999-0", TemporaryName{999999, "", 0}},
      {"a name holding the marker", ".a.part-1.pdf.part-2-00000000-3", TemporaryName{2, "00000000", 3}},
      {"a page", "3.jpg", std::nullopt},
      {"no leading dot", "3.jpg.part-1-0123abcd-5", std::nullopt},
      {"only the marker", ".part-1-0123abcd-5", std::nullopt},
      {"upper-case digits of the run", ".3.jpg.part-1-0123ABCD-5", std::nullopt},
      {"run of 7 digits", ".3.jpg.part-1-0123abc-5", std::nullopt},
      {"no counter", ".3.jpg.part-1-0123abcd-", std::nullopt},
      {"something after the counter", ".3.jpg.part-1-0123abcd-5x", std::nullopt},
      {"pid too large", ".3.jpg.part-99999999999-0", std::nullopt},
      {"counter too large", ".3.jpg.part-1-99999999999", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ParseTemporaryFileName(c.file), c.parts);
    if (c.parts) {
      EXPECT_FALSE(IsThisRunsTemporary(*c.parts));
    }
  }
  ASSERT_TRUE(ParseTemporaryFileName(earlier).has_value());
  EXPECT_FALSE(IsThisRunsTemporary(*ParseTemporaryFileName(earlier)));
}

TEST(TemporaryNames, KeepOnlyTheStartOfALongNameWholeCharactersOnly) {
  Text long_name = "a";
  for (int i = 0; i < 150; ++i) long_name += "\xB4\xBA";  // 春
  const Text made = TemporaryFileName(long_name + ".pdf", 1);
  // 40 bytes at most: "a" and 19 characters, never half of the 20th.
  Text expected_start = ".a";
  for (int i = 0; i < 19; ++i) expected_start += "\xB4\xBA";
  EXPECT_EQ(made.substr(0, made.find(".part-")), expected_start);
  EXPECT_TRUE(ParseTemporaryFileName(made).has_value());
}

TEST(FolderOfPath, EndsAtTheLastSeparatorThatIsACharacter) {
  const Text sep = PathSeparator();
  struct Case {
    const char* name;
    Text path, folder;
  } cases[] = {
      {"bare name", "book.pdf", ""},
      {"one folder", "out" + sep + "book.pdf", "out" + sep},
      {"two folders", "a" + sep + "b" + sep + "1.jpg", "a" + sep + "b" + sep},
      {"name ending in a backslash byte", "out" + sep + kBackslashTrail, "out" + sep},
      {"folder ending in a backslash byte", kBackslashTrail + sep + "1.jpg", kBackslashTrail + sep},
      // 0x80 stands alone: the separator after it is one.
      {"euro sign before the separator", "\x80" + sep + "1.jpg", "\x80" + sep},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FolderOfPath(c.path), c.folder);
  }
}

TEST_F(FilesTest, TemporariesAreNewFilesUnderNamesNobodyTook) {
  const Text target = In(kBookName + ".pdf");
  TemporaryFile first = CreateTemporaryBeside(target);
  ASSERT_TRUE(first.file.IsOpen()) << first.error;
  EXPECT_EQ(FolderOfPath(first.path), folder_ + PathSeparator());
  const std::optional<TemporaryName> parts = ParseTemporaryFileName(first.path.substr(folder_.size() + 1));
  ASSERT_TRUE(parts.has_value()) << first.path;
  EXPECT_TRUE(IsThisRunsTemporary(*parts));
  ASSERT_TRUE(first.file.Close());
  ASSERT_TRUE(RemoveFile(first.path));

  // The next names are taken by files of someone else: they are passed
  // over and left as they are.
  std::vector<Text> taken;
  for (std::uint32_t n = parts->counter + 1; n <= parts->counter + 5; ++n) {
    taken.push_back(In(TemporaryFileName(kBookName + ".pdf", n)));
    ASSERT_TRUE(WriteBytesFile(taken.back(), TextToBytes("someone else's")));
  }
  TemporaryFile second = CreateTemporaryBeside(target);
  ASSERT_TRUE(second.file.IsOpen()) << second.error;
  EXPECT_EQ(std::count(taken.begin(), taken.end(), second.path), 0);
  ASSERT_TRUE(second.file.Write("mine", 4));
  ASSERT_TRUE(second.file.Close());
  for (const Text& path : taken) EXPECT_EQ(ReadBytesFile(path), TextToBytes("someone else's"));
  EXPECT_EQ(ReadBytesFile(second.path), TextToBytes("mine"));

  TemporaryFile nowhere = CreateTemporaryBeside(In("missing") + PathSeparator() + "1.jpg");
  EXPECT_FALSE(nowhere.file.IsOpen());
  EXPECT_FALSE(nowhere.error.empty());
}

// What another run's cleaning does: remove a temporary unless its writer
// still holds it.
TEST_F(FilesTest, ATemporaryIsRemovedOnlyOnceItsWriterLetsGo) {
  TemporaryFile temporary = CreateTemporaryBeside(In("1.jpg"));
  ASSERT_TRUE(temporary.file.IsOpen()) << temporary.error;
  ASSERT_TRUE(temporary.file.Write("half", 4));
  EXPECT_FALSE(RemoveFileNobodyWrites(temporary.path));
  EXPECT_TRUE(FileExists(temporary.path));
  ASSERT_TRUE(temporary.file.Close());
  EXPECT_TRUE(RemoveFileNobodyWrites(temporary.path));
  EXPECT_FALSE(FileExists(temporary.path));
  EXPECT_FALSE(RemoveFileNobodyWrites(In("missing")));
  // A folder under a temporary's name is nobody's temporary.
  ASSERT_TRUE(CreateFolder(In(".2.jpg.part-999999-0")));
  EXPECT_FALSE(RemoveFileNobodyWrites(In(".2.jpg.part-999999-0")));
  EXPECT_TRUE(FolderExists(In(".2.jpg.part-999999-0")));
}

TEST_F(FilesTest, LeftoversOfEndedRunsGoAndTheFilesOfLiveRunsStay) {
  const std::string self = std::to_string(ProcessId());
  const Text mine = TemporaryFileName("4.jpg", 123456);
  const std::string my_run = ParseTemporaryFileName(mine)->run;
  const std::string other_run = my_run == "0badbeef" ? "feedbead" : "0badbeef";
  struct Case {
    const char* name;
    Text file;
    bool removed;
  } cases[] = {
      {"another pid's, nobody writing", ".1.jpg.part-" + std::to_string(ProcessId() + 1) + "-0123abcd-0", true},
      {"an older version's", ".2.jpg.part-999999-0", true},
      {"an earlier run with this pid (a container)", ".3.jpg.part-" + self + "-" + other_run + "-0", true},
      {"a PDF's", ".book.pdf.part-77-0123abcd-9", true},
      {"this run's own", mine, false},
      {"a page", "5.jpg", false},
      {"the user's file", "notes.txt", false},
      {"a hidden file", ".hidden", false},
      {"no leading dot", "6.jpg.part-77-0123abcd-0", false},
  };
  for (const Case& c : cases) ASSERT_TRUE(WriteBytesFile(In(c.file), TextToBytes("x")));
  // Another run, alive, writing page 7.
  const Text live = In(".7.jpg.part-" + std::to_string(ProcessId() + 2) + "-0123abcd-0");
  StreamFile writer(live, StreamFile::Mode::Write);
  ASSERT_TRUE(writer.IsOpen());

  RemoveLeftoverTemporaries(folder_);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FileExists(In(c.file)), !c.removed);
  }
  EXPECT_TRUE(FileExists(live));
  ASSERT_TRUE(writer.Close());
  // Once that run is gone its temporary is a leftover too. A trailing
  // separator names the same folder.
  RemoveLeftoverTemporaries(folder_ + PathSeparator());
  EXPECT_FALSE(FileExists(live));
  EXPECT_TRUE(FileExists(In(mine)));
}

// A file streamed into a temporary and renamed over its target, as the PDF
// is written.
FileResult WriteThroughTemporary(const Text& path, const Bytes& bytes) {
  TemporaryFile temporary = CreateTemporaryBeside(path);
  if (!temporary.file.IsOpen()) return {false, temporary.error};
  if (!temporary.file.Write(bytes.data(), bytes.size())) return {false, "cannot write the temporary"};
  return ReplaceWithTemporary(temporary, path);
}

TEST_F(FilesTest, ATemporaryReplacesItsTargetOrLeavesNoTrace) {
  ASSERT_TRUE(WriteBytesFile(In("book.pdf"), TextToBytes("old")));
  const FileResult replaced = WriteThroughTemporary(In("book.pdf"), TextToBytes("new"));
  EXPECT_TRUE(replaced.ok) << replaced.error;
  EXPECT_EQ(ReadBytesFile(In("book.pdf")), TextToBytes("new"));

  // A folder where the file goes: the rename fails and the temporary goes.
  ASSERT_TRUE(CreateFolder(In("folder.pdf")));
  TemporaryFile temporary = CreateTemporaryBeside(In("folder.pdf"));
  ASSERT_TRUE(temporary.file.IsOpen()) << temporary.error;
  ASSERT_TRUE(temporary.file.Write("new", 3));
  const FileResult refused = ReplaceWithTemporary(temporary, In("folder.pdf"));
  EXPECT_FALSE(refused.ok);
  EXPECT_FALSE(refused.error.empty());
  EXPECT_FALSE(temporary.file.IsOpen());
  EXPECT_TRUE(FolderExists(In("folder.pdf")));
  EXPECT_EQ(ListFiles(folder_), std::vector<Text>{"book.pdf"});
}

// Another run cleans the folder over and over while this one writes: no
// write may fail or be lost, whichever instant the cleaning hits. Both
// systems hold the temporary (a lock on Linux, a handle shared with nobody
// on Windows) from its creation until it has been renamed over the page.
TEST_F(FilesTest, WritesSucceedWhileAnotherRunCleansTheFolder) {
  struct Writer {
    const char* name;
    FileResult (*write)(const Text& path, const Bytes& bytes);
    int writes;
  } writers[] = {
      {"a page written at once", WriteFileAtomically, 200},
      // Each of these is flushed to the device: fewer of them.
      {"a file streamed into a temporary", WriteThroughTemporary, 50},
  };
  std::atomic<bool> stop{false};
  std::thread cleaner([&] {
    while (!stop) {
      for (const Text& name : ListFiles(folder_)) {
        if (ParseTemporaryFileName(name)) RemoveFileNobodyWrites(In(name));
      }
    }
  });
  int failed = 0;
  for (const Writer& writer : writers) {
    SCOPED_TRACE(writer.name);
    for (int i = 0; i < writer.writes; ++i) {
      const Bytes bytes =
          TextToBytes("page " + std::to_string(i) + std::string(static_cast<std::size_t>(i) * 97, 'x'));
      const Text path = In(std::to_string(i % 7) + ".jpg");
      const FileResult written = writer.write(path, bytes);
      if (!written.ok) {
        ++failed;
        ADD_FAILURE() << written.error;
      } else if (ReadBytesFile(path) != bytes) {
        ++failed;
        ADD_FAILURE() << "write " << i << " was lost";
      }
    }
  }
  stop = true;
  cleaner.join();
  EXPECT_EQ(failed, 0);
  EXPECT_EQ(ListFiles(folder_).size(), 7u);
}

// --- Program folder ---------------------------------------------------------------

class ProgramFolderTest : public FilesTest {
 protected:
  void SetUp() override {
    FilesTest::SetUp();
    saved_cwd_ = fs::current_path();
  }
  void TearDown() override {
    SetProgramFolder("");
    fs::current_path(saved_cwd_);
    FilesTest::TearDown();
  }
  fs::path saved_cwd_;
};

TEST_F(ProgramFolderTest, IsTheExecutablesFolderWithoutTrailingSeparator) {
  const Text folder = ProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_NE(folder.back(), PathSeparator().back());
  EXPECT_TRUE(FolderExists(folder));
}

TEST_F(ProgramFolderTest, CanBeNamedAndEntered) {
  const Text executable_folder = ProgramFolder();
  ASSERT_TRUE(CreateFolder(In(kBookName)));
  SetProgramFolder(In(kBookName) + PathSeparator());
  EXPECT_EQ(ProgramFolder(), In(kBookName));
  ASSERT_TRUE(EnterProgramFolder());
  EXPECT_TRUE(fs::equivalent(fs::current_path(), Native(u8"图书")));
  // A relative name now lands in the program folder, written in place or
  // through a temporary renamed over it.
  ASSERT_TRUE(WriteBytesFile("1.jpg", SmallJpeg()));
  EXPECT_TRUE(fs::exists(Native(u8"图书") / "1.jpg"));
  const FileResult written = WriteFileAtomically("2.jpg", SmallJpeg());
  EXPECT_TRUE(written.ok) << written.error;
  EXPECT_EQ(ReadBytesFile(In(kBookName) + PathSeparator() + "2.jpg"), SmallJpeg());
  SetProgramFolder("");
  EXPECT_EQ(ProgramFolder(), executable_folder);
}

// --- Messages, clipboard, threads ------------------------------------------------------

class HookTest : public ::testing::Test {
 protected:
  void TearDown() override {
    SetMessageHook(nullptr);
    SetClipboardOverride(std::nullopt);
  }
};

TEST_F(HookTest, ShowMessageGoesToTheHookOnTheCallingThread) {
  struct Seen {
    Text text, title;
    std::thread::id thread;
  };
  std::vector<Seen> seen;
  SetMessageHook([&](const Text& text, const Text& title) {
    seen.push_back({text, title, std::this_thread::get_id()});
  });
  const Text done = "\xCF\xC2\xD4\xD8\xCD\xEA\xB3\xC9\xA3\xA1";  // 下载完成！
  ShowMessage(done);
  ShowMessage("x", 0, Text("Folivex"));
  std::thread worker([&] { ShowMessage(done, 0); });
  const std::thread::id worker_id = worker.get_id();
  worker.join();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].text, done);
  EXPECT_EQ(seen[0].title, kInfoTitle);
  EXPECT_EQ(seen[0].thread, std::this_thread::get_id());
  EXPECT_EQ(seen[1].title, "Folivex");
  EXPECT_EQ(seen[2].thread, worker_id);
}

TEST_F(HookTest, ClipboardOverrideWins) {
  struct Case {
    const char* name;
    Text text;
  } cases[] = {
      {"address", "https://example.invalid/book/1/"},
      {"Chinese", kBookName},
      {"empty", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetClipboardOverride(c.text);
    EXPECT_EQ(ClipboardText(), c.text);
  }
}

std::mutex thread_mutex;
std::condition_variable thread_ran;
std::vector<std::int32_t> thread_arguments;

void RecordArgument(std::int32_t argument) {
  std::lock_guard lock(thread_mutex);
  thread_arguments.push_back(argument);
  thread_ran.notify_all();
}

TEST(StartThread, RunsTheRoutineWithItsArgument) {
  {
    std::lock_guard lock(thread_mutex);
    thread_arguments.clear();
  }
  StartThread(RecordArgument, 0);
  StartThread(RecordArgument, 42);
  StartThread(nullptr, 1);  // nothing to run: ignored
  std::unique_lock lock(thread_mutex);
  // A generous bound, only so that a broken start cannot hang the run.
  ASSERT_TRUE(thread_ran.wait_for(lock, std::chrono::seconds(30), [] { return thread_arguments.size() == 2; }));
  std::multiset<std::int32_t> got(thread_arguments.begin(), thread_arguments.end());
  EXPECT_EQ(got, (std::multiset<std::int32_t>{0, 42}));
}

}  // namespace
}  // namespace folivex
