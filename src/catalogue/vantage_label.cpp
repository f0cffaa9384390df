#include "catalogue/vantage_label.hpp"

#include <algorithm>

namespace zelvor {

bool isVantageLabel(std::string_view text) {
  // Classified by hand: <cctype> follows the locale.
  const auto allowed = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.';
  };
  return !text.empty() && text.size() <= maxVantageLabelBytes &&
         std::all_of(text.begin(), text.end(), allowed);
}

}  // namespace zelvor
