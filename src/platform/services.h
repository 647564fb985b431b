// The run-time services the rest of the program calls: controls, events,
// clipboard, messages, the browser, files and folders, the simple HTTP fetch
// and threads. Texts are code page 936 on both sides of this header; each
// platform converts at its own edge.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/failure.h"
#include "platform/request_extras.h"
#include "text/text.h"

namespace folivex {

// Handles the calling thread's window messages until none is waiting; a quit
// message stops it and stays queued. Does nothing where there is no window.
void ProcessEvents();

// --- Clipboard, messages, browser ----------------------------------------
// The clipboard's text; empty when there is none.
Text ClipboardText();
// Where there is no system clipboard (Linux, tests) the caller sets it; the
// override wins while set, and nullopt gives the system clipboard back.
void SetClipboardOverride(std::optional<Text> text);

// A modal message box: style 0 is one OK button and no icon; the title
// defaults to "信息：". Without an owner it blocks only the calling thread.
void ShowMessage(const Text& text, int style = 0,
                 std::optional<Text> title = std::nullopt);
// Replaces the message box, for the command line and for tests. The hook
// runs on the thread that shows the message; an empty hook restores it.
using MessageHook = std::function<void(const Text& text, const Text& title)>;
void SetMessageHook(MessageHook hook);

// The shell's "open" on the address (the default browser).
void OpenInBrowser(const Text& address);

// --- Files and folders ----------------------------------------------------
// The folder of the program's executable, without a trailing separator.
Text ProgramFolder();
// Names another program folder (the command line's output folder, tests);
// trailing separators are dropped. The empty text restores the executable's.
void SetProgramFolder(const Text& folder);
// Makes the program folder the current directory.
bool EnterProgramFolder();
// "\" on Windows, "/" elsewhere.
const Text& PathSeparator();

// Creates one directory level; false when it exists or its parent is
// missing. A trailing separator is accepted.
bool CreateFolder(const Text& path);
bool FolderExists(const Text& path);
// Creates or empties the file, opened for exclusive writing, and writes the
// bytes. False for an empty path or a file that cannot be opened or written.
bool WriteBytesFile(const Text& path, const Bytes& bytes);

struct FileResult {
  bool ok = false;
  std::string error;  // why it failed, in UTF-8, for people
  // WriteFailed, or NotRegularFile when something other than a regular
  // file stands where the file goes.
  FailureKind kind = FailureKind::WriteFailed;
};
// Writes the bytes into a new temporary file beside `path` (see
// CreateTemporaryBeside) and renames it over `path`: a process that dies
// midway never leaves a partial file under the name. Nothing is flushed to
// the device (a page costs less to fetch again than two flushes), so after
// a power cut the file may be short or empty; callers that keep files
// across runs check them. The temporary is held as a live writer's from its
// creation until it has been renamed, so the cleaning of another run never
// takes it. Something other than a regular file standing at `path` (a
// folder, a FIFO, a device) is left as it is and the write fails.
FileResult WriteFileAtomically(const Text& path, const Bytes& bytes);
std::optional<Bytes> ReadBytesFile(const Text& path);
bool FileExists(const Text& path);
bool RemoveFile(const Text& path);
// The names (not paths) of the plain files in a folder.
std::vector<Text> ListFiles(const Text& folder);

// A file opened for streaming, closed when it goes out of scope. A writer
// holds the file exclusively, as WriteBytesFile does: while it is open,
// other writers fail instead of emptying it.
struct TemporaryFile;

class StreamFile {
 public:
  enum class Mode { Read, Write };
  StreamFile() = default;
  StreamFile(const Text& path, Mode mode);
  ~StreamFile();
  StreamFile(StreamFile&& other) noexcept;
  StreamFile& operator=(StreamFile&& other) noexcept;
  StreamFile(const StreamFile&) = delete;
  StreamFile& operator=(const StreamFile&) = delete;

  bool IsOpen() const { return handle_ != nullptr; }
  // Bytes read; 0 at the end or on failure.
  std::size_t Read(void* buffer, std::size_t size);
  bool Write(const void* data, std::size_t size);
  // Flushes to the device; false when a write or the flush failed.
  bool Close();

 private:
  friend TemporaryFile CreateTemporaryBeside(const Text& target);
  friend FileResult ReplaceWithTemporary(TemporaryFile& temporary, const Text& target);
  explicit StreamFile(void* handle) : handle_(handle) {}

  void* handle_ = nullptr;  // a FILE*
  bool failed_ = false;
};

// --- Temporary files ----------------------------------------------------------
// A file is written under a temporary name beside its target and renamed
// over it when whole. The temporary's name is
//     ".<name>.part-<pid>-<run>-<n>"
// <name> the target's name (its first 40 bytes), <pid> the process id,
// <run> 8 hex digits drawn at random when the process starts, <n> a
// counter. The pid alone cannot tell runs apart: containers give every run
// the same one.

// The parts of a temporary's name.
struct TemporaryName {
  int pid = 0;
  std::string run;  // empty in the names older versions made
  std::uint32_t counter = 0;
  bool operator==(const TemporaryName&) const = default;
};
// The name (not path) of this run's temporary number `counter` for a file
// named `name`.
Text TemporaryFileName(const Text& name, std::uint32_t counter);
// The parts of `file_name`, or nothing when it is not a temporary's name.
std::optional<TemporaryName> ParseTemporaryFileName(const Text& file_name);
bool IsThisRunsTemporary(const TemporaryName& name);
// The folder part of a path: up to and including its last separator (a
// byte of a double-byte character is never taken for one); empty for a
// bare name.
Text FolderOfPath(const Text& path);

struct TemporaryFile {
  StreamFile file;    // open for writing; closed: none could be made
  Text path;
  std::string error;  // why none could be made, in UTF-8
};
// Creates a new temporary file for `target` in its folder, exclusively: an
// existing file or link under the name is never opened, and a taken name is
// passed over for the next one. While the file is open this process holds
// it as a StreamFile writer does, which tells other runs that it is alive.
TemporaryFile CreateTemporaryBeside(const Text& target);
// Closes the temporary's stream (flushed to the device, as StreamFile::Close
// flushes) and renames the temporary over `target`, replacing it. The
// temporary is held as a live writer's until it has its new name, so the
// cleaning of another run never takes it in between. On failure the
// temporary is removed and `target` is left as it was.
FileResult ReplaceWithTemporary(TemporaryFile& temporary, const Text& target);

// Removes the file unless a writer holds it open; false when it stays or
// cannot be removed. Where the file system keeps no locks, only a file
// that has not changed for a day is taken as abandoned.
bool RemoveFileNobodyWrites(const Text& path);
// Removes the temporaries that ended runs left in `folder` (empty: the
// current folder): those of other runs that nobody holds open. This run's
// own are never touched, nor is any file whose name is not a temporary's.
void RemoveLeftoverTemporaries(const Text& folder);

// --- HTTP -----------------------------------------------------------------
// The largest page image accepted. Page images of flip-books are some
// hundred kilobytes; a 600 dpi colour scan of a double page stays well
// below 64 MiB as a JPEG, and with the most threads a download runs
// (32) the bodies in memory stay below 2 GiB.
inline constexpr std::uint64_t kDefaultMaxBodyBytes = 64ULL << 20;
// The lowest useful transfer rate. A page at 1 KiB/s takes minutes; slower
// than that is a broken link or a server that drips bytes to hold the
// client, and the idle time-out alone never ends such a transfer.
inline constexpr int kDefaultMinBytesPerSecond = 1024;

struct FetchOptions {
  int connect_timeout_ms = 15000;
  // The transfer fails when no data arrives for this long.
  int idle_timeout_ms = 30000;
  // A body larger than this fails as too large: refused when the response
  // announces a larger length, stopped as soon as it grows past it. The
  // body handed back never holds more. 0: no bound.
  std::uint64_t max_body_bytes = kDefaultMaxBodyBytes;
  // The rate floor, measured over whole windows of the idle time-out from
  // the first body byte on (before it, the idle time-out alone applies):
  // a window that brings fewer than min_bytes_per_second x idle time-out
  // bytes ends the transfer as too slow. With the defaults a server that
  // drips a byte every few seconds is given up about 30 s after its first
  // byte. 0, or no idle time-out: no floor.
  int min_bytes_per_second = kDefaultMinBytesPerSecond;

  // What the command line adds to every request; the defaults are the
  // window's fixed behaviour. Texts are UTF-8, sent as they stand.
  std::string user_agent;            // empty: the program's old desktop agent
  std::string referer;               // empty: none sent
  std::vector<std::string> headers;  // "Name: value" lines, after the fixed ones
  // Sent where they match the address (domain, path, secure, expiry).
  std::shared_ptr<const std::vector<FileCookie>> cookies;
  ProxySettings proxy;               // not enabled: every request goes direct
  std::shared_ptr<RateLimit> rate_limit;  // shared by the run's transfers; null: no limit
  // Shared by every fetch of a run, so that several books at once keep
  // to one bound of requests in flight; null: no bound here.
  std::shared_ptr<RequestSlots> slots;
  // This fetch's place in the queue for one of `slots`: lower ranks first,
  // equal ones in turn. 0, the default, goes before every book's pages (a
  // book page being analysed starts the next book sooner); each book's
  // pages get a rank after those of the books begun before it.
  std::int64_t slot_rank = 0;
  // When set and true, the transfer gives up as soon as it notices (about
  // once a second while it waits, at every piece of the body while bytes
  // move), failing as stopped: a run the user interrupts does not wait
  // for a slow server.
  std::shared_ptr<const std::atomic<bool>> cancel;
};

struct FetchResult {
  int status = 0;       // HTTP status code; 0 when no response came
  Bytes body;           // the bytes received, whatever the status
  Text content_type;    // as the server sent it, empty when absent
  // Seconds the server asked the client to wait (Retry-After), when it did.
  std::optional<int> retry_after_s;
  // Empty when the exchange completed; else why not. A completed exchange
  // may still carry any status: judging it is the caller's business.
  std::optional<Failure> failure;
  bool Completed() const { return !failure; }
};

// One GET of an http or https address without the part from its first "#",
// with the old desktop user agent, any content type, no cache and no proxy
// unless `options` adds an agent, headers, cookies, a proxy or a rate limit.
// Certificates are always verified.
FetchResult Fetch(const Text& address, const FetchOptions& options = {});
// The body of Fetch alone: empty when nothing came back.
Bytes FetchUrl(const Text& address);

// --- Threads ----------------------------------------------------------------
using ThreadRoutine = void (*)(std::int32_t);
// Runs the routine on a new, detached thread; nothing of it is kept.
void StartThread(ThreadRoutine routine, std::int32_t argument);

}  // namespace folivex

namespace folivex {

// --- Waiting while messages are handled -------------------------------------
// A one-shot timer that the calling thread waits on while the window
// messages of that thread keep arriving.
class PumpTimer {
 public:
  enum class WaitResult { Fired, MessagesWaiting, Failed };
  PumpTimer();   // creates the timer; Valid() tells whether that worked
  ~PumpTimer();
  PumpTimer(const PumpTimer&) = delete;
  PumpTimer& operator=(const PumpTimer&) = delete;
  bool Valid() const;
  // Arms the timer once. A negative due time is relative, in 100-nanosecond
  // units; zero or above names a moment already past, so it fires at once.
  bool Arm(std::int64_t due_time_100ns);
  // Waits until the timer fires or a message arrives for this thread.
  WaitResult Wait();

 private:
  void* handle_ = nullptr;
  std::int64_t deadline_ns_ = 0;  // where there is no system timer
};

}  // namespace folivex

namespace folivex {

// The operating system's number for this process.
int ProcessId();

}  // namespace folivex
