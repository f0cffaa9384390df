// The picture that cannot be loaded: its failure goes as a bare system code,
// which the box at exit reads as an unknown error.
#include "app/win32/backdrop_image.hpp"

#include <gtest/gtest.h>

#include <string>

#include "app/failure_text.hpp"
#include "app/win32/main_window.hpp"

namespace {

// The test program links no resources at all.
TEST(BackdropImageTest, AMissingBitmapThrowsTheBareCodeShownAsUnknown) {
  unsigned code = 0;
  std::string shown;
  try {
    const zelvor::BackdropImage image(GetModuleHandleA(nullptr), zelvor::MainWindow::pictureId);
  } catch (const unsigned thrown) {
    code = thrown;
    try {
      throw;
    } catch (...) {
      shown = zelvor::currentFailureText();
    }
  }
  EXPECT_EQ(code, static_cast<unsigned>(ERROR_RESOURCE_DATA_NOT_FOUND));
  EXPECT_EQ(shown, "Unknown error");
}

}  // namespace
