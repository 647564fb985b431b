// What the WinInet users of this folder share: the failure of a WinInet
// error code, header queries, and the reader that holds a response body to
// the limits of a FetchOptions.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/failure.h"
#include "platform/fetch_common.h"
#include "platform/services.h"

namespace folivex {

// Why a WinInet call failed with `error`; `answered`: a response had begun.
Failure InternetFailure(DWORD error, bool answered);

// Why sending a request failed with `error` after `waited_ms`. Wine reports
// a server that never answers as an aborted connection once the receive
// limit `idle_timeout_ms` has passed: that is a time-out.
Failure SendFailure(DWORD error, std::uint64_t waited_ms, int idle_timeout_ms);

// A query answered as text; empty when the header is absent.
std::wstring QueryHeaderText(HINTERNET request, DWORD what);

// Bad response when the header block of the response passes
// kMaxHeaderBlockBytes. WinInet reads any block whole before it returns,
// so this names the fault but cannot spare the memory.
std::optional<Failure> CheckHeaderBlock(HINTERNET request);

// The Content-Length the response announces; -1 when none.
long long AnnouncedLength(HINTERNET request);

// Reads the body of a sent request, held to the body bound, the rate floor
// and the run's rate limit of `limits` (the idle time-out is WinInet's
// receive time-out, set on the handles; the time the rate limit holds the
// transfer back does not count against the floor). Each read waits for data and takes what has arrived, so
// a body that trickles in is measured as it comes, not once a large
// buffer has filled.
class BodyReader {
 public:
  BodyReader(HINTERNET request, const FetchOptions& limits);
  // Before any body byte is read: too large when the announced length
  // passes the bound.
  std::optional<Failure> Begin();
  // Up to `size` bytes into `buffer`; `*count` is 0 at the end of the body.
  // A failure when the read failed or a limit ends the transfer; the bytes
  // of that read are then not handed out, so no more than the bound ever is.
  std::optional<Failure> Read(void* buffer, DWORD size, DWORD* count);
  // After the end: cut short when fewer bytes came than were announced.
  std::optional<Failure> Finish() const;

 private:
  HINTERNET request_;
  std::uint64_t max_body_bytes_;
  std::shared_ptr<RateLimit> rate_limit_;  // the run's, shared; may be null
  std::shared_ptr<const std::atomic<bool>> cancel_;  // may be null
  TransferPace pace_;
  long long announced_ = -1;
  std::uint64_t received_ = 0;
};

}  // namespace folivex
