// The string table compiled into the program off Windows, generated at build
// time from the STRINGTABLE of the program's resource scripts.
#pragma once

#include <cstdint>
#include <span>

namespace kelvo::detail {

struct StringTableEntry {
  std::uint32_t id;
  const char* text;
};

// Defined by the generated source that each executable links.
std::span<const StringTableEntry> stringTable();

}  // namespace kelvo::detail
