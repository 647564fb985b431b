// What a test may expect of the system underneath, where Windows (WinInet,
// Win32) and Linux (libcurl, POSIX) genuinely behave differently. Each
// difference is named here once, with the reason, so a test states the
// platform's expectation instead of leaving a case out; win32/ and posix/
// hold the two answers.
#pragma once

namespace folivex {

struct SystemExpectations {
  // A response whose Content-Length is shorter than the body it sends before
  // closing the connection. libcurl stops at the declared length, so the
  // body is cut and a page image is refused as incomplete. WinInet keeps
  // reading until the connection closes and hands back every byte sent, so
  // the whole picture arrives and is saved.
  bool reads_past_short_content_length = false;
};

const SystemExpectations& System();

}  // namespace folivex
