#include <unistd.h>

#include "cli/console.hpp"

namespace zelvor::cli {

bool stderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

void useBinaryStdout() {}

}  // namespace zelvor::cli
