// The picture files compiled into the program at build time (see
// embed_files.cmake), byte for byte as they are in resources/.
#pragma once

#include <cstdint>
#include <span>

namespace zelvor::embedded {

// resources/backdrop.bmp
std::span<const std::uint8_t> backdropBitmap();
// resources/zelvor.ico
std::span<const std::uint8_t> iconFile();

}  // namespace zelvor::embedded
