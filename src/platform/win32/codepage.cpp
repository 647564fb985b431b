// Code page conversion with the system's own functions. wchar_t is a UTF-16
// code unit on Windows, so char16_t buffers are handed over as they are.
#include <windows.h>

#include "platform/codepage.h"

namespace folivex {
namespace {

constexpr UINT kGbk = 936;

LPWSTR Wide(char16_t* units) { return reinterpret_cast<LPWSTR>(units); }
LPCWSTR Wide(const char16_t* units) { return reinterpret_cast<LPCWSTR>(units); }

}  // namespace

// A zero or negative length is refused here as well: Windows reads -1 as
// "up to the terminating zero", which these primitives never mean.
int ConvertUtf8ToUtf16(const char* input, int length, char16_t* output, int capacity) {
  if (length <= 0 || capacity < 0) return 0;
  return MultiByteToWideChar(CP_UTF8, 0, input, length, Wide(output), capacity);
}

int ConvertUtf16ToUtf8(const char16_t* input, int length, char* output, int capacity) {
  if (length <= 0 || capacity < 0) return 0;
  return WideCharToMultiByte(CP_UTF8, 0, Wide(input), length, output, capacity, nullptr,
                             nullptr);
}

int ConvertUtf16ToGbk(const char16_t* input, int length, char* output, int capacity) {
  if (length <= 0 || capacity < 0) return 0;
  return WideCharToMultiByte(kGbk, 0, Wide(input), length, output, capacity, nullptr, nullptr);
}

int ConvertGbkToUtf16(const char* input, int length, char16_t* output, int capacity) {
  if (length <= 0 || capacity < 0) return 0;
  return MultiByteToWideChar(kGbk, 0, input, length, Wide(output), capacity);
}

}  // namespace folivex
