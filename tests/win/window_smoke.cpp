// window_smoke ZELVOR [SHOT-DIR]: runs the real zelvor.exe twice under Wine
// and checks what a user would see and what it leaves behind:
//   1. it opens its window where the registry says, with the fixed style,
//      size and control layout, busy, and says it cannot reach its site;
//      the controls' hints show in the status bar, and Alt+G runs a test
//      job although Go is disabled;
//   2. a second start hands over to the first and ends with 0;
//   3. Alt+X ends it with 1 and saves where the window was moved to;
//   4. closing the window while the error box is still open ends it with 1
//      and saves the position it started at.
// The site is unreachable on purpose: the script around this program runs
// it where only loopback exists. With SHOT-DIR (a Unix path), it writes
// "window-up" there with the client area's screen corner once the window
// and its box are up, and waits a while for "shot-taken".
//
// window_smoke --measure ZELVOR CLASS OPENED: the whole loop against a site
// that answers (the caller runs one and points the registry at it): the list
// fills with CLASS alone, Go measures and posts, the results page opens, and
// Alt+X ends it with 1. The caller's stand-in browser writes the address it
// was given to OPENED (a Unix path); the caller checks the run at the site.
//
// Exits 0 when every check held, 1 otherwise; every wait is bounded and
// every process it started is ended before it exits.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/owned_handle_win32.hpp"

namespace {

constexpr const char* title = "Quorvane Zelvor v2.1";
constexpr const char* settingsKeyPath = "SOFTWARE\\Kivrel\\Zelvor";
constexpr DWORD startMs = 60000;
constexpr DWORD stepMs = 30000;
constexpr DWORD shotMs = 15000;

int failures = 0;

void check(bool held, const std::string& what) {
  std::printf("%s: %s\n", held ? "ok" : "FAILED", what.c_str());
  std::fflush(stdout);
  if (!held) ++failures;
}

// Polls `done` every 50 ms for up to `timeoutMs`.
bool waitFor(const std::function<bool()>& done, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (!done()) {
    if (GetTickCount64() >= deadline) return false;
    Sleep(50);
  }
  return true;
}

std::string windowsPath(std::string path) {
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path.starts_with("\\") ? "Z:" + path : path;
}

// One started zelvor.exe, ended by force if it is still running when the
// test is done with it.
class Zelvor {
 public:
  explicit Zelvor(const std::string& program) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    std::string commandLine = "\"" + program + "\"";
    if (!CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &started)) {
      return;
    }
    CloseHandle(started.hThread);
    process_.emplace(started.hProcess);
  }
  ~Zelvor() {
    if (process_ && !ended(0)) {
      TerminateProcess(process_->get(), 255);
      WaitForSingleObject(process_->get(), 5000);
    }
  }
  Zelvor(const Zelvor&) = delete;
  Zelvor& operator=(const Zelvor&) = delete;

  bool started() const { return process_.has_value(); }
  bool ended(DWORD timeoutMs) const {
    return process_ && WaitForSingleObject(process_->get(), timeoutMs) == WAIT_OBJECT_0;
  }
  // The exit code once ended within `timeoutMs`; none otherwise.
  std::optional<DWORD> exitCode(DWORD timeoutMs) const {
    DWORD code = 0;
    if (!ended(timeoutMs) || !GetExitCodeProcess(process_->get(), &code)) return std::nullopt;
    return code;
  }

 private:
  std::optional<kelvo::OwnedHandle> process_;
};

HWND mainWindow() {
  const HWND window = FindWindowA(title, nullptr);
  return window != nullptr && IsWindowVisible(window) ? window : nullptr;
}

std::string textOf(HWND window) {
  char text[256] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

// The texts of a window's children of one class.
std::vector<std::string> childTexts(HWND parent, const char* className) {
  std::vector<std::string> texts;
  for (HWND child = FindWindowExA(parent, nullptr, className, nullptr); child != nullptr;
       child = FindWindowExA(parent, child, className, nullptr)) {
    texts.push_back(textOf(child));
  }
  return texts;
}

// The visible "Error" box owned by `owner`, or none.
HWND errorBox(HWND owner) {
  for (HWND box = FindWindowA("#32770", "Error"); box != nullptr;
       box = FindWindowExA(nullptr, box, "#32770", "Error")) {
    if (GetWindow(box, GW_OWNER) == owner && IsWindowVisible(box)) return box;
  }
  return nullptr;
}

// A child's rectangle in its parent's client coordinates.
RECT placeIn(HWND parent, HWND child) {
  RECT rect{};
  GetWindowRect(child, &rect);
  MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

std::string describe(const RECT& rect) {
  return std::to_string(rect.left) + "," + std::to_string(rect.top) + " " +
         std::to_string(rect.right - rect.left) + "x" + std::to_string(rect.bottom - rect.top);
}

void writeSetting(const char* name, DWORD value) {
  HKEY key = nullptr;
  if (RegCreateKeyA(HKEY_LOCAL_MACHINE, settingsKeyPath, &key) != ERROR_SUCCESS) return;
  RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  RegCloseKey(key);
}

// Every value under the program's key, as name=number for a REG_DWORD and
// name? for anything else.
std::map<std::string, std::string> savedSettings() {
  std::map<std::string, std::string> saved;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, settingsKeyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return saved;
  }
  for (DWORD index = 0;; ++index) {
    char name[64] = {};
    DWORD nameLength = sizeof name;
    DWORD type = REG_NONE;
    DWORD value = 0;
    DWORD size = sizeof value;
    const LONG read = RegEnumValueA(key, index, name, &nameLength, nullptr, &type,
                                    reinterpret_cast<BYTE*>(&value), &size);
    if (read == ERROR_NO_MORE_ITEMS) break;
    const bool dword = read == ERROR_SUCCESS && type == REG_DWORD && size == sizeof value;
    saved[name] = dword ? std::to_string(static_cast<std::int32_t>(value)) : "?";
  }
  RegCloseKey(key);
  return saved;
}

// All six settings, and nothing else, with the measuring ones at their
// defaults.
void checkSaved(int winx, int winy) {
  const std::map<std::string, std::string> expected = {
      {"loops", "3"},   {"timeout_new", "2000"},        {"airborne_new", "16"},
      {"threads", "4"}, {"winx", std::to_string(winx)}, {"winy", std::to_string(winy)}};
  check(savedSettings() == expected, "the six settings are saved, the position as " +
                                         std::to_string(winx) + "," + std::to_string(winy));
}

// The window where the registry put it, with its fixed look and layout, its
// controls busy while the site cannot be reached.
void checkWindow(HWND window, int x, int y) {
  check(textOf(window) == title, "the window is titled \"" + std::string(title) + "\"");
  RECT outer{};
  GetWindowRect(window, &outer);
  check(describe(outer) == std::to_string(x) + "," + std::to_string(y) + " 347x206",
        "the window lies at " + std::to_string(x) + "," + std::to_string(y) +
            " and measures 347x206 (" + describe(outer) + ")");
  const DWORD style = static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE));
  check((style & ~(WS_VISIBLE | WS_DISABLED | WS_CLIPSIBLINGS)) == 0x80CA0000u,
        "the window's style is 0x80CA0000");

  const HWND go = FindWindowExA(window, nullptr, "BUTTON", "&Go");
  const HWND exit = FindWindowExA(window, nullptr, "BUTTON", "E&xit");
  const HWND list = FindWindowExA(window, nullptr, "COMBOBOX", nullptr);
  check(go != nullptr && describe(placeIn(window, go)) == "168,126 78x26",
        "Go lies at 168,126 and measures 78x26");
  check(exit != nullptr && describe(placeIn(window, exit)) == "248,126 78x26",
        "Exit lies at 248,126 and measures 78x26");
  const RECT listPlace = placeIn(window, list);
  check(list != nullptr && listPlace.left == 89 && listPlace.top == 87 &&
            listPlace.right - listPlace.left == 237,
        "the class list lies at 89,87 and is 237 wide");
  check(list != nullptr && !IsWindowEnabled(list) && go != nullptr && !IsWindowEnabled(go) &&
            exit != nullptr && IsWindowEnabled(exit),
        "the list and Go are disabled, Exit is not");

  const HWND status = FindWindowExA(window, nullptr, "msctls_statusbar32", nullptr);
  const HWND progress =
      status == nullptr ? nullptr : FindWindowExA(status, nullptr, "msctls_progress32", nullptr);
  check(progress != nullptr && !IsWindowVisible(progress),
        "the status bar holds the progress bar, hidden");
}

// The status bar's text, asked of its own thread: another process's
// GetWindowText would not ask the control.
std::string statusText(HWND window) {
  const HWND status = FindWindowExA(window, nullptr, "msctls_statusbar32", nullptr);
  char text[256] = {};
  DWORD_PTR length = 0;
  if (status == nullptr ||
      !SendMessageTimeoutA(status, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                           SMTO_ABORTIFHUNG, 2000, &length)) {
    return "(unreadable)";
  }
  return text;
}

// The mouse over each hooked control, then over the background: each hint,
// then none (the fetch job left no status text).
void checkHints(HWND window) {
  const struct {
    HWND under;
    std::string hint;
  } moves[] = {
      {FindWindowExA(window, nullptr, "BUTTON", "E&xit"), "Exit Zelvor"},
      {FindWindowExA(window, nullptr, "BUTTON", "&Go"), "Perform latency test"},
      {FindWindowExA(window, nullptr, "COMBOBOX", nullptr),
       "Select the class of servers for computing latency"},
      {window, ""},
  };
  for (const auto& move : moves) {
    PostMessageA(move.under, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
    const bool shown = waitFor([&] { return statusText(window) == move.hint; }, stepMs);
    check(shown,
          "hovering shows \"" + move.hint + "\" in the status bar (" + statusText(window) + ")");
  }
}

// Alt+G acts while Go is disabled: a test job starts, finds no class
// selected and ends at once in the ready look.
void checkAltG(HWND window) {
  const HWND go = FindWindowExA(window, nullptr, "BUTTON", "&Go");
  const HWND list = FindWindowExA(window, nullptr, "COMBOBOX", nullptr);
  PostMessageA(window, WM_SYSCHAR, 'g', 1 << 29);
  check(waitFor([&] { return IsWindowEnabled(go) && IsWindowEnabled(list); }, stepMs),
        "Alt+G runs a test job, which ends with the list and Go enabled");
}

void takeShot(HWND window, const std::string& shotDir) {
  POINT corner{0, 0};
  ClientToScreen(window, &corner);
  const std::string up = shotDir + "\\window-up";
  const std::string taken = shotDir + "\\shot-taken";
  if (FILE* file = std::fopen(up.c_str(), "w")) {
    std::fprintf(file, "%ld %ld\n", corner.x, corner.y);
    std::fclose(file);
  }
  waitFor([&] { return GetFileAttributesA(taken.c_str()) != INVALID_FILE_ATTRIBUTES; }, shotMs);
}

// Waits for the window and its error box; the window, or none.
HWND waitForWindowAndBox(HWND& box) {
  HWND window = nullptr;
  waitFor([&] { return (window = mainWindow()) != nullptr; }, startMs);
  check(window != nullptr, "the window appears");
  if (window == nullptr) return nullptr;
  waitFor([&] { return (box = errorBox(window)) != nullptr; }, stepMs);
  check(box != nullptr, "an \"Error\" box owned by the window appears");
  return window;
}

void altXSavesTheMovedWindow(const std::string& program, const std::string& shotDir) {
  writeSetting("winx", 120);
  writeSetting("winy", 90);
  Zelvor first(program);
  check(first.started(), "zelvor.exe starts");
  HWND box = nullptr;
  const HWND window = waitForWindowAndBox(box);
  if (window == nullptr) return;
  checkWindow(window, 120, 90);
  const std::vector<std::string> texts = childTexts(box, "Static");
  check(std::ranges::count(texts, "Error connecting to localhost") == 1,
        "the box says \"Error connecting to localhost\"");
  if (!shotDir.empty()) takeShot(window, shotDir);

  PostMessageA(box, WM_COMMAND, IDOK, 0);
  check(waitFor([&] { return errorBox(window) == nullptr; }, stepMs), "OK closes the box");
  checkHints(window);
  checkAltG(window);

  Zelvor second(program);
  check(second.exitCode(stepMs) == 0u, "a second start ends with 0");
  check(!first.ended(0) && mainWindow() == window, "the first one runs on, its window shown");

  SetWindowPos(window, nullptr, 200, 150, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  PostMessageA(window, WM_SYSCHAR, 'x', 1 << 29);
  check(first.exitCode(stepMs) == 1u, "Alt+X ends it with 1");
  checkSaved(200, 150);
}

void closingWithTheBoxOpenEndsIt(const std::string& program) {
  Zelvor zelvor(program);
  HWND box = nullptr;
  const HWND window = waitForWindowAndBox(box);
  if (window == nullptr) return;
  RECT outer{};
  GetWindowRect(window, &outer);
  check(outer.left == 200 && outer.top == 150, "the saved position is where it opens");
  PostMessageA(window, WM_CLOSE, 0, 0);
  check(zelvor.exitCode(stepMs) == 1u, "closing it with its box open ends it with 1");
  checkSaved(200, 150);
}

// The class list's entries, asked of the window's own thread. Wine hands
// over only the first character of an entry asked for in ANSI from another
// process, so they are asked for in UTF-16; a class name is ASCII.
std::vector<std::string> classEntries(HWND list) {
  std::vector<std::string> entries;
  DWORD_PTR count = 0;
  if (!SendMessageTimeoutW(list, CB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, 2000, &count)) return entries;
  for (DWORD_PTR index = 0; index < count; ++index) {
    wchar_t text[256] = {};
    DWORD_PTR length = 0;
    SendMessageTimeoutW(list, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                        2000, &length);
    std::string entry;
    for (const wchar_t* c = text; *c != L'\0'; ++c) entry += static_cast<char>(*c);
    entries.push_back(entry);
  }
  return entries;
}

// "a", "b" for {a, b}.
std::string quoted(const std::vector<std::string>& texts) {
  std::string list;
  for (const std::string& text : texts) list += (list.empty() ? "\"" : ", \"") + text + "\"";
  return list;
}

bool fileHasText(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  return GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) &&
         (data.nFileSizeLow != 0 || data.nFileSizeHigh != 0);
}

void measuresPostsAndOpensTheResults(const std::string& program, const std::string& className,
                                     const std::string& opened) {
  Zelvor zelvor(program);
  check(zelvor.started(), "zelvor.exe starts");
  HWND window = nullptr;
  waitFor([&] { return (window = mainWindow()) != nullptr; }, startMs);
  check(window != nullptr, "the window appears");
  if (window == nullptr) return;

  const HWND go = FindWindowExA(window, nullptr, "BUTTON", "&Go");
  const HWND list = FindWindowExA(window, nullptr, "COMBOBOX", nullptr);
  const auto ready = [&] { return IsWindowEnabled(go) && IsWindowEnabled(list); };
  check(waitFor(ready, stepMs), "the fetch ends with the list and Go enabled");
  check(errorBox(window) == nullptr, "no error box: the site answered");
  const std::vector<std::string> entries = classEntries(list);
  check(entries == std::vector<std::string>{className},
        "the list holds the site's one class, \"" + className + "\" (" + quoted(entries) + ")");
  DWORD_PTR selected = 0;
  SendMessageTimeoutA(list, CB_GETCURSEL, 0, 0, SMTO_ABORTIFHUNG, 2000, &selected);
  check(selected == 0, "the class is selected");

  PostMessageA(go, BM_CLICK, 0, 0);
  check(waitFor([&] { return fileHasText(opened); }, stepMs),
        "Go measures, posts and opens the results page");
  check(waitFor(ready, stepMs) && errorBox(window) == nullptr,
        "the test job ends with the list and Go enabled, and no error box");

  PostMessageA(window, WM_SYSCHAR, 'x', 1 << 29);
  check(zelvor.exitCode(stepMs) == 1u, "Alt+X ends it with 1");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--measure") {
    measuresPostsAndOpensTheResults(windowsPath(argv[2]), argv[3], windowsPath(argv[4]));
  } else if (argc == 2 || argc == 3) {
    const std::string program = windowsPath(argv[1]);
    const std::string shotDir = argc > 2 ? windowsPath(argv[2]) : std::string();
    altXSavesTheMovedWindow(program, shotDir);
    closingWithTheBoxOpenEndsIt(program);
  } else {
    std::fprintf(stderr,
                 "usage: window_smoke ZELVOR [SHOT-DIR]\n"
                 "       window_smoke --measure ZELVOR CLASS OPENED\n");
    return 2;
  }
  std::printf("%s\n", failures == 0 ? "all checks held" : "some checks failed");
  return failures == 0 ? 0 : 1;
}
