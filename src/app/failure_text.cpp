// Turning whatever was thrown into the error box's text.
#include "app/failure_text.hpp"

namespace zelvor {

std::string currentFailureText() {
  try {
    throw;
  } catch (const std::string& text) {
    return text;
  } catch (const char* text) {
    return text != nullptr ? text : unknownFailureText;
  } catch (...) {
    return unknownFailureText;
  }
}

}  // namespace zelvor
