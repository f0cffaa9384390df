#include "app/fltk/main_window.hpp"

#include <FL/Enumerations.H>
#include <FL/Fl.H>
#include <FL/fl_ask.H>

namespace zelvor {

namespace {

// Where the controls lie over the picture; the picture leaves room for them.
constexpr int listX = 89, listY = 87, listW = 237, listH = 21;
constexpr int goX = 168, exitX = 248, buttonY = 126, buttonW = 78, buttonH = 26;
constexpr int textSize = 12;

// FLTK reads '&' in a menu label as a shortcut mark and '@' as a symbol; a
// class name is shown as the site wrote it.
std::string literalLabel(const std::string& text) {
  std::string label;
  label.reserve(text.size());
  for (const char c : text) {
    if (c == '&' || c == '@') label.push_back(c);
    label.push_back(c);
  }
  return label;
}

}  // namespace

MainWindow::MainWindow(int x, int y, const std::string& title, DecodedImage picture,
                       DecodedImage icon, Handlers handlers)
    : Fl_Double_Window(x, y, pictureWidth, pictureHeight + statusHeight),
      handlers_(std::move(handlers)),
      picturePixels_(std::move(picture)),
      iconPixels_(std::move(icon)),
      pictureImage_(picturePixels_.pixels.data(), picturePixels_.width, picturePixels_.height,
                    picturePixels_.depth),
      iconImage_(iconPixels_.pixels.empty() ? nullptr : iconPixels_.pixels.data(),
                 iconPixels_.width, iconPixels_.height, iconPixels_.depth),
      picture_(0, 0, pictureWidth, pictureHeight),
      classList_(listX, listY, listW, listH),
      go_(goX, buttonY, buttonW, buttonH, "&Go"),
      exit_(exitX, buttonY, buttonW, buttonH, "E&xit"),
      status_(0, pictureHeight, pictureWidth, statusHeight),
      progress_(2, pictureHeight + 2, pictureWidth - 4, statusHeight - 4),
      lastPosition_(x, y) {
  end();
  copy_label(title.c_str());
  xclass("zelvor");
  // A fixed size: no resizing, so no maximising either.
  size_range(w(), h(), w(), h());
  callback(onClose, this);

  picture_.box(FL_NO_BOX);
  picture_.image(&pictureImage_);

  classList_.textsize(textSize);
  classList_.callback(onChoice, this);
  go_.labelsize(textSize);
  go_.callback(onGo, this);
  // A button takes the letter its label underlines as a shortcut even
  // without Alt; only Alt+G and Alt+X may act, and the window handles both.
  go_.shortcut(FL_ALT | 'g');
  exit_.labelsize(textSize);
  exit_.callback(onExit, this);
  exit_.shortcut(FL_ALT | 'x');
  // Busy from the first frame: the fetch job's own busy look arrives through
  // the loop, after the window may already have been drawn once.
  classList_.deactivate();
  go_.deactivate();

  status_.box(FL_THIN_DOWN_BOX);
  status_.align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_CLIP);
  status_.labelsize(textSize);
  progress_.box(FL_THIN_DOWN_BOX);
  progress_.color(FL_BACKGROUND_COLOR);
  progress_.selection_color(fl_rgb_color(10, 36, 106));
  progress_.minimum(0);
  progress_.maximum(View::progressRange);
  progress_.value(0);
  progress_.hide();

  if (!iconPixels_.pixels.empty()) this->icon(&iconImage_);
}

MainWindow::~MainWindow() {
  Fl::remove_timeout(onTick, this);
  // The list must not keep pointing into our menu while the members go.
  classList_.menu(nullptr);
}

void MainWindow::setStatusText(const std::string& text) {
  status_.copy_label(text.c_str());
  status_.redraw();
}

void MainWindow::setProgressPosition(int position) {
  progress_.value(static_cast<float>(position));
}

void MainWindow::setProgressVisible(bool visible) {
  if (visible) {
    progress_.show();
  } else {
    progress_.hide();
  }
  status_.redraw();
}

void MainWindow::setBusyCursor(bool busy) { cursor(busy ? FL_CURSOR_WAIT : FL_CURSOR_DEFAULT); }

void MainWindow::setClassListEnabled(bool enabled) {
  if (enabled) {
    classList_.activate();
  } else {
    classList_.deactivate();
  }
}

void MainWindow::setGoEnabled(bool enabled) {
  if (enabled) {
    go_.activate();
  } else {
    go_.deactivate();
  }
}

void MainWindow::clearClasses() {
  labels_.clear();
  rebuildMenu();
}

void MainWindow::addClasses(const std::vector<std::string>& names) {
  for (const std::string& name : names) labels_.push_back(literalLabel(name));
  rebuildMenu();
}

void MainWindow::selectClass(int position) {
  if (position < 0 || position >= classCount()) return;
  classList_.value(position);
  selection_.store(position);
}

// A list handed a new menu selects its first entry; put back what was
// selected before, or nothing.
void MainWindow::rebuildMenu() {
  const int kept = classList_.value();
  menu_.clear();
  for (const std::string& label : labels_) {
    Fl_Menu_Item item{};
    item.text = label.c_str();
    menu_.push_back(item);
  }
  menu_.push_back(Fl_Menu_Item{});
  classList_.menu(labels_.empty() ? nullptr : menu_.data());
  classList_.value(kept >= 0 && kept < classCount() ? kept : -1);
  selection_.store(classList_.value());
  classList_.redraw();
}

void MainWindow::startProgressTimer() {
  if (timerRunning_) return;
  timerRunning_ = true;
  Fl::add_timeout(tickSeconds, onTick, this);
}

void MainWindow::stopProgressTimer() {
  timerRunning_ = false;
  Fl::remove_timeout(onTick, this);
}

std::pair<int, int> MainWindow::clientPosition() {
  if (shown()) lastPosition_ = {x(), y()};
  return lastPosition_;
}

void MainWindow::showError(const std::string& text) {
  if (!quit_) showErrorBox(text);
}

void MainWindow::hideAndQuit(int exitCode) {
  quit_ = Quit{Quit::By::window, exitCode};
  hideWindow();
}

void MainWindow::quitForJob(int exitCode) {
  if (!quit_ || quit_->by == Quit::By::job) quit_ = Quit{Quit::By::job, exitCode};
  hideWindow();
}

void MainWindow::showErrorBox(const std::string& text) {
  fl_message_title("Error");
  fl_alert("%s", text.c_str());
}

void MainWindow::hideWindow() {
  clientPosition();
  hide();
}

int MainWindow::handle(int event) {
  switch (event) {
    case FL_ENTER:
    case FL_MOVE:
      // The status bar is no place of its own: over it, and outside the
      // window, the last hint stays.
      if (Fl::event_y() < pictureHeight) trackHover(controlAt(Fl::event_x(), Fl::event_y()));
      break;
    case FL_KEYBOARD:
    case FL_SHORTCUT:
      // The window takes every Alt key before any control sees it: G and X
      // act, whatever is enabled, and the rest do nothing.
      if (Fl::event_state(FL_ALT)) {
        const int key = Fl::event_key();
        if (key == 'g') handlers_.go();
        if (key == 'x') handlers_.exit();
        return 1;
      }
      break;
    default:
      break;
  }
  return Fl_Double_Window::handle(event);
}

MainWindow::Control MainWindow::controlAt(int x, int y) const {
  const auto under = [x, y](const Fl_Widget& widget) {
    return widget.visible() && widget.active_r() && x >= widget.x() &&
           x < widget.x() + widget.w() && y >= widget.y() && y < widget.y() + widget.h();
  };
  if (under(go_)) return Control::go;
  if (under(exit_)) return Control::exit;
  if (under(classList_)) return Control::classList;
  return Control::none;
}

void MainWindow::trackHover(Control control) {
  if (control == hovered_) return;
  hovered_ = control;
  handlers_.hover(control);
}

void MainWindow::onClose(Fl_Widget*, void* window) {
  // FLTK also calls the window's callback for Escape; only the close box
  // closes this window.
  if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) return;
  static_cast<MainWindow*>(window)->handlers_.exit();
}

void MainWindow::onGo(Fl_Widget*, void* window) {
  static_cast<MainWindow*>(window)->handlers_.go();
}

void MainWindow::onExit(Fl_Widget*, void* window) {
  static_cast<MainWindow*>(window)->handlers_.exit();
}

void MainWindow::onChoice(Fl_Widget*, void* window) {
  auto* self = static_cast<MainWindow*>(window);
  self->selection_.store(self->classList_.value());
}

void MainWindow::onTick(void* window) {
  auto* self = static_cast<MainWindow*>(window);
  Fl::repeat_timeout(tickSeconds, onTick, window);
  self->handlers_.progressTick();
}

}  // namespace zelvor
