#include "app/save_folder.h"

#include <memory>
#include <mutex>
#include <utility>

namespace folivex {
namespace {

std::mutex& Lock() {
  static std::mutex lock;
  return lock;
}

std::shared_ptr<const Text>& Current() {
  static std::shared_ptr<const Text> current;
  return current;
}

}  // namespace

Text SaveFolder() {
  std::shared_ptr<const Text> held;
  {
    std::lock_guard guard(Lock());
    held = Current();
  }
  return held ? *held : Text();
}

void ReplaceSaveFolder(Text folder) {
  auto fresh = std::make_shared<const Text>(std::move(folder));
  std::shared_ptr<const Text> previous;
  {
    std::lock_guard guard(Lock());
    previous = std::exchange(Current(), std::move(fresh));
  }
  // `previous` is released here, outside the lock.
}

void ReleaseSaveFolder() {
  std::shared_ptr<const Text> previous;
  {
    std::lock_guard guard(Lock());
    previous = std::exchange(Current(), nullptr);
  }
}

}  // namespace folivex
