// An owning WinInet handle: closed once, when it goes out of scope.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <memory>

namespace folivex {

struct InternetHandleCloser {
  void operator()(HINTERNET handle) const {
    if (handle) InternetCloseHandle(handle);
  }
};
using InternetHandle = std::unique_ptr<void, InternetHandleCloser>;

}  // namespace folivex
