#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace palkor {

// Both writers build the whole file in memory and then replace the file at path, so a
// failure leaves any old file as it was and no partial file behind. They throw
// Exception for a size that is not positive or too large for the format, and the
// file layer's "Cannot create file "%s". %s" / "Stream write error".

// A PNG file, 8 bits per sample, not interlaced: channels 3 gives RGB (colour type 2),
// 4 gives RGBA (colour type 6). pixels: height rows of width x channels bytes, packed,
// top row first (with bottomUp, the bottom row first).
// Rows are filtered as libpng chooses, row by row, unless rows says Unfiltered: for
// pictures of flat colour on a plain background (a model drawn on a transparent square)
// unfiltered rows compress smaller, and in about half the time.
enum class TPNGRows { Filtered, Unfiltered };
void WritePNG(const std::string& path, int width, int height, const uint8_t* pixels, int channels,
              bool bottomUp = false);
// The bytes of that PNG file.
std::string EncodePNG(int width, int height, const uint8_t* pixels, int channels,
                      bool bottomUp = false, TPNGRows rows = TPNGRows::Filtered);

// A 32-bit BI_RGB BMP file (rows bottom-up, bytes blue, green, red, 0) from packed RGB
// pixels, 3 bytes each, top row first (with bottomUp, the bottom row first).
void WriteBMP32(const std::string& path, int width, int height, const uint8_t* rgbPixels,
                bool bottomUp = false);
// The bytes of that BMP file.
std::string EncodeBMP32(int width, int height, const uint8_t* rgbPixels, bool bottomUp = false);

// A decoded picture: Width x Height pixels of 4 bytes, red, green, blue, alpha, the top
// row first, rows packed.
struct TRGBAImage {
  int32_t Width = 0, Height = 0;
  std::vector<uint8_t> Pixels;
};

// Decodes PNG bytes of any colour type, bit depth and interlacing to 8-bit RGBA (16-bit
// samples keep their high byte, grey becomes equal red, green and blue, a tRNS chunk
// becomes alpha). checkSize, when given, is called with the image's size once the
// header is read and before any pixel memory is taken; it may throw to refuse the
// image. Throws Exception "NAME is not a PNG image" when the bytes do not start with the
// PNG signature and "NAME: damaged PNG image (REASON)" when libpng cannot decode them;
// NAME is what the caller calls the bytes.
TRGBAImage DecodePNGImage(std::string_view bytes, const std::string& name,
                          const std::function<void(int32_t width, int32_t height)>& checkSize = {});

} // namespace palkor
