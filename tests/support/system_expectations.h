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
  // A page written while another run cleans the folder without pause. On
  // Linux every write lands. Under Wine a write now and then reports
  // success while the file keeps its previous contents (about 3 in 200
  // writes with a cleaner spinning beside them; not yet explained, and
  // not seen in a download, which cleans a folder once before its first
  // page), so there the test is not run as a proof.
  bool writes_survive_a_spinning_cleaner = true;
};

const SystemExpectations& System();

}  // namespace folivex
