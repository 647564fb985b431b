// The in-memory control store and the dispatch of GetText, SetText,
// SetPicture and SetPosition to the installed host.
#include <algorithm>
#include <array>
#include <memory>
#include <mutex>
#include <utility>

#include "app/controls.h"
#include "image/image_format.h"
#include "platform/services.h"

namespace folivex {
namespace {

// A picture box shows what the bytes announce as an image (JPEG, PNG, GIF
// or BMP); anything else, an HTML error page say, leaves the box empty.
bool LooksLikeImage(const Bytes& bytes) { return SniffImage(bytes) != ImageKind::None; }

int Index(ControlId control) { return control.value; }

bool Known(ControlId control) {
  const int index = Index(control);
  return index >= 0 && index < kControlCount;
}

}  // namespace

struct MemoryControls::State {
  std::mutex mutex;
  std::array<Text, kControlCount> texts;
  std::array<Bytes, kControlCount> pictures;
  std::array<int, kControlCount> positions{};
  // Shared so that a watcher can be called outside the lock while another
  // thread replaces it.
  std::shared_ptr<const Watcher> watcher;
};

MemoryControls::MemoryControls(const WindowSpec& spec) : state_(std::make_unique<State>()) {
  for (const ControlSpec& control : spec.controls) {
    if (Known(control.id)) state_->texts[Index(control.id)] = control.default_text;
  }
}

MemoryControls::~MemoryControls() = default;

Text MemoryControls::GetText(ControlId control) {
  if (!Known(control)) return {};
  std::lock_guard lock(state_->mutex);
  return state_->texts[Index(control)];
}

void MemoryControls::SetText(ControlId control, const Text& text) {
  if (!Known(control)) return;
  std::shared_ptr<const Watcher> watcher;
  {
    std::lock_guard lock(state_->mutex);
    state_->texts[Index(control)] = text;
    watcher = state_->watcher;
  }
  // Told outside the lock, so the watcher may read the controls itself.
  if (watcher) (*watcher)(static_cast<Control>(control.value), Change::Text);
}

void MemoryControls::SetPicture(ControlId control, const Bytes& image) {
  if (!Known(control)) return;
  Bytes kept = LooksLikeImage(image) ? image : Bytes{};
  std::shared_ptr<const Watcher> watcher;
  {
    std::lock_guard lock(state_->mutex);
    state_->pictures[Index(control)] = std::move(kept);
    watcher = state_->watcher;
  }
  if (watcher) (*watcher)(static_cast<Control>(control.value), Change::Picture);
}

void MemoryControls::SetPosition(ControlId control, int value) {
  if (!Known(control)) return;
  std::shared_ptr<const Watcher> watcher;
  {
    std::lock_guard lock(state_->mutex);
    state_->positions[Index(control)] = std::clamp(value, 0, 100);
    watcher = state_->watcher;
  }
  if (watcher) (*watcher)(static_cast<Control>(control.value), Change::Position);
}

Bytes MemoryControls::Picture(Control control) {
  if (!Known(control)) return {};
  std::lock_guard lock(state_->mutex);
  return state_->pictures[Index(control)];
}

int MemoryControls::Position(Control control) {
  if (!Known(control)) return 0;
  std::lock_guard lock(state_->mutex);
  return state_->positions[Index(control)];
}

void MemoryControls::Watch(Watcher watcher) {
  auto shared = watcher ? std::make_shared<const Watcher>(std::move(watcher)) : nullptr;
  std::lock_guard lock(state_->mutex);
  state_->watcher = std::move(shared);
}

// --- Dispatch to the installed host -----------------------------------------

namespace {

std::mutex& HostMutex() {
  static std::mutex mutex;
  return mutex;
}

std::shared_ptr<ControlHost>& HostSlot() {
  static std::shared_ptr<ControlHost> host;
  return host;
}

}  // namespace

void UseControls(std::shared_ptr<ControlHost> host) {
  std::shared_ptr<ControlHost> previous;
  {
    std::lock_guard lock(HostMutex());
    previous = std::exchange(HostSlot(), std::move(host));
  }
  // The old host is released outside the lock: its destructor may be slow
  // or may itself reach for the controls.
}

std::shared_ptr<ControlHost> CurrentControls() {
  std::lock_guard lock(HostMutex());
  return HostSlot();
}

// Each call holds its own reference to the host, so a host swapped out in
// the middle of a call stays alive until the call is done.
Text GetText(Control control) {
  const auto host = CurrentControls();
  return host ? host->GetText(control) : Text{};
}

void SetText(Control control, const Text& text) {
  if (const auto host = CurrentControls()) host->SetText(control, text);
}

void SetPicture(Control control, const Bytes& image) {
  if (const auto host = CurrentControls()) host->SetPicture(control, image);
}

void SetPosition(Control control, int value) {
  if (const auto host = CurrentControls()) host->SetPosition(control, value);
}

void ShowWindowMessage(const Text& text) {
  if (const auto host = CurrentControls()) {
    host->ShowOwnedMessage(text);
  } else {
    ShowMessage(text);
  }
}

}  // namespace folivex
