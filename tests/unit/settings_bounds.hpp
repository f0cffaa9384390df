// Stored values of the four measuring settings on both sides of their
// bounds, and the value the program uses for each: shared by the text form's
// tests and the tests of each platform's store.
#pragma once

#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "app/settings.hpp"

namespace zelvor::test {

struct BoundEdge {
  const char* name;     // the setting as stored
  std::int32_t stored;  // what the user wrote
  std::int32_t used;    // what a run takes
};

inline const std::vector<BoundEdge>& settingsBoundEdges() {
  constexpr std::int32_t int32Min = std::numeric_limits<std::int32_t>::min();
  constexpr std::int32_t int32Max = std::numeric_limits<std::int32_t>::max();
  static const std::vector<BoundEdge> edges{
      {"loops", int32Min, 3},
      {"loops", -1, 3},
      {"loops", 0, 3},
      {"loops", 1, 1},
      {"loops", 1000, 1000},
      {"loops", 1001, 3},
      {"loops", int32Max, 3},
      {"timeout_new", -1, 2000},
      {"timeout_new", 0, 2000},
      {"timeout_new", 1, 1},
      {"timeout_new", 60000, 60000},
      {"timeout_new", 60001, 2000},
      {"airborne_new", int32Min, 16},
      {"airborne_new", -1, 16},
      {"airborne_new", 0, 0},
      {"airborne_new", 1, 1},
      {"airborne_new", 1024, 1024},
      {"airborne_new", 1025, 16},
      {"airborne_new", int32Max, 16},
      {"threads", -1, 4},
      {"threads", 0, 0},
      {"threads", 1, 1},
      {"threads", 64, 64},
      {"threads", 65, 4},
      {"threads", 1000000, 4},
      {"winx", int32Min, int32Min},
      {"winx", -2000, -2000},
      {"winy", int32Max, int32Max},
  };
  return edges;
}

// Where the setting stored as `name` lives in the record.
inline std::int32_t Settings::*settingMember(std::string_view name) {
  for (const SettingsField& field : settingsFields) {
    if (name == field.name) return field.member;
  }
  throw std::invalid_argument("no setting named " + std::string(name));
}

}  // namespace zelvor::test
