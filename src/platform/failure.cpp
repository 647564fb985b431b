#include "platform/failure.h"

namespace folivex {

bool Retryable(const Failure& failure) {
  switch (failure.kind) {
    case FailureKind::NoConnection:
    case FailureKind::NoResponse:
    case FailureKind::Timeout:
    case FailureKind::TooSlow:
    case FailureKind::Reset:
    case FailureKind::CutShort:
      return true;
    case FailureKind::HttpStatus:
      return failure.status == 408 || failure.status == 429 || failure.status >= 500;
    case FailureKind::IncompleteImage:
      // A 2xx body that stops inside the picture is a transfer cut short
      // that the server did not announce; another try may bring it whole.
      return true;
    default:
      return false;
  }
}

std::string ShortReason(const Failure& failure) {
  switch (failure.kind) {
    case FailureKind::BadAddress: return "bad address";
    case FailureKind::NoConnection: return "no connection";
    case FailureKind::NoResponse: return "no response";
    case FailureKind::Timeout: return "time-out";
    case FailureKind::TooSlow: return "too slow";
    case FailureKind::Reset: return "connection reset";
    case FailureKind::CutShort: return "cut short";
    case FailureKind::Security: return "secure connection failed";
    case FailureKind::TooLarge: return "too large";
    case FailureKind::BadResponse: return "bad response";
    case FailureKind::HttpStatus: return std::to_string(failure.status);
    case FailureKind::EmptyBody: return "empty";
    case FailureKind::NotImage: return "not an image";
    case FailureKind::IncompleteImage: return "image cut short";
    case FailureKind::WriteFailed: return "write failed";
    case FailureKind::ReadFailed: return "read failed";
    case FailureKind::NotRegularFile: return "not a regular file";
    case FailureKind::Stopped: return "stopped";
    case FailureKind::Other: break;
  }
  return failure.detail.empty() ? "failed" : failure.detail;
}

std::string Describe(const Failure& failure) {
  std::string text = failure.kind == FailureKind::HttpStatus
                         ? "the server answered " + std::to_string(failure.status)
                         : ShortReason(failure);
  if (!failure.detail.empty() && failure.detail != text) text += ": " + failure.detail;
  return text;
}

}  // namespace folivex
