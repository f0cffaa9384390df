// The program's failure type for failed system calls.
//
// Failures travel as text: a handler catches `const std::string&` and so
// serves plain texts, WinError and kelvo::Socket::Failure alike. WinError adds
// no state of its own, only the ways its text is made.
#pragma once

#include <cstdint>
#include <string>

namespace kelvo {

class WinError : public std::string {
 public:
  // "Windows error " and the calling thread's last error (errno off Windows).
  // Construct it right after the failed call: any call in between may
  // overwrite the code.
  WinError();
  // "Windows error " and a code the failed function returned itself.
  explicit WinError(std::int32_t code);
  // A ready text, unchanged.
  explicit WinError(std::string text);
};

// The calling thread's last system error code: GetLastError on Windows,
// errno elsewhere.
std::int32_t lastErrorCode() noexcept;

}  // namespace kelvo
