#include "app/win32/memory_dc.hpp"

#include "support/failure.hpp"

namespace zelvor {

MemoryDc::MemoryDc() : dc_(CreateCompatibleDC(nullptr)) {
  if (dc_ == nullptr) throw kelvo::Failure::lastError();
}

MemoryDc::~MemoryDc() {
  if (original_ != nullptr) SelectObject(dc_, original_);
  DeleteDC(dc_);
}

void MemoryDc::select(HGDIOBJ object) noexcept {
  const HGDIOBJ previous = SelectObject(dc_, object);
  if (original_ == nullptr) original_ = previous;
}

}  // namespace zelvor
