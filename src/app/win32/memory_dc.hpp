// The owner of one memory device context, deleted when the owner goes, with
// the object it held at first selected back so that what we selected into
// it is free to be deleted after it.
#pragma once

#include <windows.h>

namespace zelvor {

class MemoryDc {
 public:
  // A context compatible with the screen. Throws Failure.
  MemoryDc();
  ~MemoryDc();
  MemoryDc(const MemoryDc&) = delete;
  MemoryDc& operator=(const MemoryDc&) = delete;

  // Selects `object` (borrowed: it must outlive the context) into the context.
  void select(HGDIOBJ object) noexcept;
  HDC get() const noexcept { return dc_; }

 private:
  HDC dc_;
  HGDIOBJ original_ = nullptr;
};

}  // namespace zelvor
