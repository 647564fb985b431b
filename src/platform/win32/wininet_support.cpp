#include "platform/win32/wininet_support.h"

#include <algorithm>

#include "platform/codepage.h"
#include "platform/win32/wide_text.h"

namespace folivex {
namespace {

std::string SystemMessage(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                      FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS;
  std::string out = "error " + std::to_string(error);
  if (FormatMessageW(flags, GetModuleHandleW(L"wininet.dll"), error, 0,
                     reinterpret_cast<wchar_t*>(&text), 0, nullptr) &&
      text) {
    std::wstring message(text);
    LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r')) {
      message.pop_back();
    }
    out += " (" + Utf8(message) + ")";
  }
  return out;
}

}  // namespace

Failure InternetFailure(DWORD error, bool answered) {
  FailureKind kind = FailureKind::Other;
  switch (error) {
    case ERROR_INTERNET_CANNOT_CONNECT:
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
    case WSAECONNREFUSED:
      kind = FailureKind::NoConnection;
      break;
    case ERROR_INTERNET_TIMEOUT:
    case WSAETIMEDOUT:
      kind = FailureKind::Timeout;
      break;
    // Wine hands on the socket's own codes as well as WinInet's.
    case ERROR_INTERNET_CONNECTION_RESET:
    case ERROR_INTERNET_CONNECTION_ABORTED:
    case WSAECONNRESET:
    case WSAECONNABORTED:
      kind = answered ? FailureKind::Reset : FailureKind::NoResponse;
      break;
    case ERROR_HTTP_INVALID_SERVER_RESPONSE:
      kind = FailureKind::NoResponse;
      break;
    case ERROR_INTERNET_INVALID_CA:
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
    case ERROR_INTERNET_SEC_CERT_REVOKED:
    case ERROR_INTERNET_SEC_CERT_ERRORS:
    case ERROR_INTERNET_SECURITY_CHANNEL_ERROR:
      kind = FailureKind::Security;
      break;
    case ERROR_INTERNET_INVALID_URL:
    case ERROR_INTERNET_UNRECOGNIZED_SCHEME:
      kind = FailureKind::BadAddress;
      break;
    default:
      break;
  }
  return {kind, SystemMessage(error)};
}

Failure SendFailure(DWORD error, std::uint64_t waited_ms, int idle_timeout_ms) {
  const bool waited_out =
      idle_timeout_ms > 0 && waited_ms >= static_cast<std::uint64_t>(idle_timeout_ms);
  if (waited_out && (error == ERROR_INTERNET_CONNECTION_ABORTED || error == WSAECONNABORTED)) {
    return Failure{FailureKind::Timeout,
                   "no answer within " + std::to_string(idle_timeout_ms) + " ms"};
  }
  return InternetFailure(error, false);
}

std::wstring QueryHeaderText(HINTERNET request, DWORD what) {
  std::wstring value(256, L'\0');
  for (int attempt = 0; attempt < 3; ++attempt) {
    DWORD size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    if (HttpQueryInfoW(request, what, value.data(), &size, nullptr)) {
      value.resize(size / sizeof(wchar_t));
      return value;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return {};
    value.assign(size / sizeof(wchar_t) + 1, L'\0');
  }
  return {};
}

std::optional<Failure> CheckHeaderBlock(HINTERNET request) {
  // With no buffer the query fails and names the size it needs, in bytes
  // with the closing zero.
  DWORD size = 0;
  if (HttpQueryInfoA(request, HTTP_QUERY_RAW_HEADERS_CRLF, nullptr, &size, nullptr) ||
      GetLastError() != ERROR_INSUFFICIENT_BUFFER || size <= kMaxHeaderBlockBytes + 1) {
    return std::nullopt;
  }
  return HeaderBlockTooLarge();
}

long long AnnouncedLength(HINTERNET request) {
  const std::wstring length = QueryHeaderText(request, HTTP_QUERY_CONTENT_LENGTH);
  if (length.empty()) return -1;
  return ParseContentLength(Utf8(length)).value_or(-1);
}

BodyReader::BodyReader(HINTERNET request, const FetchOptions& limits)
    : request_(request),
      max_body_bytes_(limits.max_body_bytes),
      rate_limit_(limits.rate_limit),
      cancel_(limits.cancel),
      pace_(limits.idle_timeout_ms, limits.min_bytes_per_second, TransferPace::Clock::now()) {}

std::optional<Failure> BodyReader::Begin() {
  announced_ = AnnouncedLength(request_);
  return CheckAnnouncedLength(announced_, max_body_bytes_);
}

std::optional<Failure> BodyReader::Read(void* buffer, DWORD size, DWORD* count) {
  *count = 0;
  if (cancel_ && *cancel_) return Failure{FailureKind::Stopped, {}};
  // Waits until some of the body has arrived (or it ended), so the read
  // below returns at once with what is there.
  DWORD available = 0;
  if (!InternetQueryDataAvailable(request_, &available, 0, 0)) {
    return InternetFailure(GetLastError(), true);
  }
  if (available == 0) return std::nullopt;
  DWORD read = 0;
  if (!InternetReadFile(request_, buffer, std::min(size, available), &read)) {
    return InternetFailure(GetLastError(), true);
  }
  received_ += read;
  if (auto failure = CheckBodyBound(received_, max_body_bytes_)) return failure;
  if (auto failure = pace_.Check(received_, received_, TransferPace::Clock::now())) return failure;
  if (rate_limit_ && read > 0) {
    const auto before = TransferPace::Clock::now();
    rate_limit_->Take(read);
    pace_.Held(TransferPace::Clock::now() - before);
  }
  *count = read;
  return std::nullopt;
}

std::optional<Failure> BodyReader::Finish() const { return CheckLength(received_, announced_); }

}  // namespace folivex
