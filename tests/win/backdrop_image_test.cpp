// The picture that cannot be loaded: its failure is the unknown failure's
// text, as the box at exit has always shown it.
#include "app/win32/backdrop_image.hpp"

#include <gtest/gtest.h>

#include <string>

#include "app/failure_text.hpp"
#include "app/win32/main_window.hpp"
#include "support/failure.hpp"

namespace {

// The test program links no resources at all, so the bitmap is missing; the
// failure's text carries no code, so the reason is read here.
TEST(BackdropImageTest, AMissingBitmapThrowsTheUnknownFailure) {
  const HINSTANCE module = GetModuleHandleA(nullptr);
  EXPECT_EQ(LoadBitmapA(module, MAKEINTRESOURCEA(zelvor::MainWindow::pictureId)), nullptr);
  const DWORD code = GetLastError();
  std::string thrownText;
  std::string shown;
  try {
    const zelvor::BackdropImage image(module, zelvor::MainWindow::pictureId);
  } catch (const kelvo::Failure& thrown) {
    thrownText = thrown;
    try {
      throw;
    } catch (...) {
      shown = zelvor::currentFailureText();
    }
  }
  EXPECT_EQ(code, static_cast<DWORD>(ERROR_RESOURCE_DATA_NOT_FOUND));
  EXPECT_EQ(thrownText, "Unknown error");
  EXPECT_EQ(shown, "Unknown error");
}

}  // namespace
