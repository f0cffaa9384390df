#include "app/win32/backdrop_image.hpp"

#include "app/failure_text.hpp"
#include "support/failure.hpp"

namespace zelvor {

namespace {
// The box at exit shows this failure as unknown, without its code.
HGDIOBJ loadBitmap(HINSTANCE module, int id) {
  const HBITMAP bitmap = LoadBitmapA(module, MAKEINTRESOURCEA(id));
  if (bitmap == nullptr) throw kelvo::Failure(unknownFailureText);
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
