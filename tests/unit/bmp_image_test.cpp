// The BMP and ICO readers on tiny files written byte by byte: exact pixels,
// row order, padding, palette order, masks, and a refusal with its own text
// for each way a file can be malformed.
#include "app/bmp_image.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "support/failure.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;

void put16(Bytes& bytes, std::size_t at, std::uint32_t value) {
  bytes[at] = static_cast<std::uint8_t>(value);
  bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void put32(Bytes& bytes, std::size_t at, std::uint32_t value) {
  put16(bytes, at, value & 0xFFFF);
  put16(bytes, at + 2, value >> 16);
}

// A 2x2 BMP with three palette entries. Stored bottom-up: the bottom row is
// 0 1, the top row 2 0; each row padded to four bytes with 0xEE, which is no
// palette index, so reading padding as pixels would fail.
// clang-format off
const Bytes tinyBmp = {
    'B', 'M', 74, 0, 0, 0,       // signature, file size
    0, 0, 0, 0,                  // reserved
    66, 0, 0, 0,                 // pixel offset
    40, 0, 0, 0,                 // header size
    2, 0, 0, 0,                  // width
    2, 0, 0, 0,                  // height (bottom-up)
    1, 0, 8, 0,                  // planes, bits per pixel
    0, 0, 0, 0,                  // compression
    8, 0, 0, 0,                  // image size
    0, 0, 0, 0, 0, 0, 0, 0,      // resolution
    3, 0, 0, 0,                  // colours used
    0, 0, 0, 0,                  // colours important
    0x10, 0x20, 0x30, 0,         // palette 0: blue, green, red
    0x40, 0x50, 0x60, 0,         // palette 1
    0x70, 0x80, 0x90, 0,         // palette 2
    0, 1, 0xEE, 0xEE,            // bottom row
    2, 0, 0xEE, 0xEE,            // top row
};
// clang-format on

// Offsets into tinyBmp.
constexpr std::size_t pixelOffsetField = 10;
constexpr std::size_t headerSizeField = 14;
constexpr std::size_t widthField = 18;
constexpr std::size_t heightField = 22;
constexpr std::size_t planesField = 26;
constexpr std::size_t bitsField = 28;
constexpr std::size_t compressionField = 30;
constexpr std::size_t coloursField = 46;
constexpr std::size_t topRow = 70;

std::string failureOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const kelvo::Failure& text) {
    return text;
  }
  return "(no failure)";
}

std::string bmpFailure(const Bytes& file) {
  return failureOf([&] { zelvor::decodeBmp(file); });
}

TEST(DecodeBmp, GivesTopRowFirstInRedGreenBlue) {
  const zelvor::DecodedImage image = zelvor::decodeBmp(tinyBmp);
  EXPECT_EQ(image.width, 2);
  EXPECT_EQ(image.height, 2);
  EXPECT_EQ(image.depth, 3);
  EXPECT_EQ(image.pixels, (Bytes{0x90, 0x80, 0x70, 0x30, 0x20, 0x10,  //
                                 0x30, 0x20, 0x10, 0x60, 0x50, 0x40}));
}

TEST(DecodeBmp, FindsThePaletteAfterALongerHeader) {
  // A BITMAPV4HEADER is 108 bytes; the palette follows it, not byte 54.
  Bytes file = tinyBmp;
  file.insert(file.begin() + 54, 68, 0xAB);
  put32(file, headerSizeField, 108);
  put32(file, pixelOffsetField, 66 + 68);
  EXPECT_EQ(zelvor::decodeBmp(file).pixels, zelvor::decodeBmp(tinyBmp).pixels);
}

TEST(DecodeBmp, TakesNoColoursUsedAsAFullPalette) {
  // 256 entries do not fit in this file.
  Bytes file = tinyBmp;
  put32(file, coloursField, 0);
  EXPECT_EQ(bmpFailure(file), "Bad picture: truncated palette");
}

TEST(DecodeBmp, RefusesWhatIsNotABmp) {
  EXPECT_EQ(bmpFailure({}), "Bad picture: not a BMP file");
  EXPECT_EQ(bmpFailure({'B'}), "Bad picture: not a BMP file");
  Bytes file = tinyBmp;
  file[1] = 'A';
  EXPECT_EQ(bmpFailure(file), "Bad picture: not a BMP file");
}

TEST(DecodeBmp, RefusesTruncatedHeaders) {
  EXPECT_EQ(bmpFailure(Bytes(tinyBmp.begin(), tinyBmp.begin() + 13)),
            "Bad picture: truncated header");
  EXPECT_EQ(bmpFailure(Bytes(tinyBmp.begin(), tinyBmp.begin() + 53)),
            "Bad picture: truncated header");
  Bytes file = tinyBmp;
  put32(file, headerSizeField, 0xFFFFFFFF);
  EXPECT_EQ(bmpFailure(file), "Bad picture: truncated header");
}

TEST(DecodeBmp, RefusesTheShortCoreHeader) {
  Bytes file = tinyBmp;
  put32(file, headerSizeField, 12);
  EXPECT_EQ(bmpFailure(file), "Bad picture: unsupported header");
}

TEST(DecodeBmp, RefusesTopDownRows) {
  Bytes file = tinyBmp;
  put32(file, heightField, static_cast<std::uint32_t>(-2));
  EXPECT_EQ(bmpFailure(file), "Bad picture: top-down rows are not supported");
}

TEST(DecodeBmp, RefusesSidesOutOfRange) {
  for (const auto& [field, value] : std::vector<std::pair<std::size_t, std::uint32_t>>{
           {widthField, 0},
           {widthField, static_cast<std::uint32_t>(-2)},
           {widthField, zelvor::maxImageSide + 1},
           {heightField, 0},
           {heightField, zelvor::maxImageSide + 1}}) {
    Bytes file = tinyBmp;
    put32(file, field, value);
    EXPECT_EQ(bmpFailure(file), "Bad picture: width or height out of range")
        << field << " " << value;
  }
}

TEST(DecodeBmp, RefusesOtherPixelFormats) {
  Bytes file = tinyBmp;
  put16(file, planesField, 2);
  EXPECT_EQ(bmpFailure(file), "Bad picture: not one plane");
  file = tinyBmp;
  put16(file, bitsField, 24);
  EXPECT_EQ(bmpFailure(file), "Bad picture: not 8 bits per pixel");
  file = tinyBmp;
  put32(file, compressionField, 1);
  EXPECT_EQ(bmpFailure(file), "Bad picture: compressed pixels are not supported");
}

TEST(DecodeBmp, RefusesMoreColoursThanEightBitsReach) {
  Bytes file = tinyBmp;
  put32(file, coloursField, 257);
  EXPECT_EQ(bmpFailure(file), "Bad picture: palette too large");
}

TEST(DecodeBmp, RefusesPixelsBeyondThePalette) {
  Bytes file = tinyBmp;
  file[topRow + 1] = 3;
  EXPECT_EQ(bmpFailure(file), "Bad picture: pixel outside the palette");
}

TEST(DecodeBmp, RefusesTruncatedPixels) {
  // The last row's padding is part of the row.
  EXPECT_EQ(bmpFailure(Bytes(tinyBmp.begin(), tinyBmp.end() - 1)), "Bad picture: truncated pixels");
  Bytes file = tinyBmp;
  put32(file, pixelOffsetField, 0xFFFFFFF0);
  EXPECT_EQ(bmpFailure(file), "Bad picture: truncated pixels");
}

TEST(DecodeBmp, RefusesPixelsInsideTheHeader) {
  Bytes file = tinyBmp;
  put32(file, pixelOffsetField, 62);
  EXPECT_EQ(bmpFailure(file), "Bad picture: pixels overlap the header");
}

// An ICO holding a 1x1 entry whose offset points nowhere, then a 2x2 4-bit
// image with two palette entries. Colours, bottom-up: bottom row 1 0, top
// row 0 1. Mask, bottom-up: bottom row clears x=1, top row clears x=0.
// clang-format off
const Bytes tinyIcon = {
    0, 0, 1, 0, 2, 0,                                   // reserved, type icon, two entries
    1, 1, 0, 0, 1, 0, 4, 0, 64, 0, 0, 0, 0xFF, 0xFF, 0, 0,  // 1x1, nowhere
    2, 2, 0, 0, 1, 0, 4, 0, 64, 0, 0, 0, 38, 0, 0, 0,       // 2x2, at 38
    40, 0, 0, 0,                 // header size
    2, 0, 0, 0,                  // width
    4, 0, 0, 0,                  // height: colours and mask
    1, 0, 4, 0,                  // planes, bits per pixel
    0, 0, 0, 0,                  // compression
    0, 0, 0, 0,                  // image size
    0, 0, 0, 0, 0, 0, 0, 0,      // resolution
    2, 0, 0, 0,                  // colours used
    0, 0, 0, 0,                  // colours important
    0x01, 0x02, 0x03, 0,         // palette 0: blue, green, red
    0x04, 0x05, 0x06, 0,         // palette 1
    0x10, 0, 0, 0,               // colours, bottom row: 1 0
    0x01, 0, 0, 0,               // colours, top row: 0 1
    0x40, 0, 0, 0,               // mask, bottom row: x=1 clear
    0x80, 0, 0, 0,               // mask, top row: x=0 clear
};
// clang-format on

constexpr std::size_t secondEntry = 6 + 16;
constexpr std::size_t iconImage = 38;

std::string iconFailure(const Bytes& file, int side = 2) {
  return failureOf([&] { zelvor::decodeIcon(file, side); });
}

TEST(DecodeIcon, GivesTheWantedSideWithItsMaskAsAlpha) {
  const zelvor::DecodedImage image = zelvor::decodeIcon(tinyIcon, 2);
  EXPECT_EQ(image.width, 2);
  EXPECT_EQ(image.height, 2);
  EXPECT_EQ(image.depth, 4);
  EXPECT_EQ(image.pixels, (Bytes{0x03, 0x02, 0x01, 0, 0x06, 0x05, 0x04, 255,  //
                                 0x06, 0x05, 0x04, 255, 0x03, 0x02, 0x01, 0}));
}

TEST(DecodeIcon, ReadsAStoredSideOfZeroAs256) {
  Bytes file = tinyIcon;
  file[secondEntry] = 0;
  file[secondEntry + 1] = 0;
  // The entry is found, then its image does not match it.
  EXPECT_EQ(iconFailure(file, 256), "Bad icon: image size differs from its directory entry");
  EXPECT_EQ(iconFailure(file, 2), "Bad icon: no 2x2 image");
}

TEST(DecodeIcon, RefusesWhatIsNotAnIcon) {
  EXPECT_EQ(iconFailure({0, 0, 1}), "Bad icon: not an ICO file");
  Bytes cursor = tinyIcon;
  cursor[2] = 2;
  EXPECT_EQ(iconFailure(cursor), "Bad icon: not an ICO file");
  EXPECT_EQ(iconFailure(tinyBmp), "Bad icon: not an ICO file");
}

TEST(DecodeIcon, RefusesADirectoryLongerThanTheFile) {
  Bytes file = tinyIcon;
  put16(file, 4, 0xFFFF);
  EXPECT_EQ(iconFailure(file), "Bad icon: truncated directory");
}

TEST(DecodeIcon, RefusesAMissingSide) {
  EXPECT_EQ(iconFailure(tinyIcon, 32), "Bad icon: no 32x32 image");
}

TEST(DecodeIcon, RefusesAnImageOutsideTheFile) {
  Bytes file = tinyIcon;
  put32(file, secondEntry + 8, 65);
  EXPECT_EQ(iconFailure(file), "Bad icon: image outside the file");
  file = tinyIcon;
  put32(file, secondEntry + 12, 0xFFFFFFFF);
  EXPECT_EQ(iconFailure(file), "Bad icon: image outside the file");
}

TEST(DecodeIcon, RefusesOtherImages) {
  Bytes file = tinyIcon;
  put16(file, iconImage + 14, 8);
  EXPECT_EQ(iconFailure(file), "Bad icon: not 4 bits per pixel");
  file = tinyIcon;
  put32(file, iconImage + 32, 17);
  EXPECT_EQ(iconFailure(file), "Bad icon: palette too large");
  file = tinyIcon;
  put32(file, iconImage + 8, 2);  // no room for the mask
  EXPECT_EQ(iconFailure(file), "Bad icon: image size differs from its directory entry");
}

TEST(DecodeIcon, RefusesATruncatedMask) {
  // The image's size in the directory is what bounds it, not the file.
  Bytes file = tinyIcon;
  put32(file, secondEntry + 8, 63);
  EXPECT_EQ(iconFailure(file), "Bad icon: truncated mask");
}

TEST(DecodeIcon, RefusesColoursBeyondThePalette) {
  Bytes file = tinyIcon;
  file[iconImage + 48] = 0x12;
  EXPECT_EQ(iconFailure(file), "Bad icon: pixel outside the palette");
}

}  // namespace
