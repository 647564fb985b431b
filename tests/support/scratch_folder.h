// A fresh folder for one test, removed with everything in it afterwards.
// Its path is plain ASCII, so it is the same text in code page 936.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "text/text.h"

namespace folivex {

// The name of the record a book folder keeps of its book.
inline constexpr char kBookRecordFileName[] = ".folivex-book";

class ScratchFolder {
 public:
  ScratchFolder() {
    static std::atomic<int> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    root_ = std::filesystem::temp_directory_path() /
            ("folivex-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(root_);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::filesystem::path& root() const { return root_; }
  // The folder as the program's texts write it, without a trailing separator.
  Text text() const { return root_.string(); }

  // Every file and folder below the root, as paths relative to it, but for
  // the record each book folder holds of its book.
  std::set<std::string> Tree() const {
    std::set<std::string> entries;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root_)) {
      if (entry.path().filename() == kBookRecordFileName) continue;
      entries.insert(std::filesystem::relative(entry.path(), root_).generic_string());
    }
    return entries;
  }

  static std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }

 private:
  std::filesystem::path root_;
};

}  // namespace folivex
