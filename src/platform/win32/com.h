// COM objects and the calling thread's COM, each released by its owner.
#pragma once

#include <objbase.h>

#include <memory>

namespace folivex {

struct ComReleaser {
  void operator()(IUnknown* object) const {
    if (object) object->Release();
  }
};
template <class T>
using ComPtr = std::unique_ptr<T, ComReleaser>;

// COM for the calling thread for one scope; a thread that already has it
// keeps its own.
class ComScope {
 public:
  ComScope() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  HRESULT result_;
};

}  // namespace folivex
