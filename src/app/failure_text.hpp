// The text the user is shown for a failure that ended the window's loop.
#pragma once

#include <string>

namespace zelvor {

// Called inside a catch (...): the text of the failure being handled. A
// kelvo::Failure gives its own text; anything else gives unknownFailureText.
std::string currentFailureText();

inline constexpr const char* unknownFailureText = "Unknown error";

}  // namespace zelvor
