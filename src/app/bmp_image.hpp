// Decoders for the two picture files the window is drawn from: the backdrop
// (an 8-bit palettized BMP) and the icon (an ICO of 4-bit images with AND
// masks). Only those plain forms are read; anything else is refused.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace zelvor {

// Pixels from the top row down, left to right, `depth` bytes each: red,
// green, blue, and alpha when depth is 4.
struct DecodedImage {
  int width = 0;
  int height = 0;
  int depth = 0;
  std::vector<std::uint8_t> pixels;
};

// The pictures the window can use are small; anything larger is not ours,
// and refusing it keeps every size computation far from overflow.
inline constexpr int maxImageSide = 4096;

// A BMP file with a BITMAPINFOHEADER (or a later, longer header), 8 bits per
// pixel, no compression, stored bottom-up. Gives depth 3. Throws a Failure
// starting with "Bad picture: " for anything else, truncated files and pixel
// indices beyond the palette included.
DecodedImage decodeBmp(std::span<const std::uint8_t> file);

// The `side` x `side` image of an ICO file, which must be a 4-bit
// uncompressed image with its AND mask. Gives depth 4: alpha 0 where the mask
// is set, 255 elsewhere. Throws a Failure starting with "Bad icon: ".
DecodedImage decodeIcon(std::span<const std::uint8_t> file, int side);

}  // namespace zelvor
