#include "platform/process_settings.h"

#include <cstdio>
#include <memory>
#include <mutex>
#include <utility>

#include "platform/codepage.h"
#include "platform/window_spec.h"

namespace folivex {
namespace {

struct Settings {
  std::mutex mutex;
  std::optional<Text> clipboard;
  // Shared, so a hook being replaced stays alive while another thread runs it.
  std::shared_ptr<const MessageHook> message_hook;
};

Settings& Shared() {
  static Settings settings;
  return settings;
}

}  // namespace

void SetClipboardOverride(std::optional<Text> text) {
  std::lock_guard lock(Shared().mutex);
  Shared().clipboard = std::move(text);
}

std::optional<Text> ClipboardOverride() {
  std::lock_guard lock(Shared().mutex);
  return Shared().clipboard;
}

void SetMessageHook(MessageHook hook) {
  auto shared = hook ? std::make_shared<const MessageHook>(std::move(hook)) : nullptr;
  std::lock_guard lock(Shared().mutex);
  Shared().message_hook = std::move(shared);
}

bool RunMessageHook(const Text& text, const Text& title) {
  std::shared_ptr<const MessageHook> hook;
  {
    std::lock_guard lock(Shared().mutex);
    hook = Shared().message_hook;
  }
  if (!hook) return false;
  (*hook)(text, title);
  return true;
}

const Text& DefaultMessageTitle() {
  static const Text title = Utf8ToGbkText("信息：");
  return title;
}

// A FILE* on both systems; opening and closing differ by system.
StreamFile::~StreamFile() {
  if (handle_) std::fclose(static_cast<FILE*>(handle_));
}

StreamFile::StreamFile(StreamFile&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), failed_(std::exchange(other.failed_, false)) {}

StreamFile& StreamFile::operator=(StreamFile&& other) noexcept {
  if (this != &other) {
    if (handle_) std::fclose(static_cast<FILE*>(handle_));
    handle_ = std::exchange(other.handle_, nullptr);
    failed_ = std::exchange(other.failed_, false);
  }
  return *this;
}

std::size_t StreamFile::Read(void* buffer, std::size_t size) {
  if (!handle_) return 0;
  return std::fread(buffer, 1, size, static_cast<FILE*>(handle_));
}

bool StreamFile::Write(const void* data, std::size_t size) {
  if (!handle_) return false;
  if (std::fwrite(data, 1, size, static_cast<FILE*>(handle_)) != size) failed_ = true;
  return !failed_;
}

// A host without a window of its own: the box has no owner.
void ControlHost::ShowOwnedMessage(const Text& text) { ShowMessage(text); }

}  // namespace folivex
