// Times a window program from its start to the mapping of its top-level
// window, then keeps it running for the caller's measurements and ends it.
// Run by bench/gui_start.py on a private X server without a window manager,
// where a top-level window is mapped as a child of the root window.
//
//   map_watch [--timeout-ms N] [--hold-ms N] [--end-wait-ms N] -- PROGRAM [ARGS...]
//
// Once the window is mapped, prints "pid=P map_us=T window=W size=WxH" and
// keeps the program until its own standard input closes or --hold-ms
// (default 0) has passed: the release, which it acknowledges with
// "held_ms=T". Then it waits up to --end-wait-ms (default 0) for the program
// to end by itself, as it does when the caller asks it to close after the
// acknowledgement, and otherwise ends it: SIGTERM, then SIGKILL after two
// seconds. Last it prints "later_maps=W,... end=HOW status=S": the top-level
// windows mapped during the hold, by anyone (empty for none); how the
// program ended (self, term, kill, or early when it ended before the
// release); its exit code, or 128 + the signal that ended it. Exits 1 when no window was mapped
// within --timeout-ms (default 10000) or the program ended early, else 0.
#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "command_line.hpp"

extern char** environ;

namespace {

using zelvor::bench::parseNumber;

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How often the waits look whether the program is still there.
constexpr milliseconds exitCheckSlice{20};
constexpr milliseconds terminateGrace{2000};

struct Options {
  milliseconds timeout{10000};
  milliseconds hold{0};
  milliseconds endWait{0};
  char** command = nullptr;
};

[[noreturn]] void fail(const std::string& text) {
  std::fprintf(stderr, "map_watch: %s\n", text.c_str());
  std::exit(2);
}

Options parseOptions(int argc, char** argv) {
  Options options;
  int i = 1;
  for (; i + 1 < argc && std::string_view(argv[i]) != "--"; i += 2) {
    const std::string_view name = argv[i];
    const auto number = parseNumber(argv[i + 1]);
    if (!number) fail(std::string(name) + " takes a number");
    if (name == "--timeout-ms") {
      options.timeout = milliseconds(*number);
    } else if (name == "--hold-ms") {
      options.hold = milliseconds(*number);
    } else if (name == "--end-wait-ms") {
      options.endWait = milliseconds(*number);
    } else {
      fail("unknown option " + std::string(name));
    }
  }
  if (i + 1 >= argc || std::string_view(argv[i]) != "--") {
    fail("usage: map_watch [--timeout-ms N] [--hold-ms N] [--end-wait-ms N] -- PROGRAM [ARGS...]");
  }
  options.command = argv + i + 1;
  return options;
}

// The program, for the X I/O error handler: Xlib ends the process when the
// handler returns, and the program must not outlive us.
pid_t programToKill = -1;

int onDisplayLost(Display*) {
  if (programToKill > 0) {
    ::kill(programToKill, SIGKILL);
    ::waitpid(programToKill, nullptr, 0);
  }
  std::fprintf(stderr, "map_watch: lost the connection to the X server\n");
  std::_Exit(2);
}

int pollMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::clamp(left, milliseconds(0), exitCheckSlice).count());
}

// The connection to the X server, watching the root window's children.
class RootWatch {
 public:
  RootWatch() : display_(XOpenDisplay(nullptr)) {
    if (display_ == nullptr) fail("cannot open the display (is DISPLAY set?)");
    XSetIOErrorHandler(onDisplayLost);
    // The program must not inherit our connection.
    ::fcntl(ConnectionNumber(display_), F_SETFD, FD_CLOEXEC);
    XSelectInput(display_, root(), SubstructureNotifyMask);
    // Selected before the program starts, so that its map cannot be missed.
    XSync(display_, False);
  }
  RootWatch(const RootWatch&) = delete;
  RootWatch& operator=(const RootWatch&) = delete;
  ~RootWatch() { XCloseDisplay(display_); }

  int fd() const { return ConnectionNumber(display_); }

  // The next top-level window mapped among the events already arrived.
  std::optional<Window> nextTopLevelMap() {
    while (XPending(display_) > 0) {
      XEvent event;
      XNextEvent(display_, &event);
      if (event.type == MapNotify && event.xmap.event == root() && !event.xmap.override_redirect) {
        return event.xmap.window;
      }
    }
    return std::nullopt;
  }

  std::pair<int, int> size(Window window) {
    XWindowAttributes attributes{};
    if (XGetWindowAttributes(display_, window, &attributes) == 0) return {0, 0};
    return {attributes.width, attributes.height};
  }

 private:
  Window root() const { return DefaultRootWindow(display_); }

  Display* display_;
};

// The program under measurement; ended (bounded) at the latest by the
// destructor.
class WatchedProgram {
 public:
  explicit WatchedProgram(char** command) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // Its input is ours to close, its output not ours to print.
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const int error = ::posix_spawn(&pid_, command[0], &actions, nullptr, command, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) fail(std::string("cannot start ") + command[0]);
  }
  WatchedProgram(const WatchedProgram&) = delete;
  WatchedProgram& operator=(const WatchedProgram&) = delete;
  ~WatchedProgram() {
    if (!ended()) terminate();
  }

  pid_t pid() const { return pid_; }

  // Its exit code, or 128 + the signal that ended it; -1 while it runs.
  int status() const { return status_; }

  bool ended() {
    if (status_ < 0) {
      int raw = 0;
      if (::waitpid(pid_, &raw, WNOHANG) == pid_) status_ = decode(raw);
    }
    return status_ >= 0;
  }

  // True when it ended by itself before the deadline.
  bool awaitEnd(Clock::time_point deadline) {
    while (!ended() && Clock::now() < deadline) ::poll(nullptr, 0, pollMs(deadline));
    return ended();
  }

  // SIGTERM, then SIGKILL after the grace; says which ended it.
  const char* terminate() {
    ::kill(pid_, SIGTERM);
    if (awaitEnd(Clock::now() + terminateGrace)) return "term";
    ::kill(pid_, SIGKILL);
    int raw = 0;
    ::waitpid(pid_, &raw, 0);
    status_ = decode(raw);
    return "kill";
  }

 private:
  static int decode(int raw) { return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw); }

  pid_t pid_ = -1;
  int status_ = -1;
};

// Until standard input closes, the deadline passes or the program ends,
// collecting the top-level windows mapped meanwhile: an error box of the
// program's, say, or another program's window.
std::string hold(RootWatch& watch, WatchedProgram& program, Clock::time_point deadline) {
  std::string laterMaps;
  const auto collect = [&] {
    while (const auto window = watch.nextTopLevelMap()) {
      if (!laterMaps.empty()) laterMaps += ',';
      laterMaps += std::to_string(*window);
    }
  };
  bool inputOpen = true;
  while (inputOpen && Clock::now() < deadline && !program.ended()) {
    collect();
    pollfd fds[2] = {{watch.fd(), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    if (::poll(fds, 2, pollMs(deadline)) > 0 && fds[1].revents != 0) {
      char buffer[256];
      inputOpen = ::read(STDIN_FILENO, buffer, sizeof buffer) > 0;
    }
  }
  collect();
  return laterMaps;
}

std::optional<Window> awaitMap(RootWatch& watch, WatchedProgram& program,
                               Clock::time_point deadline) {
  for (;;) {
    if (auto window = watch.nextTopLevelMap()) return window;
    if (program.ended() || Clock::now() >= deadline) return std::nullopt;
    pollfd ready{watch.fd(), POLLIN, 0};
    ::poll(&ready, 1, pollMs(deadline));
  }
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = parseOptions(argc, argv);
  RootWatch watch;

  const auto start = Clock::now();
  WatchedProgram program(options.command);
  programToKill = program.pid();
  const std::optional<Window> window = awaitMap(watch, program, start + options.timeout);
  const auto mapped = Clock::now();
  if (!window) {
    if (program.ended()) {
      std::fprintf(stderr, "map_watch: %s ended (status %d) before mapping a window\n",
                   options.command[0], program.status());
    } else {
      std::fprintf(stderr, "map_watch: no window mapped within %lld ms\n",
                   static_cast<long long>(options.timeout.count()));
    }
    return 1;
  }

  const auto [width, height] = watch.size(*window);
  const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(mapped - start);
  std::printf("pid=%d map_us=%lld window=%lu size=%dx%d\n", static_cast<int>(program.pid()),
              static_cast<long long>(elapsed.count()), *window, width, height);
  std::fflush(stdout);

  const auto holdStart = Clock::now();
  const std::string laterMaps = hold(watch, program, holdStart + options.hold);
  const char* how = "early";
  if (!program.ended()) {
    // Only now may the caller ask the program to close.
    const auto held = std::chrono::duration_cast<milliseconds>(Clock::now() - holdStart);
    std::printf("held_ms=%lld\n", static_cast<long long>(held.count()));
    std::fflush(stdout);
    how = program.awaitEnd(Clock::now() + options.endWait) ? "self" : program.terminate();
  }
  std::printf("later_maps=%s end=%s status=%d\n", laterMaps.c_str(), how, program.status());
  std::fflush(stdout);
  return std::string_view(how) == "early" ? 1 : 0;
}
