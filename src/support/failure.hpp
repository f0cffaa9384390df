// The program's one failure type.
//
// Every failure the program throws is a Failure and every handler catches
// `const kelvo::Failure&`. It is the text the user may be shown, derived from
// std::string so that it reads and compares as that text; it adds no state,
// only the ways its system-error texts are made.
#pragma once

#include <cstdint>
#include <string>

namespace kelvo {

class Failure : public std::string {
 public:
  // A ready text, unchanged.
  explicit Failure(std::string text);

  // "Windows error " and the calling thread's last error (errno off Windows).
  // Make it right after the failed call: any call in between may overwrite
  // the code.
  static Failure lastError();
  // "Windows error " and a code the failed function returned itself.
  static Failure ofCode(std::int32_t code);
};

// The calling thread's last system error code: GetLastError on Windows,
// errno elsewhere.
std::int32_t lastErrorCode() noexcept;

}  // namespace kelvo
