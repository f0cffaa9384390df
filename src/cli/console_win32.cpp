#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "cli/console.hpp"

namespace zelvor::cli {

bool stderrIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

void useBinaryStdout() { _setmode(_fileno(stdout), _O_BINARY); }

}  // namespace zelvor::cli
