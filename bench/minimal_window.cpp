// The floor of the desktop program's start-up and idle benchmark: the least a
// window of zelvor's client size costs, built with the same flags and FLTK
// library. Run by bench/gui-start beside zelvor.
#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>

#include "app/fltk/main_window.hpp"

int main() {
  using zelvor::MainWindow;
  Fl_Double_Window window(MainWindow::pictureWidth,
                          MainWindow::pictureHeight + MainWindow::statusHeight, "minimal_window");
  window.end();
  window.show();
  return Fl::run();
}
