// The owner of one GDI object (a bitmap, a font), deleted when the owner
// goes.
#pragma once

#include <windows.h>

namespace zelvor {

class GdiObject {
 public:
  explicit GdiObject(HGDIOBJ object) noexcept : object_(object) {}
  ~GdiObject() {
    if (object_ != nullptr) DeleteObject(object_);
  }
  GdiObject(const GdiObject&) = delete;
  GdiObject& operator=(const GdiObject&) = delete;

  HGDIOBJ get() const noexcept { return object_; }

 private:
  HGDIOBJ object_;
};

}  // namespace zelvor
