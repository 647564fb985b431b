// Why something at the edge of the program failed: a fetch, a page check, a
// file written or read. One shape everywhere, so callers decide by kind (is
// it worth asking again?) and people read the detail.
#pragma once

#include <optional>
#include <string>

namespace folivex {

enum class FailureKind {
  BadAddress,       // not an http or https address with a host
  NoConnection,     // the host could not be resolved or reached
  NoResponse,       // connected, but no answer came
  Timeout,          // nothing arrived for too long
  TooSlow,          // data kept trickling in below the lowest useful rate
  Reset,            // the connection broke during the answer
  CutShort,         // fewer body bytes than announced
  Security,         // the secure connection could not be set up or trusted
  TooLarge,         // the body is larger than allowed
  BadResponse,      // the answer broke HTTP itself (a header block too large, …)
  HttpStatus,       // the server answered with a status other than 2xx
  EmptyBody,        // 2xx with no bytes
  NotImage,         // the body is no picture
  IncompleteImage,  // a picture that does not reach its end mark
  WriteFailed,      // a file could not be written or put in place
  ReadFailed,       // a file could not be read
  NotRegularFile,   // something other than a plain file stands where a file goes
  Stopped,          // the user stopped the run before it ended
  Other,
};

struct Failure {
  FailureKind kind = FailureKind::Other;
  std::string detail;  // for people, in UTF-8; may be empty
  int status = 0;      // HttpStatus: the code the server sent
};

// Whether asking again can heal the failure: broken or slow connections,
// cut-short bodies, 408, 429 and 5xx. A missing page, a refused one, a bad
// address, a body that is no picture and a failed write stay as they are.
bool Retryable(const Failure& failure);

// A few words for lists of failed pages: "404", "time-out", "not an image".
std::string ShortReason(const Failure& failure);

// The whole reason for one line of a report: the short reason, then the
// detail when it adds anything.
std::string Describe(const Failure& failure);

}  // namespace folivex
