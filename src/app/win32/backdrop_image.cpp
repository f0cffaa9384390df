// Loading the background picture and copying it onto the window.
#include "app/win32/backdrop_image.hpp"

namespace zelvor {

namespace {
// The code goes bare, without a text: the box at exit shows it as an unknown
// error.
HGDIOBJ loadBitmap(HINSTANCE module, int id) {
  const HBITMAP bitmap = LoadBitmapA(module, MAKEINTRESOURCEA(id));
  if (bitmap == nullptr) throw static_cast<unsigned>(GetLastError());
  return bitmap;
}
}  // namespace

BackdropImage::BackdropImage(HINSTANCE module, int id) : bitmap_(loadBitmap(module, id)) {
  dc_.select(bitmap_.get());
}

void BackdropImage::draw(HDC target, int width, int height) const noexcept {
  BitBlt(target, 0, 0, width, height, dc_.get(), 0, 0, SRCCOPY);
}

}  // namespace zelvor
