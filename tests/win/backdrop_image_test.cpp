// The picture that cannot be loaded: its failure is the unknown failure's
// text, as the box at exit has always shown it.
#include "app/win32/backdrop_image.hpp"

#include <gtest/gtest.h>

#include <string>

#include "app/failure_text.hpp"
#include "app/win32/main_window.hpp"
#include "support/failure.hpp"

namespace {

// The test program links no resources at all.
TEST(BackdropImageTest, AMissingBitmapThrowsTheUnknownFailure) {
  DWORD code = 0;
  std::string thrownText;
  std::string shown;
  try {
    const zelvor::BackdropImage image(GetModuleHandleA(nullptr), zelvor::MainWindow::pictureId);
  } catch (const kelvo::Failure& thrown) {
    code = GetLastError();
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
