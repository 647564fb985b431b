// The run-time services on Linux. Texts arrive as code page 936 and file
// names leave as UTF-8, the encoding of every Linux file system here.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/codepage.h"
#include "platform/process_settings.h"
#include "platform/services.h"

namespace folivex {
namespace {

// --- Code page conversion ---------------------------------------------------

// Code page 936 -> UTF-8, or nothing when the bytes are not valid code page
// 936 (the conversion itself would put "?" in their place). Valid text
// always survives the way there and back.
std::optional<std::string> StrictGbkToUtf8(std::string_view gbk) {
  std::string utf8 = GbkToUtf8(gbk);
  if (Utf8ToGbkText(utf8) != gbk) return std::nullopt;
  return utf8;
}

// UTF-8 -> code page 936, or nothing when a character has no code there.
std::optional<Text> StrictUtf8ToGbk(std::string_view utf8) {
  Text gbk = Utf8ToGbkText(utf8);
  if (GbkToUtf8(gbk) != utf8) return std::nullopt;
  return gbk;
}

// A file name for the system calls: empty when the text is empty or is not
// valid code page 936 (such a name cannot be meant).
std::string SystemName(const Text& path) {
  if (path.empty()) return {};
  return StrictGbkToUtf8(path).value_or(std::string{});
}

std::string ErrnoText(int error) { return std::generic_category().message(error); }

// --- Small RAII helpers -------------------------------------------------------

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  ~FileDescriptor() { Reset(); }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = other.release();
    }
    return *this;
  }
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() { return std::exchange(fd_, -1); }
  // Closes now; false when close itself reports a failed write.
  bool Reset() {
    if (fd_ < 0) return true;
    return ::close(std::exchange(fd_, -1)) == 0;
  }

 private:
  int fd_;
};

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

// Opens a file for exclusive writing and empties it. The lock is taken
// before the file is emptied, so a writer that loses the race leaves the
// other writer's bytes alone. flock locks belong to the open file, so two
// writers in one process exclude each other too.
int OpenExclusiveForWriting(const std::string& name) {
  FileDescriptor fd(::open(name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666));
  if (!fd.valid()) return -1;
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return -1;
  if (::ftruncate(fd.get(), 0) != 0) return -1;
  return fd.release();
}

// --- Process-wide settings --------------------------------------------------------

struct Settings {
  std::mutex mutex;
  std::optional<Text> program_folder;
};

Settings& Shared() {
  static Settings settings;
  return settings;
}

// The folder of /proc/self/exe as the file system names it (UTF-8), without
// the trailing separator ("/" for the root itself).
const std::string& ExecutableFolderName() {
  static const std::string folder = [] {
    std::string buffer(4096, '\0');
    for (;;) {
      const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
      if (length < 0) return std::string();
      if (static_cast<std::size_t>(length) < buffer.size()) {
        buffer.resize(static_cast<std::size_t>(length));
        break;
      }
      buffer.resize(buffer.size() * 2);
    }
    const std::size_t slash = buffer.rfind('/');
    if (slash == std::string::npos) return std::string();
    buffer.resize(slash == 0 ? 1 : slash);
    return buffer;
  }();
  return folder;
}

// Strips trailing separators, keeping a lone "/".
Text WithoutTrailingSeparator(Text path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// --- Temporary files -------------------------------------------------------------

constexpr int kTemporaryNamesTried = 100;
// Where the file system keeps no locks, a temporary untouched this long is
// taken as abandoned.
constexpr time_t kAbandonedAfterSeconds = 24 * 60 * 60;

std::atomic<std::uint32_t> temporary_counter{0};

struct OpenedTemporary {
  FileDescriptor fd;
  Text path;
  std::string name;   // as the system calls take it
  std::string error;  // when fd is not valid
};

// Whether `name` still leads to the file open as `fd`.
bool NameLeadsTo(const std::string& name, int fd) {
  struct stat held {}, named {};
  return ::fstat(fd, &held) == 0 && ::lstat(name.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
         held.st_ino == named.st_ino;
}

// A new temporary beside `target`, created exclusively (O_EXCL: never an
// existing file; O_NOFOLLOW: never through a link) and locked as
// OpenExclusiveForWriting locks, so that the cleaning of other runs leaves
// it alone while it is open. A taken name is passed over.
OpenedTemporary OpenTemporaryBeside(const Text& target) {
  OpenedTemporary opened;
  const Text folder = FolderOfPath(target);
  const Text name = target.substr(folder.size());
  int last_error = EEXIST;
  for (int tried = 0; tried < kTemporaryNamesTried; ++tried) {
    opened.path = ConcatText(folder, TemporaryFileName(name, temporary_counter.fetch_add(1)));
    opened.name = SystemName(opened.path);
    if (opened.name.empty()) {
      opened.error = "file name is not valid code page 936 text";
      return opened;
    }
    FileDescriptor fd(::open(opened.name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!fd.valid()) {
      last_error = errno;
      if (last_error == EEXIST || last_error == ELOOP) continue;
      break;
    }
    // Another run's cleaning may have taken the file in the instant between
    // its creation and the lock: it holds the lock now and removes the file,
    // or it has held it, removed it and let go, and the lock just taken is
    // on a file without a name. Either way this one takes the next name.
    // Once the lock is held and the name still leads to the file, no
    // cleaner removes it: a cleaner removes only what it has locked. A
    // file system without locks leaves it unlocked.
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) continue;
    if (!NameLeadsTo(opened.name, fd.get())) continue;
    opened.fd = std::move(fd);
    return opened;
  }
  opened.error = "cannot create a temporary file beside " + SystemName(target) + ": " + ErrnoText(last_error);
  return opened;
}

// Why `target` may not be replaced: something other than a regular file (or
// a link, which the rename replaces, not its target) stands there.
std::string RefusalToReplace(const std::string& target) {
  struct stat info {};
  if (::lstat(target.c_str(), &info) != 0 || S_ISREG(info.st_mode) || S_ISLNK(info.st_mode)) return {};
  const char* what = S_ISDIR(info.st_mode)                             ? "a folder"
                     : S_ISFIFO(info.st_mode)                          ? "a FIFO"
                     : S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode) ? "a device"
                     : S_ISSOCK(info.st_mode)                          ? "a socket"
                                                                       : "not a regular file";
  return target + " is " + what + ", not a file; it is left as it is";
}

// Flushes the folder's entry list, so a rename survives a power cut.
void SyncFolderOf(const std::string& target) {
  const std::size_t slash = target.rfind('/');
  const std::string folder =
      slash == std::string::npos ? std::string(".") : (slash == 0 ? std::string("/") : target.substr(0, slash));
  FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.valid()) ::fsync(fd.get());
}

bool IsExecutable(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// The first xdg-open on PATH; empty when there is none.
std::string FindOpener() {
  const char* path = std::getenv("PATH");
  if (!path) return {};
  std::string_view rest(path);
  while (true) {
    const std::size_t colon = rest.find(':');
    std::string folder(rest.substr(0, colon));
    if (folder.empty()) folder = ".";
    const std::string candidate = folder + "/xdg-open";
    if (IsExecutable(candidate)) return candidate;
    if (colon == std::string_view::npos) break;
    rest.remove_prefix(colon + 1);
  }
  return {};
}

}  // namespace

// --- Clipboard, messages, browser -----------------------------------------------

Text ClipboardText() {
  // There is no system clipboard here: only what a caller put there.
  return ClipboardOverride().value_or(Text{});
}

void ShowMessage(const Text& text, int /*style*/, std::optional<Text> title) {
  const Text shown_title = title.value_or(DefaultMessageTitle());
  if (RunMessageHook(text, shown_title)) return;
  const std::string line = GbkToUtf8(shown_title) + GbkToUtf8(text) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

void OpenInBrowser(const Text& address) {
  if (address.empty()) return;
  const std::string opener = FindOpener();
  if (opener.empty()) return;
  const std::string argument = GbkToUtf8(address);
  // Everything the child needs is prepared before fork: after it only
  // async-signal-safe calls are allowed in a threaded process.
  const char* argv[] = {opener.c_str(), argument.c_str(), nullptr};
  const pid_t child = ::fork();
  if (child < 0) return;
  if (child == 0) {
    // The middle process starts the opener and leaves at once, so the
    // opener is adopted by init and never waited for by anyone here.
    if (::fork() == 0) {
      ::setsid();
      const int null = ::open("/dev/null", O_RDWR);
      if (null >= 0) {
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
      }
      ::execv(argv[0], const_cast<char* const*>(argv));
      ::_exit(127);
    }
    ::_exit(0);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
}

// --- Files and folders ---------------------------------------------------------------

Text ProgramFolder() {
  {
    std::lock_guard lock(Shared().mutex);
    if (Shared().program_folder) return *Shared().program_folder;
  }
  // A folder whose name has no code page 936 form cannot be handed on as
  // text; its bytes are given as they are (EnterProgramFolder still works).
  static const Text executable_folder =
      StrictUtf8ToGbk(ExecutableFolderName()).value_or(ExecutableFolderName());
  return executable_folder;
}

void SetProgramFolder(const Text& folder) {
  std::lock_guard lock(Shared().mutex);
  if (folder.empty()) {
    Shared().program_folder.reset();
  } else {
    Shared().program_folder = WithoutTrailingSeparator(folder);
  }
}

bool EnterProgramFolder() {
  std::string name;
  {
    std::lock_guard lock(Shared().mutex);
    name = Shared().program_folder ? SystemName(*Shared().program_folder) : ExecutableFolderName();
  }
  return !name.empty() && ::chdir(name.c_str()) == 0;
}

const Text& PathSeparator() {
  static const Text separator = "/";
  return separator;
}

bool CreateFolder(const Text& path) {
  const std::string name = SystemName(WithoutTrailingSeparator(path));
  return !name.empty() && ::mkdir(name.c_str(), 0777) == 0;
}

bool FolderExists(const Text& path) {
  const std::string name = SystemName(path);
  struct stat info {};
  return !name.empty() && ::stat(name.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool WriteBytesFile(const Text& path, const Bytes& bytes) {
  const std::string name = SystemName(path);
  if (name.empty()) return false;
  FileDescriptor fd(OpenExclusiveForWriting(name));
  if (!fd.valid()) return false;
  if (!WriteAll(fd.get(), bytes.data(), bytes.size())) return false;
  return fd.Reset();
}

FileResult WriteFileAtomically(const Text& path, const Bytes& bytes) {
  if (path.empty()) return {false, "empty file name"};
  const std::string target = SystemName(path);
  if (target.empty()) return {false, "file name is not valid code page 936 text"};
  if (std::string refusal = RefusalToReplace(target); !refusal.empty()) {
    return {false, refusal, FailureKind::NotRegularFile};
  }

  OpenedTemporary temporary = OpenTemporaryBeside(path);
  if (!temporary.fd.valid()) return {false, temporary.error};
  // A second descriptor of the same open file keeps the lock until the
  // rename is done: the lock belongs to the open file and lasts while any
  // descriptor of it is open, so the writing descriptor can be closed first
  // and its close report a failed write (network file systems report them
  // only there) before anything is renamed. Renamed unlocked, the
  // temporary could be taken by another run's cleaning in between.
  FileDescriptor lock(::fcntl(temporary.fd.get(), F_DUPFD_CLOEXEC, 0));
  // The temporary goes while this run still holds it.
  auto fail = [&](const char* what, const std::string& name) {
    const int error = errno;
    ::unlink(temporary.name.c_str());
    return FileResult{false, std::string(what) + " " + name + ": " + ErrnoText(error)};
  };
  if (!lock.valid()) return fail("cannot hold", temporary.name);
  if (!WriteAll(temporary.fd.get(), bytes.data(), bytes.size())) return fail("cannot write", temporary.name);
  // No flush to the device: the rename already guarantees that a killed or
  // crashed process never leaves a partial file under the target's name, and
  // two flushes per page cost more than the transfer itself. After a power
  // cut a page may be short; the resume check, which keeps only complete
  // images, fetches it again.
  if (!temporary.fd.Reset()) return fail("cannot close", temporary.name);
  if (::rename(temporary.name.c_str(), target.c_str()) != 0) return fail("cannot rename over", target);
  return {true, {}};
}

std::optional<Bytes> ReadBytesFile(const Text& path) {
  const std::string name = SystemName(path);
  if (name.empty()) return std::nullopt;
  // O_NONBLOCK: opening a FIFO would wait for a writer; it is refused below.
  FileDescriptor fd(::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.valid()) return std::nullopt;
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  Bytes bytes;
  std::uint8_t buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (got == 0) break;
    bytes.insert(bytes.end(), buffer, buffer + got);
  }
  return bytes;
}

bool FileExists(const Text& path) {
  const std::string name = SystemName(path);
  struct stat info {};
  return !name.empty() && ::stat(name.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool RemoveFile(const Text& path) {
  const std::string name = SystemName(path);
  return !name.empty() && ::unlink(name.c_str()) == 0;
}

std::vector<Text> ListFiles(const Text& folder) {
  const std::string name = SystemName(WithoutTrailingSeparator(folder));
  std::vector<Text> files;
  if (name.empty()) return files;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(name.c_str()), ::closedir);
  if (!dir) return files;
  while (const dirent* entry = ::readdir(dir.get())) {
    struct stat info {};
    if (::fstatat(::dirfd(dir.get()), entry->d_name, &info, 0) != 0 || !S_ISREG(info.st_mode)) continue;
    // A name with no code page 936 form could not be opened again through
    // these services, so it is left out.
    if (auto text = StrictUtf8ToGbk(entry->d_name)) files.push_back(std::move(*text));
  }
  std::sort(files.begin(), files.end());
  return files;
}

StreamFile::StreamFile(const Text& path, Mode mode) {
  const std::string name = SystemName(path);
  if (name.empty()) return;
  if (mode == Mode::Read) {
    // Only a regular file is read. O_NONBLOCK keeps the open of a FIFO from
    // waiting for a writer that never comes; a regular file reads the same
    // with it.
    FileDescriptor fd(::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (!fd.valid() || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return;
    handle_ = ::fdopen(fd.get(), "rb");
    if (handle_) fd.release();
    return;
  }
  FileDescriptor fd(OpenExclusiveForWriting(name));
  if (!fd.valid()) return;
  handle_ = ::fdopen(fd.get(), "wb");
  if (handle_) fd.release();
}

bool StreamFile::Close() {
  if (!handle_) return false;
  FILE* file = static_cast<FILE*>(std::exchange(handle_, nullptr));
  bool ok = !failed_;
  if (std::fflush(file) != 0) ok = false;
  // Read-only streams fail fsync on some file systems; only writes need it.
  const int mode = ::fcntl(::fileno(file), F_GETFL);
  if (mode >= 0 && (mode & O_ACCMODE) != O_RDONLY && ::fsync(::fileno(file)) != 0) ok = false;
  if (std::fclose(file) != 0) ok = false;
  failed_ = false;
  return ok;
}

TemporaryFile CreateTemporaryBeside(const Text& target) {
  TemporaryFile result;
  if (target.empty()) {
    result.error = "empty file name";
    return result;
  }
  OpenedTemporary opened = OpenTemporaryBeside(target);
  if (!opened.fd.valid()) {
    result.error = opened.error;
    return result;
  }
  FILE* file = ::fdopen(opened.fd.get(), "wb");
  if (!file) {
    result.error = "cannot open " + opened.name + ": " + ErrnoText(errno);
    opened.fd.Reset();
    ::unlink(opened.name.c_str());
    return result;
  }
  opened.fd.release();  // now owned by the stream
  result.file = StreamFile(file);
  result.path = std::move(opened.path);
  return result;
}

FileResult ReplaceWithTemporary(TemporaryFile& temporary, const Text& target) {
  const std::string from = SystemName(temporary.path);
  const std::string to = SystemName(target);
  if (!temporary.file.IsOpen()) return {false, "the temporary " + from + " is not open"};
  // The temporary goes when anything fails.
  auto give_up = [&](std::string why) {
    temporary.file.Close();
    if (!from.empty()) ::unlink(from.c_str());
    return FileResult{false, std::move(why)};
  };
  auto fail = [&](const char* what, const std::string& name) {
    const int error = errno;
    return give_up(std::string(what) + " " + name + ": " + ErrnoText(error));
  };
  if (from.empty() || to.empty()) return give_up("file name is not valid code page 936 text");
  // As in WriteFileAtomically: a second descriptor of the open file keeps
  // its lock while the stream closes and the rename is made.
  FileDescriptor lock(::fcntl(::fileno(static_cast<FILE*>(temporary.file.handle_)), F_DUPFD_CLOEXEC, 0));
  if (!lock.valid()) return fail("cannot hold", from);
  if (!temporary.file.Close()) return fail("cannot write", from);
  if (::rename(from.c_str(), to.c_str()) != 0) return fail("cannot rename over", to);
  SyncFolderOf(to);
  return {true, {}};
}

bool RemoveFileNobodyWrites(const Text& path) {
  const std::string name = SystemName(path);
  if (name.empty()) return false;
  // Never through a link, and never waiting on a FIFO.
  FileDescriptor fd(::open(name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat held {};
  if (!fd.valid() || ::fstat(fd.get(), &held) != 0 || !S_ISREG(held.st_mode)) return false;
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK || errno == EINTR) return false;  // its writer is alive
    if (std::time(nullptr) - held.st_mtime < kAbandonedAfterSeconds) return false;
  }
  // Removed only if the name still leads to the file that was locked.
  struct stat now {};
  if (::lstat(name.c_str(), &now) != 0 || now.st_dev != held.st_dev || now.st_ino != held.st_ino) return false;
  return ::unlink(name.c_str()) == 0;
}

// --- Threads ----------------------------------------------------------------------

void StartThread(ThreadRoutine routine, std::int32_t argument) {
  if (!routine) return;
  try {
    std::thread(routine, argument).detach();
  } catch (const std::system_error&) {
    // A thread that cannot be started goes unnoticed, as on Windows.
  }
}

}  // namespace folivex
