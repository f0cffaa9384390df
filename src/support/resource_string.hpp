// Texts of the program's string table, by id.
#pragma once

#include <cstdint>
#include <string>

namespace kelvo {

// The longest text a string-table entry gives; longer entries are cut.
inline constexpr std::size_t resourceStringLimit = 128;

// The text of entry `id`, cut to resourceStringLimit characters. A missing or
// empty entry throws Failure "Unknown resource id " and the id.
std::string resourceString(std::uint32_t id);

namespace detail {
// The failure text for a missing entry.
std::string unknownResourceText(std::uint32_t id);
}  // namespace detail

}  // namespace kelvo
