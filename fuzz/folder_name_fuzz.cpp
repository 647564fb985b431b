// Folder names from any title: one folder level that both file systems
// take, within their length limits once converted, whatever the bytes.
#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz_check.h"

#include <array>
#include <string>
#include <string_view>

#include "analysis/folder_name.h"
#include "platform/codepage.h"
#include "text/text.h"

namespace {

bool IsDevice(std::string_view name) {
  std::string stem(name.substr(0, name.find('.')));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  for (char& c : stem) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 0x20);
  }
  static constexpr std::array<std::string_view, 6> kPlain = {"con", "prn", "aux", "nul", "conin$", "conout$"};
  for (std::string_view device : kPlain) {
    if (stem == device) return true;
  }
  return stem.size() == 4 && (stem.starts_with("com") || stem.starts_with("lpt")) && stem[3] >= '0' &&
         stem[3] <= '9';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  using namespace folivex;
  FuzzedDataProvider data(bytes, size);
  const std::string address = data.ConsumeRandomLengthString(64);
  const std::string title = data.ConsumeRemainingBytesAsString();
  const Text name = SafeFolderName(title, address);

  Check(!name.empty() && name != "." && name != "..");
  Check(name == SafeFolderName(title, address));
  // Every byte belongs to a character the code page reads as one: a byte
  // 0x81..0xFE leads a valid pair, nothing is half of one.
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto byte = static_cast<unsigned char>(name[i]);
    if (StartsGbkPair(name, i)) {
      ++i;
    } else {
      Check(byte < 0x81 || byte == 0xFF);
    }
  }
  // As the file systems see it: no separator, no character Windows refuses,
  // no control character, within both length limits, and every character
  // survives the way to UTF-8 and back.
  const std::u16string wide = GbkToUtf16(name);
  for (char16_t c : wide) {
    Check(c >= 0x20 && c != 0x7F);
    Check(std::u16string_view(u"/\\:*?\"<>|").find(c) == std::u16string_view::npos);
  }
  const std::string utf8 = GbkToUtf8(name);
  Check(utf8.size() <= static_cast<std::size_t>(kMaxFolderNameUtf8Bytes));
  Check(wide.size() <= static_cast<std::size_t>(kMaxFolderNameUtf16Units));
  Check(Utf8ToGbkText(utf8) == name);
  // Windows drops trailing dots and spaces; a leading dot hides the folder.
  Check(name.back() != '.' && name.back() != ' ' && name.front() != '.');
  Check(!IsDevice(name));

  // A second book of the same title: the name with a mark added still fits.
  constexpr std::string_view kMark = " (0123abcd-12)";
  const Text marked = FolderNameWithSuffix(name, kMark);
  Check(marked.ends_with(kMark) && name.starts_with(marked.substr(0, marked.size() - kMark.size())));
  Check(GbkToUtf8(marked).size() <= static_cast<std::size_t>(kMaxFolderNameUtf8Bytes));
  Check(GbkToUtf16(marked).size() <= static_cast<std::size_t>(kMaxFolderNameUtf16Units));
  Check(Utf8ToGbkText(GbkToUtf8(marked)) == marked);
  return 0;
}
