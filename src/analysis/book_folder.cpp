#include "analysis/book_folder.h"

#include <cstdint>
#include <cstdio>

#include "analysis/folder_name.h"
#include "platform/services.h"

namespace folivex {
namespace {

constexpr std::string_view kRecordHead = "folivex book\n";
constexpr std::string_view kImageBaseKey = "image-base: ";
constexpr std::string_view kAddressKey = "address: ";

// Eight hex digits of FNV-1a over the image address: the same book gets the
// same mark on every run and on every machine.
std::string Mark(const Text& image_base) {
  std::uint32_t hash = 2166136261u;
  for (const unsigned char c : image_base) {
    hash ^= c;
    hash *= 16777619u;
  }
  char text[9];
  std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(hash));
  return text;
}

// The first `limit` bytes of a code page 936 name, never ending inside a
// double-byte character.
Text CutName(const Text& name, std::size_t limit) {
  std::size_t i = 0;
  while (i < name.size()) {
    const auto byte = static_cast<unsigned char>(name[i]);
    const std::size_t width = byte >= 0x81 && byte <= 0xFE && i + 1 < name.size() ? 2 : 1;
    if (i + width > limit) break;
    i += width;
  }
  return name.substr(0, i);
}

// Whose pages the folder holds: nullopt when it has no record.
std::optional<Text> RecordedImageBase(const Text& folder) {
  const Text record_path = ConcatText(folder, kBookRecordName);
  if (!FileExists(record_path)) return std::nullopt;
  const std::optional<Bytes> bytes = ReadBytesFile(record_path);
  if (!bytes) return Text();  // unreadable: someone else's, to be safe
  return ImageBaseOfRecord(Text(bytes->begin(), bytes->end()));
}

}  // namespace

Text BookRecordText(const Text& image_base, const Text& address) {
  // Addresses come from a page; a line break inside one would forge a key.
  auto line = [](const Text& value) {
    Text clean = value;
    for (char& c : clean) {
      if (c == '\n' || c == '\r') c = ' ';
    }
    return clean;
  };
  return ConcatText(kRecordHead, kImageBaseKey, line(image_base), "\n", kAddressKey, line(address), "\n");
}

Text ImageBaseOfRecord(const Text& record) {
  if (record.rfind(kRecordHead, 0) != 0) return Text();
  const std::size_t key = record.find(ConcatText("\n", kImageBaseKey));
  if (key == Text::npos) return Text();
  const std::size_t start = key + 1 + kImageBaseKey.size();
  const std::size_t end = record.find('\n', start);
  return record.substr(start, end == Text::npos ? Text::npos : end - start);
}

BookFolder PrepareBookFolder(const Text& root, const Text& title, const Text& address,
                             const Text& image_base) {
  const Text base_name = SafeFolderName(title, address);
  const std::string mark = Mark(image_base);
  BookFolder folder;
  // The plain name, then the marked one; a second book whose mark collides
  // with a third's takes a counted one.
  for (int round = 0; round < 100; ++round) {
    if (round == 0) {
      folder.name = base_name;
    } else {
      const Text suffix = ConcatText(" (", mark, round == 1 ? std::string() : "-" + std::to_string(round), ")");
      folder.name = ConcatText(CutName(base_name, kMaxFolderNameBytes - suffix.size()), suffix);
    }
    folder.path = ConcatText(root, PathSeparator(), folder.name, PathSeparator());
    if (!FolderExists(folder.path)) {
      if (!CreateFolder(folder.path) && !FolderExists(folder.path)) {
        folder.failure = Failure{FailureKind::WriteFailed, "cannot create the folder"};
        return folder;
      }
    } else if (const std::optional<Text> owner = RecordedImageBase(folder.path);
               owner && *owner != image_base) {
      continue;  // another book's folder
    }
    const FileResult claimed = WriteFileAtomically(ConcatText(folder.path, kBookRecordName),
                                                   TextToBytes(BookRecordText(image_base, address)));
    if (!claimed.ok) folder.failure = Failure{FailureKind::WriteFailed, claimed.error};
    return folder;
  }
  folder.failure = Failure{FailureKind::WriteFailed, "no free folder name for the book"};
  return folder;
}

}  // namespace folivex
