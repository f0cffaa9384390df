// What zelvor-cli needs of the console it writes to.
#pragma once

namespace zelvor::cli {

// Whether stderr is a terminal, where a progress line may be drawn.
bool stderrIsTerminal();

// Writes stdout's bytes as they are: a report must reach a file exactly as
// it is posted, without Windows' CR before each LF.
void useBinaryStdout();

}  // namespace zelvor::cli
