// zelvor_alert_sample TEXT: shows the error box zelvor would show for TEXT,
// drawn by the same FLTK library with the same dialog grey, so that a test
// can compare the two pictures pixel for pixel and so read zelvor's box text
// exactly without any text recognition. Exits 0 once the box is closed.
#include <FL/Fl.H>
#include <FL/fl_ask.H>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: zelvor_alert_sample TEXT\n");
    return 2;
  }
  // The grey zelvor sets before its first window, which the box takes too.
  Fl::background(212, 208, 200);
  fl_message_title("Error");
  fl_alert("%s", argv[1]);
  return 0;
}
