// TEX layout written (signed 32-bit little-endian fields, offsets from the file's start):
//
//   0    236 header, copied from the texture replaced or from the archive's first
//            palettised texture, except:
//   8    4   colour-key flag: 1 when palette index 0 is transparent, else 0
//   48   4   number of palettes: 1 (direct colour: 0)
//   52   4   colours per palette (direct colour: 0)
//   60   4   width in pixels
//   64   4   height in pixels
//   68   4   bytes per row: the width (direct colour: twice the width)
//   88   4   palette size in entries; 0 for direct colour
//   92   4   colours per palette again (direct colour: 0)
//   236      palettised: the palette, 4 bytes an entry (blue, green, red, alpha), then one
//            index byte a pixel, the top row first, no padding; direct colour: one 16-bit
//            value a pixel (red bits 0-4, green 5-9, blue 10-14), the top row first
#include "field/texwrite.h"

#include "platform/Exceptions.h"
#include "platform/Streams.h"

#include <cstdlib>

namespace palkor {

namespace {

constexpr size_t ColourKeyOffset = 8;
constexpr size_t PaletteCountOffset = 48;
constexpr size_t ColoursPerPaletteOffset = 52;
constexpr size_t WidthOffset = 60;
constexpr size_t HeightOffset = 64;
constexpr size_t BytesPerRowOffset = 68;
constexpr size_t PaletteSizeOffset = 88;
constexpr size_t ColoursPerPaletteAgainOffset = 92;
constexpr size_t ImageFields[] = {
    ColourKeyOffset, PaletteCountOffset, ColoursPerPaletteOffset, WidthOffset,
    HeightOffset,    BytesPerRowOffset,  PaletteSizeOffset,       ColoursPerPaletteAgainOffset};

void PutI32LE(std::string& bytes, size_t offset, int64_t value) {
  PutU32LE(reinterpret_cast<uint8_t*>(bytes.data()) + offset, uint32_t(value));
}

std::string HeaderFrom(std::string_view header) {
  if (header.size() < size_t(TEXDataOffset))
    throw Exception(Format("A TEX header of %d bytes is shorter than %d", int64_t(header.size()),
                           TEXDataOffset));
  return std::string(header.substr(0, size_t(TEXDataOffset)));
}

void CheckPixelCount(int32_t width, int32_t height, size_t count) {
  CheckTEXSize("texture", width, height);
  if (count != size_t(width) * size_t(height))
    throw Exception(Format("A %dx%d texture needs %d pixels, not %d", width, height,
                           int64_t(width) * height, int64_t(count)));
}

} // namespace

void CheckTEXSize(const std::string& name, int64_t width, int64_t height) {
  if (width <= 0 || height <= 0)
    throw Exception(Format("%s: %dx%d pixels, no picture to write", name, width, height));
  if (width > MaxTEXPixels || height > MaxTEXPixels || width * height > MaxTEXPixels)
    throw Exception(Format("%s: %dx%d pixels, more than a TEX texture holds (at most %d pixels)",
                           name, width, height, MaxTEXPixels));
}

std::string DefaultTEXHeader() {
  // The demo textures' layout: nothing but the fields that describe the picture, which
  // name a palette here so that a picture written with it is palettised.
  std::string header(size_t(TEXDataOffset), '\0');
  PutI32LE(header, PaletteCountOffset, 1);
  PutI32LE(header, PaletteSizeOffset, 256);
  return header;
}

bool IsDirectColourTEX(std::string_view tex) {
  if (tex.size() < PaletteSizeOffset + 4) throw EReadError();
  return GetU32LE(reinterpret_cast<const uint8_t*>(tex.data()) + PaletteSizeOffset) == 0;
}

std::string WriteTEX(std::string_view header, const TTexIndexedImage& image) {
  CheckPixelCount(image.Width, image.Height, image.Indices.size());
  const size_t colours = image.Palette.size();
  if (colours < 1 || colours > 256)
    throw Exception(Format("A TEX palette holds 1 to 256 colours, not %d", int64_t(colours)));
  std::string bytes = HeaderFrom(header);
  PutI32LE(bytes, ColourKeyOffset, image.ColourKey ? 1 : 0);
  PutI32LE(bytes, PaletteCountOffset, 1);
  PutI32LE(bytes, ColoursPerPaletteOffset, int64_t(colours));
  PutI32LE(bytes, WidthOffset, image.Width);
  PutI32LE(bytes, HeightOffset, image.Height);
  PutI32LE(bytes, BytesPerRowOffset, image.Width);
  PutI32LE(bytes, PaletteSizeOffset, int64_t(colours));
  PutI32LE(bytes, ColoursPerPaletteAgainOffset, int64_t(colours));

  bytes.reserve(bytes.size() + colours * 4 + image.Indices.size());
  for (size_t i = 0; i < colours; ++i) {
    const auto& c = image.Palette[i];
    const bool key = image.ColourKey && i == 0;
    bytes += char(c[2]);
    bytes += char(c[1]);
    bytes += char(c[0]);
    bytes += char(key ? 0 : 255);
  }
  for (uint8_t index : image.Indices)
    if (index >= colours)
      throw Exception(
          Format("Palette index %d beyond the %d colours of the palette", index, int64_t(colours)));
  bytes.append(reinterpret_cast<const char*>(image.Indices.data()), image.Indices.size());
  return bytes;
}

std::string WriteTEX(std::string_view header, const TTexDirectImage& image) {
  CheckPixelCount(image.Width, image.Height, image.Values.size());
  std::string bytes = HeaderFrom(header);
  for (size_t offset : {ColourKeyOffset, PaletteCountOffset, ColoursPerPaletteOffset,
                        PaletteSizeOffset, ColoursPerPaletteAgainOffset})
    PutI32LE(bytes, offset, 0);
  PutI32LE(bytes, WidthOffset, image.Width);
  PutI32LE(bytes, HeightOffset, image.Height);
  PutI32LE(bytes, BytesPerRowOffset, int64_t(image.Width) * 2);
  const size_t start = bytes.size();
  bytes.resize(start + image.Values.size() * 2);
  char* out = bytes.data() + start;
  for (uint16_t value : image.Values) {
    *out++ = char(value & 0xFF);
    *out++ = char((value >> 8) & 0x7F);
  }
  return bytes;
}

std::string WithTEXHeader(std::string_view tex, std::string_view header) {
  std::string bytes = HeaderFrom(header);
  HeaderFrom(tex);
  for (size_t offset : ImageFields) bytes.replace(offset, 4, tex.substr(offset, 4));
  bytes.append(tex.substr(size_t(TEXDataOffset)));
  return bytes;
}

TTexDirectImage ToDirectColour(const TTexImage& image) {
  TTexDirectImage direct;
  direct.Width = image.Width;
  direct.Height = image.Height;
  const size_t count = image.Pixels.size() / 4;
  direct.Values.resize(count);
  // The level whose widening ((v << 3) | (v >> 2)) lies nearest each 8-bit value.
  uint8_t level[256];
  for (int c = 0, v = 0; c < 256; ++c) {
    while (v < 31 && std::abs(((v + 1) << 3 | (v + 1) >> 2) - c) <= std::abs((v << 3 | v >> 2) - c))
      ++v;
    level[c] = uint8_t(v);
  }
  const uint8_t* in = image.Pixels.data();
  for (size_t i = 0; i < count; ++i, in += 4)
    direct.Values[i] = uint16_t(level[in[0]] | level[in[1]] << 5 | level[in[2]] << 10);
  return direct;
}

} // namespace palkor
