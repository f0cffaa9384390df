// The BMP and ICO readers: every offset and size taken from the file is
// checked against the bytes actually there before anything is read.
#include "app/bmp_image.hpp"

#include <cstddef>
#include <string>

#include "support/failure.hpp"

namespace zelvor {

namespace {

constexpr std::size_t fileHeaderBytes = 14;
constexpr std::size_t infoHeaderBytes = 40;
constexpr std::size_t iconDirectoryBytes = 6;
constexpr std::size_t iconEntryBytes = 16;

// Both formats store little-endian numbers whatever the machine.
std::uint32_t read16(std::span<const std::uint8_t> data, std::size_t offset) {
  return static_cast<std::uint32_t>(data[offset]) | static_cast<std::uint32_t>(data[offset + 1])
                                                        << 8;
}

std::uint32_t read32(std::span<const std::uint8_t> data, std::size_t offset) {
  return read16(data, offset) | read16(data, offset + 2) << 16;
}

// True when `count` bytes from `offset` lie inside `data`, without letting
// the sum wrap.
bool fits(std::span<const std::uint8_t> data, std::size_t offset, std::size_t count) {
  return offset <= data.size() && count <= data.size() - offset;
}

// The fields of a BITMAPINFOHEADER this reader needs, already judged. `rows`
// is the stored height, which an icon doubles to make room for its mask.
struct DibLayout {
  int width = 0;
  int rows = 0;
  unsigned bits = 0;
  std::size_t paletteOffset = 0;
  std::size_t colours = 0;
};

class DibReader {
 public:
  explicit DibReader(const char* failurePrefix) : prefix_(failurePrefix) {}

  [[noreturn]] void fail(const char* reason) const {
    throw kelvo::Failure(std::string(prefix_) + reason);
  }

  // Reads the header at `offset`; the palette follows it directly.
  DibLayout readHeader(std::span<const std::uint8_t> data, std::size_t offset, unsigned bits,
                       int maxRows) const {
    if (!fits(data, offset, infoHeaderBytes)) fail("truncated header");
    const std::uint32_t headerSize = read32(data, offset);
    if (headerSize < infoHeaderBytes) fail("unsupported header");
    if (!fits(data, offset, headerSize)) fail("truncated header");
    const auto width = static_cast<std::int32_t>(read32(data, offset + 4));
    const auto height = static_cast<std::int32_t>(read32(data, offset + 8));
    if (height < 0) fail("top-down rows are not supported");
    if (width <= 0 || height == 0 || width > maxImageSide || height > maxRows) {
      fail("width or height out of range");
    }
    if (read16(data, offset + 12) != 1) fail("not one plane");
    if (read16(data, offset + 14) != bits) {
      fail(bits == 8 ? "not 8 bits per pixel" : "not 4 bits per pixel");
    }
    if (read32(data, offset + 16) != 0) fail("compressed pixels are not supported");
    const std::uint32_t used = read32(data, offset + 32);
    const std::size_t most = std::size_t{1} << bits;
    if (used > most) fail("palette too large");

    DibLayout layout;
    layout.width = width;
    layout.rows = height;
    layout.bits = bits;
    layout.paletteOffset = offset + headerSize;
    layout.colours = used == 0 ? most : used;
    if (!fits(data, layout.paletteOffset, layout.colours * 4)) fail("truncated palette");
    return layout;
  }

  // Writes `height` rows of `layout` stored bottom-up at `pixelOffset` into
  // `image`, top row first, as `image.depth` bytes a pixel (alpha, if any,
  // 255).
  void readPixels(std::span<const std::uint8_t> data, const DibLayout& layout,
                  std::size_t pixelOffset, int height, DecodedImage& image) const {
    const std::size_t stride = rowBytes(layout.width, layout.bits);
    if (!fits(data, pixelOffset, stride * static_cast<std::size_t>(height))) {
      fail("truncated pixels");
    }
    const auto depth = static_cast<std::size_t>(image.depth);
    for (int y = 0; y < height; ++y) {
      const std::size_t row = pixelOffset + stride * static_cast<std::size_t>(height - 1 - y);
      for (int x = 0; x < layout.width; ++x) {
        const std::size_t index = paletteIndex(data, row, x, layout.bits);
        if (index >= layout.colours) fail("pixel outside the palette");
        const std::size_t entry = layout.paletteOffset + index * 4;
        std::uint8_t* out =
            &image.pixels[(static_cast<std::size_t>(y) * static_cast<std::size_t>(image.width) +
                           static_cast<std::size_t>(x)) *
                          depth];
        // Palette entries are stored blue, green, red, unused.
        out[0] = data[entry + 2];
        out[1] = data[entry + 1];
        out[2] = data[entry];
        if (depth == 4) out[3] = 255;
      }
    }
  }

  // Rows are padded to whole 32-bit words.
  static std::size_t rowBytes(int width, unsigned bits) {
    return (static_cast<std::size_t>(width) * bits + 31) / 32 * 4;
  }

 private:
  static std::size_t paletteIndex(std::span<const std::uint8_t> data, std::size_t row, int x,
                                  unsigned bits) {
    const auto column = static_cast<std::size_t>(x);
    if (bits == 8) return data[row + column];
    // Two pixels a byte, the left one in the high half.
    const std::uint8_t pair = data[row + column / 2];
    return column % 2 == 0 ? pair >> 4 : pair & 0x0F;
  }

  const char* prefix_;
};

DecodedImage emptyImage(int width, int height, int depth) {
  DecodedImage image;
  image.width = width;
  image.height = height;
  image.depth = depth;
  image.pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) *
                      static_cast<std::size_t>(depth));
  return image;
}

}  // namespace

DecodedImage decodeBmp(std::span<const std::uint8_t> file) {
  const DibReader reader("Bad picture: ");
  if (file.size() < 2 || file[0] != 'B' || file[1] != 'M') reader.fail("not a BMP file");
  if (file.size() < fileHeaderBytes) reader.fail("truncated header");
  const DibLayout layout = reader.readHeader(file, fileHeaderBytes, 8, maxImageSide);
  const std::size_t pixelOffset = read32(file, 10);
  if (pixelOffset < layout.paletteOffset + layout.colours * 4) {
    reader.fail("pixels overlap the header");
  }
  DecodedImage image = emptyImage(layout.width, layout.rows, 3);
  reader.readPixels(file, layout, pixelOffset, layout.rows, image);
  return image;
}

DecodedImage decodeIcon(std::span<const std::uint8_t> file, int side) {
  const DibReader reader("Bad icon: ");
  if (!fits(file, 0, iconDirectoryBytes) || read16(file, 0) != 0 || read16(file, 2) != 1) {
    reader.fail("not an ICO file");
  }
  const std::size_t count = read16(file, 4);
  if (!fits(file, iconDirectoryBytes, count * iconEntryBytes)) reader.fail("truncated directory");

  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t entry = iconDirectoryBytes + i * iconEntryBytes;
    // A stored side of 0 means 256.
    const int width = file[entry] == 0 ? 256 : file[entry];
    const int height = file[entry + 1] == 0 ? 256 : file[entry + 1];
    if (width != side || height != side) continue;

    const std::size_t size = read32(file, entry + 8);
    const std::size_t offset = read32(file, entry + 12);
    if (!fits(file, offset, size)) reader.fail("image outside the file");
    const std::span<const std::uint8_t> dib = file.subspan(offset, size);

    const DibLayout layout = reader.readHeader(dib, 0, 4, 2 * maxImageSide);
    if (layout.width != side || layout.rows != 2 * side) {
      reader.fail("image size differs from its directory entry");
    }
    DecodedImage image = emptyImage(side, side, 4);
    const std::size_t colourOffset = layout.paletteOffset + layout.colours * 4;
    reader.readPixels(dib, layout, colourOffset, side, image);

    // The AND mask follows the colours, one bit a pixel, bottom-up too; a
    // set bit lets the background through.
    const std::size_t maskOffset =
        colourOffset + DibReader::rowBytes(side, 4) * static_cast<std::size_t>(side);
    const std::size_t maskStride = DibReader::rowBytes(side, 1);
    if (!fits(dib, maskOffset, maskStride * static_cast<std::size_t>(side))) {
      reader.fail("truncated mask");
    }
    for (int y = 0; y < side; ++y) {
      const std::size_t row = maskOffset + maskStride * static_cast<std::size_t>(side - 1 - y);
      for (int x = 0; x < side; ++x) {
        const auto column = static_cast<std::size_t>(x);
        const bool clear = (dib[row + column / 8] >> (7 - column % 8)) & 1;
        if (clear) {
          image.pixels[(static_cast<std::size_t>(y) * static_cast<std::size_t>(side) + column) * 4 +
                       3] = 0;
        }
      }
    }
    return image;
  }
  throw kelvo::Failure(std::string("Bad icon: no ") + std::to_string(side) + "x" +
                       std::to_string(side) + " image");
}

}  // namespace zelvor
