// The window's background picture: the bitmap resource, selected into a
// memory context from which it is copied onto the window.
#pragma once

#include <windows.h>

#include "app/win32/gdi_object.hpp"
#include "app/win32/memory_dc.hpp"

namespace zelvor {

class BackdropImage {
 public:
  // Loads bitmap resource `id` of `module`. Throws a Failure: the unknown
  // failure's text when the bitmap cannot be loaded, the system error when
  // the memory context cannot be made.
  BackdropImage(HINSTANCE module, int id);
  BackdropImage(const BackdropImage&) = delete;
  BackdropImage& operator=(const BackdropImage&) = delete;

  // Copies the picture to `target` at its origin, `width` by `height` pixels.
  void draw(HDC target, int width, int height) const noexcept;

 private:
  // Declared in this order so that the context goes first, handing the
  // bitmap back before the bitmap is deleted.
  GdiObject bitmap_;
  MemoryDc dc_;
};

}  // namespace zelvor
