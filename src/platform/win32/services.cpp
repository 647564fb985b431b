// The run-time services on Windows. Texts arrive as code page 936 and every
// system call takes UTF-16 through the W functions: the ANSI functions would
// read the bytes in the system's own code page and garble Chinese names on
// any system that is not set to code page 936.
#include <windows.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <stdio.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/codepage.h"
#include "platform/process_settings.h"
#include "platform/win32/wide_text.h"
#include "platform/services.h"

namespace folivex {
namespace {

std::string ErrorText(DWORD error) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring message = length && buffer ? std::wstring(buffer, length) : std::wstring();
  if (buffer) LocalFree(buffer);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                              message.back() == L' ' || message.back() == L'.')) {
    message.pop_back();
  }
  return "error " + std::to_string(error) + (message.empty() ? "" : " (" + Utf8(message) + ")");
}

// --- Paths --------------------------------------------------------------------

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Trailing separators are stripped after the conversion: in code page 936
// the byte of "\" is also the second byte of some characters.
std::wstring WithoutTrailingSeparator(std::wstring path) {
  while (path.size() > 1 && IsSeparator(path.back())) {
    // "C:\" stays as it is: "C:" alone names the drive's current folder.
    if (path.size() == 3 && path[1] == L':') break;
    path.pop_back();
  }
  return path;
}

// A name for the W calls: empty when the text is empty or not valid code
// page 936.
std::wstring SystemName(const Text& path) { return WidenGbk(path).value_or(std::wstring()); }

struct HandleCloser {
  void operator()(HANDLE handle) const {
    if (handle && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
};
using FileHandle = std::unique_ptr<void, HandleCloser>;

FileHandle OpenHandle(HANDLE handle) {
  return FileHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

struct FindCloser {
  void operator()(HANDLE handle) const { FindClose(handle); }
};
using FindHandle = std::unique_ptr<void, FindCloser>;

bool WriteAll(HANDLE file, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    DWORD written = 0;
    if (!WriteFile(file, data, chunk, &written, nullptr) || written == 0) return false;
    data += written;
    size -= written;
  }
  return true;
}

// --- Process-wide settings --------------------------------------------------------

struct Settings {
  std::mutex mutex;
  std::optional<std::wstring> program_folder;
};

Settings& Shared() {
  static Settings settings;
  return settings;
}

std::wstring ExecutableFolder() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) {
      buffer.resize(length);
      break;
    }
    // Truncated: long paths need a larger buffer.
    buffer.resize(buffer.size() * 2);
  }
  const std::size_t slash = buffer.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return {};
  buffer.resize(slash);
  return buffer;
}

std::wstring ProgramFolderWide() {
  {
    std::lock_guard lock(Shared().mutex);
    if (Shared().program_folder) return *Shared().program_folder;
  }
  static const std::wstring executable_folder = ExecutableFolder();
  return executable_folder;
}

// --- Temporary files -------------------------------------------------------------

constexpr int kTemporaryNamesTried = 100;

std::atomic<std::uint32_t> temporary_counter{0};

struct OpenedTemporary {
  FileHandle file;
  Text path;
  std::wstring name;  // as the W calls take it
  std::string error;  // when there is no file
};

// A new temporary beside `target`, created exclusively (CREATE_NEW: never an
// existing file or link) and shared with nobody while it is open, so the
// cleaning of another run cannot delete it. It is opened for deletion as
// well, so that it can be renamed or removed through the handle, while it
// is still held. A taken name is passed over.
OpenedTemporary OpenTemporaryBeside(const Text& target) {
  OpenedTemporary opened;
  const Text folder = FolderOfPath(target);
  const Text name = target.substr(folder.size());
  DWORD last_error = ERROR_FILE_EXISTS;
  for (int tried = 0; tried < kTemporaryNamesTried; ++tried) {
    opened.path = ConcatText(folder, TemporaryFileName(name, temporary_counter.fetch_add(1)));
    opened.name = SystemName(opened.path);
    if (opened.name.empty()) {
      opened.error = "file name is not valid code page 936 text";
      return opened;
    }
    opened.file = OpenHandle(CreateFileW(opened.name.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (opened.file) return opened;
    last_error = GetLastError();
    if (last_error != ERROR_FILE_EXISTS && last_error != ERROR_ALREADY_EXISTS) break;
  }
  opened.error = "cannot create a temporary file beside " + Utf8(SystemName(target)) + ": " + ErrorText(last_error);
  return opened;
}

// Renames the file open as `file` (with DELETE access) over `target`
// through its handle. Renamed by name, a file this process has let go of
// could be opened by another run's cleaning in between, and that run's
// deletion would then follow the file to its new name.
bool RenameOpenFile(HANDLE file, const std::wstring& target) {
  // The full name, resolved as CreateFileW resolves a relative one.
  const DWORD capacity = GetFullPathNameW(target.c_str(), 0, nullptr, nullptr);
  if (capacity == 0) return false;
  std::wstring full(capacity, L'\0');
  const DWORD length = GetFullPathNameW(target.c_str(), capacity, full.data(), nullptr);
  if (length == 0 || length >= capacity) return false;
  full.resize(length);
  // The name follows the structure, its zero included (the system reads it
  // as a zero-terminated string as well).
  const std::size_t name_bytes = full.size() * sizeof(wchar_t);
  const std::size_t size = offsetof(FILE_RENAME_INFO, FileName) + name_bytes + sizeof(wchar_t);
  std::vector<std::uint64_t> buffer((size + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t), 0);
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->ReplaceIfExists = TRUE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(name_bytes);
  std::memcpy(info->FileName, full.c_str(), name_bytes + sizeof(wchar_t));
  return SetFileInformationByHandle(file, FileRenameInfo, info, static_cast<DWORD>(size)) != 0;
}

// Closes a temporary this process holds and removes it: marked for deletion
// through the handle while it is still held, by name when that is refused.
void DiscardTemporary(FileHandle file, const std::wstring& name) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  const bool marked =
      file && SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition, sizeof disposition) != 0;
  file.reset();
  if (!marked) DeleteFileW(name.c_str());
}

// Why `target` may not be replaced: a folder stands there.
std::string RefusalToReplace(const std::wstring& target) {
  const DWORD attributes = GetFileAttributesW(target.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return {};
  return Utf8(target) + " is a folder, not a file; it is left as it is";
}

struct ThreadStart {
  ThreadRoutine routine;
  std::int32_t argument;
};

DWORD WINAPI RunThread(LPVOID parameter) {
  const std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(parameter));
  start->routine(start->argument);
  return 0;
}

}  // namespace

// --- Clipboard, messages, browser -----------------------------------------------

Text ClipboardText() {
  if (std::optional<Text> text = ClipboardOverride()) return *text;
  // Another program may hold the clipboard for a moment.
  bool opened = false;
  for (int attempt = 0; attempt < 5 && !opened; ++attempt) {
    opened = OpenClipboard(nullptr) != 0;
    if (!opened) Sleep(10);
  }
  if (!opened) return {};
  Text text;
  if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    if (const auto* wide = static_cast<const wchar_t*>(GlobalLock(data))) {
      // The text ends at its zero, which GlobalSize bounds.
      const std::size_t capacity = GlobalSize(data) / sizeof(wchar_t);
      std::size_t length = 0;
      while (length < capacity && wide[length] != L'\0') ++length;
      text = NarrowToGbk(std::wstring_view(wide, length));
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return text;
}

void ShowMessage(const Text& text, int style, std::optional<Text> title) {
  const Text shown_title = title.value_or(DefaultMessageTitle());
  if (RunMessageHook(text, shown_title)) return;
  // No owner: the box belongs to the calling thread and blocks only it.
  MessageBoxW(nullptr, WidenGbkLossy(text).c_str(), WidenGbkLossy(shown_title).c_str(),
              static_cast<UINT>(style));
}

void OpenInBrowser(const Text& address) {
  if (address.empty()) return;
  const std::wstring wide = WidenGbkLossy(address);
  ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

// --- Files and folders ---------------------------------------------------------------

Text ProgramFolder() { return NarrowToGbk(ProgramFolderWide()); }

void SetProgramFolder(const Text& folder) {
  std::optional<std::wstring> wide;
  if (!folder.empty()) {
    wide = WidenGbkLossy(folder);
    // All trailing separators go, "C:\" included: callers append one.
    while (wide->size() > 1 && IsSeparator(wide->back())) wide->pop_back();
  }
  std::lock_guard lock(Shared().mutex);
  Shared().program_folder = std::move(wide);
}

bool EnterProgramFolder() {
  std::wstring folder = ProgramFolderWide();
  if (folder.empty()) return false;
  // "C:" alone would name the drive's current folder, not its root.
  if (folder.size() == 2 && folder[1] == L':') folder += L'\\';
  return SetCurrentDirectoryW(folder.c_str()) != 0;
}

const Text& PathSeparator() {
  static const Text separator = "\\";
  return separator;
}

bool CreateFolder(const Text& path) {
  const std::wstring name = WithoutTrailingSeparator(SystemName(path));
  // Fails with ERROR_ALREADY_EXISTS or ERROR_PATH_NOT_FOUND as wanted.
  return !name.empty() && CreateDirectoryW(name.c_str(), nullptr) != 0;
}

bool FolderExists(const Text& path) {
  const std::wstring name = WithoutTrailingSeparator(SystemName(path));
  if (name.empty()) return false;
  const DWORD attributes = GetFileAttributesW(name.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool WriteBytesFile(const Text& path, const Bytes& bytes) {
  const std::wstring name = SystemName(path);
  if (name.empty()) return false;
  // Share mode 0: while this writer holds the file nobody else opens it, and
  // a writer that finds it held fails before anything is emptied.
  FileHandle file = OpenHandle(CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  if (!WriteAll(file.get(), bytes.data(), bytes.size())) return false;
  return CloseHandle(file.release()) != 0;
}

FileResult WriteFileAtomically(const Text& path, const Bytes& bytes) {
  if (path.empty()) return {false, "empty file name"};
  const std::wstring target = SystemName(path);
  if (target.empty()) return {false, "file name is not valid code page 936 text"};
  if (std::string refusal = RefusalToReplace(target); !refusal.empty()) {
    return {false, refusal, FailureKind::NotRegularFile};
  }

  OpenedTemporary temporary = OpenTemporaryBeside(path);
  if (!temporary.file) return {false, temporary.error};
  auto fail = [&](const char* what, const std::wstring& name) {
    const DWORD error = GetLastError();
    DiscardTemporary(std::move(temporary.file), temporary.name);
    return FileResult{false, std::string(what) + " " + Utf8(name) + ": " + ErrorText(error)};
  };
  if (!WriteAll(temporary.file.get(), bytes.data(), bytes.size())) return fail("cannot write", temporary.name);
  // No flush to the device: the rename alone keeps partial files from ever
  // standing under the target's name when the process dies, and a page cut
  // short by a power cut is fetched again by the resume check. The rename
  // goes through the handle, so the temporary is never shared with anyone
  // before it has its final name.
  if (!RenameOpenFile(temporary.file.get(), target)) return fail("cannot rename over", target);
  // Every write has been accepted by WriteFile; closing the handle reports
  // nothing more about them.
  temporary.file.reset();
  return {true, {}};
}

std::optional<Bytes> ReadBytesFile(const Text& path) {
  const std::wstring name = SystemName(path);
  if (name.empty()) return std::nullopt;
  FileHandle file = OpenHandle(CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::nullopt;
  Bytes bytes;
  std::uint8_t buffer[65536];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) return std::nullopt;
    if (got == 0) break;
    bytes.insert(bytes.end(), buffer, buffer + got);
  }
  return bytes;
}

bool FileExists(const Text& path) {
  const std::wstring name = SystemName(path);
  if (name.empty()) return false;
  const DWORD attributes = GetFileAttributesW(name.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool RemoveFile(const Text& path) {
  const std::wstring name = SystemName(path);
  return !name.empty() && DeleteFileW(name.c_str()) != 0;
}

std::vector<Text> ListFiles(const Text& folder) {
  std::vector<Text> files;
  const std::wstring name = WithoutTrailingSeparator(SystemName(folder));
  if (name.empty()) return files;
  const std::wstring pattern = name + (IsSeparator(name.back()) ? L"*" : L"\\*");
  WIN32_FIND_DATAW entry;
  HANDLE first = FindFirstFileW(pattern.c_str(), &entry);
  if (first == INVALID_HANDLE_VALUE) return files;
  FindHandle find(first);
  do {
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    // A name with no code page 936 form could not be opened again through
    // these services, so it is left out.
    if (auto text = StrictNarrowToGbk(entry.cFileName)) files.push_back(std::move(*text));
  } while (FindNextFileW(find.get(), &entry));
  std::sort(files.begin(), files.end());
  return files;
}

StreamFile::StreamFile(const Text& path, Mode mode) {
  const std::wstring name = SystemName(path);
  if (name.empty()) return;
  // A writer shares the file with nobody, like WriteBytesFile.
  handle_ = mode == Mode::Read ? _wfsopen(name.c_str(), L"rb", _SH_DENYWR)
                               : _wfsopen(name.c_str(), L"wb", _SH_DENYRW);
}

bool StreamFile::Close() {
  if (!handle_) return false;
  FILE* file = static_cast<FILE*>(std::exchange(handle_, nullptr));
  bool ok = !failed_;
  if (fflush(file) != 0) ok = false;
  // A read-only stream cannot be flushed to the device (access denied).
  const auto os_handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  if (os_handle != INVALID_HANDLE_VALUE && !FlushFileBuffers(os_handle) &&
      GetLastError() != ERROR_ACCESS_DENIED) {
    ok = false;
  }
  if (fclose(file) != 0) ok = false;
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
  if (!opened.file) {
    result.error = opened.error;
    return result;
  }
  // The stream takes the handle over, and closes it with itself.
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(opened.file.get()), _O_WRONLY | _O_BINARY);
  FILE* file = fd >= 0 ? _fdopen(fd, "wb") : nullptr;
  if (!file) {
    result.error = "cannot open " + Utf8(opened.name);
    if (fd >= 0) {
      opened.file.release();
      _close(fd);  // closes the handle with it
    } else {
      opened.file.reset();
    }
    DeleteFileW(opened.name.c_str());
    return result;
  }
  opened.file.release();
  result.file = StreamFile(file);
  result.path = std::move(opened.path);
  return result;
}

FileResult ReplaceWithTemporary(TemporaryFile& temporary, const Text& target) {
  const std::wstring from = SystemName(temporary.path);
  const std::wstring to = SystemName(target);
  if (!temporary.file.IsOpen()) return {false, "the temporary " + Utf8(from) + " is not open"};
  // A second handle of the same open file keeps it shared with nobody while
  // the stream closes, and the rename goes through it.
  FILE* stream = static_cast<FILE*>(temporary.file.handle_);
  const auto own = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  HANDLE copy = nullptr;
  const bool copied = own != INVALID_HANDLE_VALUE &&
                      DuplicateHandle(GetCurrentProcess(), own, GetCurrentProcess(), &copy, 0, FALSE,
                                      DUPLICATE_SAME_ACCESS) != 0;
  FileHandle holder(copied ? copy : nullptr);
  auto fail = [&](const char* what, const std::wstring& name) {
    const DWORD error = GetLastError();
    temporary.file.Close();
    DiscardTemporary(std::move(holder), from);
    return FileResult{false, std::string(what) + " " + Utf8(name) + ": " + ErrorText(error)};
  };
  if (!holder) return fail("cannot hold", from);
  if (to.empty()) {
    temporary.file.Close();
    DiscardTemporary(std::move(holder), from);
    return {false, "file name is not valid code page 936 text"};
  }
  if (!temporary.file.Close()) return fail("cannot write", from);
  if (!RenameOpenFile(holder.get(), to)) return fail("cannot rename over", to);
  return {true, {}};
}

bool RemoveFileNobodyWrites(const Text& path) {
  const std::wstring name = SystemName(path);
  if (name.empty()) return false;
  // Opened shared with nobody: a writer shares its file with nobody, so a
  // file being written is refused (a sharing violation) and stays. Once
  // open, nobody else can open the file, so nobody can rename it either,
  // and the deletion marked through this handle removes the file under
  // this name. A link is removed itself, never followed; a folder is not
  // opened at all (that takes FILE_FLAG_BACKUP_SEMANTICS).
  FileHandle file = OpenHandle(CreateFileW(name.c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) return false;
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  return SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

// --- Threads ----------------------------------------------------------------------

void StartThread(ThreadRoutine routine, std::int32_t argument) {
  if (!routine) return;
  auto start = std::make_unique<ThreadStart>(ThreadStart{routine, argument});
  // Default stack size; the handle is closed at once, as nothing waits.
  HANDLE thread = CreateThread(nullptr, 0, RunThread, start.get(), 0, nullptr);
  if (!thread) return;  // a thread that cannot be started goes unnoticed
  start.release();      // now owned by RunThread
  CloseHandle(thread);
}

}  // namespace folivex
