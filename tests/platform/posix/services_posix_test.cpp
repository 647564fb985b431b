// Linux sides of the services: UTF-8 names on disk, the advisory lock seen
// from outside, a write that fails midway, the browser opener and the
// fallbacks where Linux has no clipboard or message box.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/services.h"

namespace folivex {
namespace {

namespace fs = std::filesystem;

const Text kBookName = "\xCD\xBC\xCA\xE9";  // 图书

void ScratchWrite(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

class PosixFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/folivex-posix-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    folder_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  Text In(const Text& name) const { return folder_ + "/" + name; }
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder_)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string folder_;
};

TEST_F(PosixFilesTest, NamesOnDiskAreUtf8NotTheRawBytes) {
  ASSERT_TRUE(WriteBytesFile(In(kBookName + ".jpg"), {1, 2, 3}));
  ASSERT_TRUE(CreateFolder(In(kBookName)));
  EXPECT_EQ(Entries(), (std::vector<std::string>{"图书", "图书.jpg"}));
}

TEST_F(PosixFilesTest, NamesThatAreNotCodePage936AreRefused) {
  // A lone lead byte cannot name anything; it must not reach the file system
  // as raw bytes.
  const Text broken = "\xCD";
  EXPECT_FALSE(WriteBytesFile(In(broken), {1}));
  EXPECT_FALSE(CreateFolder(In(broken)));
  EXPECT_FALSE(WriteFileAtomically(In(broken), {1}).ok);
  EXPECT_TRUE(Entries().empty());
}

TEST_F(PosixFilesTest, WriteBytesFileRespectsALockHeldByAnotherProgram) {
  const Text path = In("1.jpg");
  ASSERT_TRUE(WriteBytesFile(path, TextToBytes("held content")));
  const int fd = ::open(path.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  EXPECT_FALSE(WriteBytesFile(path, {}));
  // The file was not emptied by the writer that lost.
  EXPECT_EQ(ReadBytesFile(path), TextToBytes("held content"));
  ::close(fd);
  EXPECT_TRUE(WriteBytesFile(path, {}));
  EXPECT_EQ(ReadBytesFile(path), Bytes{});
}

// A write that fails midway (the file size limit here, which holds even
// for root, unlike a read-only folder) leaves the old file as it was and
// no temporary beside it. Run in a child so the limit stays there.
TEST_F(PosixFilesTest, WriteFileAtomicallyKeepsTheOldFileWhenTheWriteFails) {
  const Text path = In(kBookName + ".txt");
  ASSERT_TRUE(WriteBytesFile(path, TextToBytes("old")));
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(2);
    const FileResult result = WriteFileAtomically(path, Bytes(100000, 'x'));
    ::_exit(result.ok ? 1 : (result.error.empty() ? 3 : 0));
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadBytesFile(path), TextToBytes("old"));
  EXPECT_EQ(Entries(), std::vector<std::string>{"图书.txt"});
}

// Opening a FIFO for reading waits for a writer: where a file is expected,
// only a regular file is read, and a FIFO is neither read nor replaced.
TEST_F(PosixFilesTest, NothingWaitsOnAFifoWhereAFileGoes) {
  const Text fifo = In("5.jpg");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
  EXPECT_FALSE(ReadBytesFile(fifo).has_value());
  EXPECT_FALSE(StreamFile(fifo, StreamFile::Mode::Read).IsOpen());
  EXPECT_FALSE(FileExists(fifo));
  const FileResult written = WriteFileAtomically(fifo, TextToBytes("page"));
  EXPECT_FALSE(written.ok);
  EXPECT_NE(written.error.find("FIFO"), std::string::npos) << written.error;
  // A FIFO under a temporary's name is no leftover to open or remove.
  const Text fifo_temporary = In(".6.jpg.part-999999-0");
  ASSERT_EQ(::mkfifo(fifo_temporary.c_str(), 0666), 0);
  EXPECT_FALSE(RemoveFileNobodyWrites(fifo_temporary));
  RemoveLeftoverTemporaries(folder_);
  struct stat info {};
  ASSERT_EQ(::lstat(fifo.c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
  EXPECT_EQ(::lstat(fifo_temporary.c_str(), &info), 0);
  EXPECT_EQ(Entries(), (std::vector<std::string>{".6.jpg.part-999999-0", "5.jpg"}));
}

// Links planted under the names the next temporaries would take: each is
// passed over, never written through.
TEST_F(PosixFilesTest, ALinkPlantedUnderATemporaryNameIsNeverFollowed) {
  const std::string victim = folder_ + "-victim";
  ScratchWrite(victim, "precious");
  TemporaryFile probe = CreateTemporaryBeside(In("1.jpg"));
  ASSERT_TRUE(probe.file.IsOpen()) << probe.error;
  const std::uint32_t next = ParseTemporaryFileName(probe.path.substr(folder_.size() + 1))->counter + 1;
  ASSERT_TRUE(probe.file.Close());
  ASSERT_TRUE(RemoveFile(probe.path));
  for (std::uint32_t n = next; n < next + 3; ++n) {
    ASSERT_EQ(::symlink(victim.c_str(), In(TemporaryFileName("1.jpg", n)).c_str()), 0);
    ASSERT_EQ(::symlink(victim.c_str(), In(TemporaryFileName("book.pdf", n + 3)).c_str()), 0);
  }
  const FileResult written = WriteFileAtomically(In("1.jpg"), TextToBytes("page"));
  EXPECT_TRUE(written.ok) << written.error;
  TemporaryFile pdf = CreateTemporaryBeside(In("book.pdf"));
  ASSERT_TRUE(pdf.file.IsOpen()) << pdf.error;
  ASSERT_TRUE(pdf.file.Write("pdf", 3));
  ASSERT_TRUE(pdf.file.Close());
  EXPECT_EQ(ReadBytesFile(victim), TextToBytes("precious"));
  EXPECT_EQ(ReadBytesFile(In("1.jpg")), TextToBytes("page"));
  // The links stay: they are nobody's temporaries to remove.
  RemoveLeftoverTemporaries(folder_);
  EXPECT_EQ(Entries().size(), 1u + 6u + 1u);
  ::unlink(victim.c_str());
}

TEST_F(PosixFilesTest, ProgramFolderIsWhereTheTestProgramLies) {
  SetProgramFolder("");
  const fs::path executable = fs::read_symlink("/proc/self/exe");
  EXPECT_EQ(ProgramFolder(), executable.parent_path().string());
  EXPECT_EQ(PathSeparator(), "/");
}

// --- Browser ----------------------------------------------------------------------

class BrowserTest : public PosixFilesTest {
 protected:
  void SetUp() override {
    PosixFilesTest::SetUp();
    const char* path = std::getenv("PATH");
    saved_path_ = path ? path : "";
  }
  void TearDown() override {
    ::setenv("PATH", saved_path_.c_str(), 1);
    PosixFilesTest::TearDown();
  }
  std::string saved_path_;
};

TEST_F(BrowserTest, HandsTheAddressToXdgOpenWithoutWaiting) {
  const std::string bin = folder_ + "/bin";
  fs::create_directories(bin);
  const std::string log = folder_ + "/opened";
  const std::string go = folder_ + "/go";
  {
    // The fake opener records its argument only once the test lets it go,
    // so a caller that waited for the opener would still be waiting (until
    // the opener gives up after 30 s and records nothing).
    std::ofstream script(bin + "/xdg-open");
    script << "#!/bin/sh\n"
           << "i=0\n"
           << "while [ ! -e '" << go << "' ]; do i=$((i+1)); [ $i -gt 600 ] && exit 1; sleep 0.05; done\n"
           << "printf '%s' \"$1\" > '" << log << ".tmp'\nmv '" << log << ".tmp' '" << log << "'\n";
  }
  ::chmod((bin + "/xdg-open").c_str(), 0755);
  ::setenv("PATH", (bin + ":/usr/bin:/bin").c_str(), 1);

  OpenInBrowser("https://example.invalid/explore/");
  EXPECT_FALSE(fs::exists(log));
  std::ofstream(go).put('1');
  bool opened = false;
  for (int i = 0; i < 300 && !opened; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    opened = fs::exists(log);
  }
  ASSERT_TRUE(opened);
  std::ifstream in(log);
  std::string argument((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(argument, "https://example.invalid/explore/");
}

TEST_F(BrowserTest, DoesNothingWithoutXdgOpen) {
  const std::string empty = folder_ + "/empty";
  fs::create_directories(empty);
  ::setenv("PATH", empty.c_str(), 1);
  OpenInBrowser("https://example.invalid/");
  OpenInBrowser("");
  SUCCEED();
}

// --- Fallbacks ---------------------------------------------------------------------

TEST(PosixFallbacks, ClipboardIsEmptyWithoutOverride) {
  SetClipboardOverride(std::nullopt);
  EXPECT_EQ(ClipboardText(), "");
  SetClipboardOverride(Text("abc"));
  EXPECT_EQ(ClipboardText(), "abc");
  SetClipboardOverride(std::nullopt);
  EXPECT_EQ(ClipboardText(), "");
}

TEST(PosixFallbacks, MessageWithoutHookGoesToStandardErrorAsUtf8) {
  SetMessageHook(nullptr);
  ::testing::internal::CaptureStderr();
  ShowMessage("\xCF\xC2\xD4\xD8\xCD\xEA\xB3\xC9\xA3\xA1");  // 下载完成！
  const std::string printed = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(printed, "信息：下载完成！\n");
}

}  // namespace
}  // namespace folivex
