#include "app/failure_text.hpp"

#include "support/failure.hpp"

namespace zelvor {

std::string currentFailureText() {
  try {
    throw;
  } catch (const kelvo::Failure& failure) {
    return failure;
  } catch (...) {
    return unknownFailureText;
  }
}

}  // namespace zelvor
