#pragma once

#include "field/tex.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace palkor {

// A palettised texture ready to be written: Palette holds 1 to 256 colours as red, green,
// blue; Indices one palette index a pixel, Width x Height of them, the top row first.
// With ColourKey, index 0 is the transparent colour and every pixel of it shows through.
struct TTexIndexedImage {
  int32_t Width = 0, Height = 0;
  std::vector<std::array<uint8_t, 3>> Palette;
  std::vector<uint8_t> Indices;
  bool ColourKey = false;
};

// A direct-colour texture: one 16-bit value a pixel, Width x Height of them, the top row
// first; red in bits 0-4, green 5-9, blue 10-14, bit 15 clear.
struct TTexDirectImage {
  int32_t Width = 0, Height = 0;
  std::vector<uint16_t> Values;
};

// The most pixels a texture written here may have: its RGBA picture stays within 2 GiB,
// so that the file, palettised or direct colour, fits an archive member's signed 32-bit
// size.
constexpr int64_t MaxTEXPixels = (int64_t(1) << 31) / 4 - 1;

// Fails with "NAME: WxH pixels, more than a TEX texture holds (at most N pixels)" for an
// image of more than MaxTEXPixels, and "NAME: WxH pixels, no picture to write" for one of
// none.
void CheckTEXSize(const std::string& name, int64_t width, int64_t height);

// The header a new texture takes when its archive has no palettised texture to copy:
// the layout of the demo archives' textures, every byte 0 but the fields the writer sets.
std::string DefaultTEXHeader();

// Whether the TEX file (at least its header) holds direct colour: a palette count of 0
// at offset 88. Bytes too short to hold the count are not a TEX file ("Stream read
// error").
bool IsDirectColourTEX(std::string_view tex);

// The TEX file of image. The first 236 bytes of header (another TEX file, or
// DefaultTEXHeader) are kept except for the fields that describe the image: colour-key
// flag (8), number of palettes (48: 1), colours per palette (52 and 92), width (60),
// height (64), bytes per row (68) and palette size (88). The palette follows as blue,
// green, red, alpha (255; 0 for a colour key's entry 0), then the indices. Throws
// Exception when header is shorter than 236 bytes, and for an image whose palette,
// indices or size do not fit the format.
std::string WriteTEX(std::string_view header, const TTexIndexedImage& image);
// The same for direct colour: the palette fields (8, 48, 52, 92, 88) become 0, bytes per
// row twice the width; the values follow the header.
std::string WriteTEX(std::string_view header, const TTexDirectImage& image);

// The TEX file tex (as WriteTEX makes it) under the first 236 bytes of header instead of
// its own, but for the fields that WriteTEX sets: the header of a member that changed
// since tex was made from it. Throws Exception when either is shorter than 236 bytes.
std::string WithTEXHeader(std::string_view tex, std::string_view header);

// image in direct colour: each 8-bit channel rounded to the nearest of the 32 levels the
// decoder widens 5 bits to; alpha is dropped.
TTexDirectImage ToDirectColour(const TTexImage& image);

} // namespace palkor
