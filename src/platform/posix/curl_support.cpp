#include "platform/posix/curl_support.h"

#include <cstdlib>
#include <mutex>
#include <new>

namespace folivex {

void EnsureCurlGlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool AppendLine(CurlList& list, const std::string& line) {
  curl_slist* grown = curl_slist_append(list.get(), line.c_str());
  if (!grown) return false;
  list.release();  // the grown list keeps every earlier node
  list.reset(grown);
  return true;
}

void ApplyTrustStore(CURL* easy) {
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
  if (const char* ca_file = std::getenv("FOLIVEX_CA_FILE"); ca_file && *ca_file) {
    curl_easy_setopt(easy, CURLOPT_CAINFO, ca_file);
  }
}

std::string EscapeUrlBytes(std::string_view url) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : url) {
    if (c <= 0x20 || c >= 0x7F) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// --- GuardedTransfer -----------------------------------------------------------

GuardedTransfer::GuardedTransfer(const FetchOptions& limits, Sinks sinks)
    : max_body_bytes_(limits.max_body_bytes),
      connect_timeout_ms_(limits.connect_timeout_ms),
      idle_timeout_ms_(limits.idle_timeout_ms),
      min_bytes_per_second_(limits.min_bytes_per_second),
      rate_limit_(limits.rate_limit),
      cancel_(limits.cancel),
      sinks_(std::move(sinks)),
      pace_(idle_timeout_ms_, min_bytes_per_second_, TransferPace::Clock::now()) {}

void GuardedTransfer::Install(CURL* easy) {
  pace_ = TransferPace(idle_timeout_ms_, min_bytes_per_second_, TransferPace::Clock::now());
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
  // curl's own low-speed check averages over several seconds, so a short
  // silence after a few bytes would go unnoticed for too long; the pace is
  // checked here instead, called often while bytes move and about once a
  // second while none do.
  curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, OnProgress);
  curl_easy_setopt(easy, CURLOPT_XFERINFODATA, this);
  if (connect_timeout_ms_ > 0) {
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connect_timeout_ms_));
  }
}

void GuardedTransfer::Stop(Failure failure) {
  if (!stopped_) stopped_ = std::move(failure);
}

// Called inside a catch block only. The details are short enough to need
// no allocation, so naming the failure cannot throw again.
void GuardedTransfer::StopOnException() {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    Stop(Failure{FailureKind::Other, "out of memory"});
  } catch (...) {
    Stop(Failure{FailureKind::Other, "internal error"});
  }
}

void GuardedTransfer::Header(std::string_view line) {
  if (line.substr(0, 5) == "HTTP/") {
    status_ = 0;
    const std::size_t space = line.find(' ');
    if (space != std::string_view::npos && line.size() >= space + 4) {
      for (std::size_t i = space + 1; i < space + 4 && line[i] >= '0' && line[i] <= '9'; ++i) {
        status_ = status_ * 10 + (line[i] - '0');
      }
    }
    in_header_block_ = true;
    header_bytes_ = 0;
    announced_ = -1;
    body_bytes_ = 0;
  }
  header_bytes_ += line.size();
  if (sinks_.header) sinks_.header(line);
  if (header_bytes_ > kMaxHeaderBlockBytes) {
    Stop(HeaderBlockTooLarge());
    return;
  }
  if (const auto value = HeaderLineValue(line, "content-length")) {
    announced_ = ParseContentLength(*value).value_or(-1);
  }
  if (line == "\r\n" || line == "\n") {
    in_header_block_ = false;
    // A redirect's body is not the one wanted (curl follows it or hands it
    // over small); the body bound still holds for it.
    const bool redirect = status_ >= 300 && status_ < 400;
    if (status_ >= 200 && !redirect) {
      if (auto failure = CheckAnnouncedLength(announced_, max_body_bytes_)) {
        Stop(std::move(*failure));
      }
    }
  }
}

std::size_t GuardedTransfer::OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto* self = static_cast<GuardedTransfer*>(user);
  if (self->stopped_) return 0;
  try {
    self->Header(std::string_view(data, size * count));
  } catch (...) {
    self->StopOnException();
  }
  // Any other count than the one given stops the transfer.
  return self->stopped_ ? 0 : size * count;
}

std::size_t GuardedTransfer::OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto* self = static_cast<GuardedTransfer*>(user);
  const std::size_t n = size * count;
  if (self->stopped_) return 0;
  try {
    if (auto failure = CheckBodyBound(self->body_bytes_ + n, self->max_body_bytes_)) {
      self->Stop(std::move(*failure));
      return 0;
    }
    if (self->sinks_.body) self->sinks_.body(std::string_view(data, n));
    self->body_bytes_ += n;
    if (self->rate_limit_) {
      const auto before = TransferPace::Clock::now();
      self->rate_limit_->Take(n);
      self->pace_.Held(TransferPace::Clock::now() - before);
    }
  } catch (...) {
    self->StopOnException();
    return 0;
  }
  return n;
}

int GuardedTransfer::OnProgress(void* user, curl_off_t, curl_off_t down, curl_off_t,
                                curl_off_t up) {
  auto* self = static_cast<GuardedTransfer*>(user);
  if (self->stopped_) return 1;
  if (self->cancel_ && *self->cancel_) {
    self->Stop(Failure{FailureKind::Stopped, {}});
    return 1;
  }
  try {
    const auto moved = static_cast<std::uint64_t>(down + up);
    if (auto failure = self->pace_.Check(moved, static_cast<std::uint64_t>(down),
                                         TransferPace::Clock::now())) {
      self->Stop(std::move(*failure));
      return 1;
    }
  } catch (...) {
    self->StopOnException();
    return 1;
  }
  return 0;
}

std::optional<Failure> GuardedTransfer::FailureAfter(CURLcode code, const char* detail) const {
  if (code == CURLE_OK) return std::nullopt;
  if (stopped_) return stopped_;
  const std::string why = detail && *detail ? detail : curl_easy_strerror(code);
  // curl refuses a header line longer than it buffers as if memory ran out.
  if (code == CURLE_OUT_OF_MEMORY && in_header_block_) {
    return Failure{FailureKind::BadResponse, "header block too large (a line longer than " +
                                                 SizeText(CURL_MAX_HTTP_HEADER) + ")"};
  }
  switch (code) {
    case CURLE_COULDNT_CONNECT:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return Failure{FailureKind::NoConnection, why};
    case CURLE_OPERATION_TIMEDOUT:
      return Failure{FailureKind::Timeout, why};
    case CURLE_GOT_NOTHING:
      return Failure{FailureKind::NoResponse, why};
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
      return Failure{status_ == 0 ? FailureKind::NoResponse : FailureKind::Reset, why};
    case CURLE_PARTIAL_FILE:
      return Failure{FailureKind::CutShort, why};
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CONNECT_ERROR:
      return Failure{FailureKind::Security, why};
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
      return Failure{FailureKind::BadAddress, why};
    case CURLE_WEIRD_SERVER_REPLY:
      return Failure{FailureKind::BadResponse, why};
    default:
      return Failure{FailureKind::Other, why};
  }
}

}  // namespace folivex
