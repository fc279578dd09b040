// BMP layout written (little-endian):
//
//   0    2   "BM"
//   2    4   file size
//   6    4   reserved, 0
//   10   4   offset of the pixels: 54
//   14   4   info header size: 40
//   18   4   width; 22  4  height (positive: rows stored bottom-up)
//   26   2   planes: 1; 28  2  bits per pixel: 32
//   30   4   compression: 0 (BI_RGB); 34  4  pixel bytes
//   38   4   horizontal, 42  4  vertical resolution: 0 (unspecified)
//   46   4   colours used, 50  4  colours important: 0
//   54       pixels: 4 bytes each, blue, green, red, 0; the bottom row first
//
// PNG: written by libpng into memory, 8-bit samples, no interlacing; read by libpng from
// memory, any colour type, depth and interlacing, to 8-bit RGBA.
#include "platform/images.h"

#include "platform/Exceptions.h"
#include "platform/Files.h"
#include "platform/Streams.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

namespace palkor {

namespace {

constexpr uint32_t BMPHeaderSize = 14 + 40;

struct TPNGTarget {
  std::string Bytes;
  char Error[200] = {};
};

void AppendPNGData(png_structp png, png_bytep data, png_size_t length) {
  auto* target = static_cast<TPNGTarget*>(png_get_io_ptr(png));
  // An exception must not unwind through libpng's C frames: running out of memory is
  // reported as libpng reports its own errors.
  bool appended = true;
  try {
    target->Bytes.append(reinterpret_cast<const char*>(data), length);
  } catch (const std::bad_alloc&) {
    appended = false;
  }
  if (!appended) png_error(png, "insufficient memory");
}

void FlushPNGData(png_structp) {}

// libpng reports errors by longjmp; the text is kept for the exception thrown later.
void PNGError(png_structp png, png_const_charp message) {
  auto* target = static_cast<TPNGTarget*>(png_get_error_ptr(png));
  std::snprintf(target->Error, sizeof target->Error, "%s", message);
  png_longjmp(png, 1);
}

void PNGWarning(png_structp, png_const_charp) {}

// Encodes into target; false with target.Error set when libpng fails. Nothing with a
// destructor lives in this frame across setjmp.
bool EncodePNGInto(TPNGTarget& target, int width, int height, int channels, png_bytep const* rows,
                   TPNGRows filtering) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &target, PNGError, PNGWarning);
  if (!png) {
    std::snprintf(target.Error, sizeof target.Error, "out of memory");
    return false;
  }
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(png_jmpbuf(png))) {
    if (!target.Error[0]) std::snprintf(target.Error, sizeof target.Error, "out of memory");
    png_destroy_write_struct(&png, info ? &info : nullptr);
    return false;
  }
  png_set_write_fn(png, &target, AppendPNGData, FlushPNGData);
  if (filtering == TPNGRows::Unfiltered) png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
  png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8,
               channels == 4 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_write_image(png, const_cast<png_bytepp>(rows));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

void PutU16LE(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}

} // namespace

std::string EncodePNG(int width, int height, const uint8_t* pixels, int channels, bool bottomUp,
                      TPNGRows filtering) {
  if (channels != 3 && channels != 4)
    throw Exception(Format("Cannot write a PNG image of %d channels", channels));
  // libpng refuses sides above 1000000 pixels.
  if (width <= 0 || height <= 0 || width > 1000000 || height > 1000000)
    throw Exception(Format("Cannot write an image of %dx%d pixels", width, height));

  size_t rowBytes = size_t(width) * size_t(channels);
  std::vector<png_bytep> rows(static_cast<size_t>(height));
  for (int y = 0; y < height; ++y)
    rows[size_t(y)] =
        const_cast<png_bytep>(pixels + size_t(bottomUp ? height - 1 - y : y) * rowBytes);
  TPNGTarget target;
  // Room for a picture that compresses poorly, so that the bytes are seldom moved.
  target.Bytes.reserve(rowBytes * size_t(height) / 2 + 1024);
  if (!EncodePNGInto(target, width, height, channels, rows.data(), filtering))
    throw Exception(Format("Cannot write a PNG image: %s", target.Error));
  return std::move(target.Bytes);
}

void WritePNG(const std::string& path, int width, int height, const uint8_t* pixels, int channels,
              bool bottomUp) {
  ReplaceFileWithBytes(path, EncodePNG(width, height, pixels, channels, bottomUp));
}

std::string EncodeBMP32(int width, int height, const uint8_t* rgbPixels, bool bottomUp) {
  // The file size is a 32-bit field.
  if (width <= 0 || height <= 0 ||
      int64_t(width) * height * 4 > int64_t(UINT32_MAX) - BMPHeaderSize)
    throw Exception(Format("Cannot write an image of %dx%d pixels", width, height));
  uint32_t pixelBytes = uint32_t(width) * uint32_t(height) * 4;

  std::string file(BMPHeaderSize + size_t(pixelBytes), '\0');
  auto* p = reinterpret_cast<uint8_t*>(file.data());
  p[0] = 'B';
  p[1] = 'M';
  PutU32LE(p + 2, BMPHeaderSize + pixelBytes);
  PutU32LE(p + 10, BMPHeaderSize);
  PutU32LE(p + 14, 40);
  PutU32LE(p + 18, uint32_t(width));
  PutU32LE(p + 22, uint32_t(height));
  PutU16LE(p + 26, 1);
  PutU16LE(p + 28, 32);
  PutU32LE(p + 30, 0);
  PutU32LE(p + 34, pixelBytes);

  uint8_t* out = p + BMPHeaderSize;
  for (int row = 0; row < height; ++row) {
    const uint8_t* in = rgbPixels + size_t(bottomUp ? row : height - 1 - row) * size_t(width) * 3;
    for (int x = 0; x < width; ++x, in += 3, out += 4) {
      out[0] = in[2];
      out[1] = in[1];
      out[2] = in[0];
      out[3] = 0;
    }
  }
  return file;
}

void WriteBMP32(const std::string& path, int width, int height, const uint8_t* rgbPixels,
                bool bottomUp) {
  ReplaceFileWithBytes(path, EncodeBMP32(width, height, rgbPixels, bottomUp));
}

namespace {

struct TPNGSource {
  std::string_view Bytes;
  size_t Position = 0;
  char Error[200] = {};
};

void ReadPNGData(png_structp png, png_bytep data, png_size_t length) {
  auto* source = static_cast<TPNGSource*>(png_get_io_ptr(png));
  if (length > source->Bytes.size() - source->Position) png_error(png, "the file ends early");
  std::memcpy(data, source->Bytes.data() + source->Position, length);
  source->Position += length;
}

void PNGReadError(png_structp png, png_const_charp message) {
  auto* source = static_cast<TPNGSource*>(png_get_error_ptr(png));
  std::snprintf(source->Error, sizeof source->Error, "%s", message);
  png_longjmp(png, 1);
}

// Owns libpng's read structures, so that every way out of the decoder frees them.
struct TPNGReader {
  png_structp Png = nullptr;
  png_infop Info = nullptr;
  ~TPNGReader() { png_destroy_read_struct(&Png, Info ? &Info : nullptr, nullptr); }
};

// Reads the header and sets the transformations to 8-bit RGBA; false with the error
// kept in source. Nothing with a destructor lives in this frame across setjmp.
bool ReadPNGHeader(TPNGReader& reader, TPNGSource& source, png_uint_32& width,
                   png_uint_32& height) {
  if (setjmp(png_jmpbuf(reader.Png))) return false;
  png_set_read_fn(reader.Png, &source, ReadPNGData);
  png_read_info(reader.Png, reader.Info);
  int depth = 0, colourType = 0;
  png_get_IHDR(reader.Png, reader.Info, &width, &height, &depth, &colourType, nullptr, nullptr,
               nullptr);
  if (depth == 16) png_set_strip_16(reader.Png);
  if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(reader.Png);
  if (colourType == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(reader.Png);
  if (png_get_valid(reader.Png, reader.Info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(reader.Png);
  if (colourType == PNG_COLOR_TYPE_GRAY || colourType == PNG_COLOR_TYPE_GRAY_ALPHA)
    png_set_gray_to_rgb(reader.Png);
  png_set_filler(reader.Png, 0xFF, PNG_FILLER_AFTER);
  png_set_interlace_handling(reader.Png);
  png_read_update_info(reader.Png, reader.Info);
  return png_get_rowbytes(reader.Png, reader.Info) == size_t(width) * 4;
}

bool ReadPNGRows(TPNGReader& reader, png_bytep* rows) {
  if (setjmp(png_jmpbuf(reader.Png))) return false;
  png_read_image(reader.Png, rows);
  png_read_end(reader.Png, nullptr);
  return true;
}

} // namespace

TRGBAImage DecodePNGImage(std::string_view bytes, const std::string& name,
                          const std::function<void(int32_t width, int32_t height)>& checkSize) {
  if (bytes.size() < 8 || png_sig_cmp(reinterpret_cast<png_const_bytep>(bytes.data()), 0, 8) != 0)
    throw Exception(name + " is not a PNG image");
  TPNGSource source;
  source.Bytes = bytes;
  TPNGReader reader;
  reader.Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &source, PNGReadError, PNGWarning);
  if (!reader.Png) throw std::bad_alloc();
  reader.Info = png_create_info_struct(reader.Png);
  if (!reader.Info) throw std::bad_alloc();
  png_uint_32 width = 0, height = 0;
  if (!ReadPNGHeader(reader, source, width, height))
    throw Exception(Format("%s: damaged PNG image (%s)", name,
                           source.Error[0] ? source.Error : "unexpected layout"));
  // libpng keeps each side within 1000000 pixels, so both fit an int32_t.
  if (checkSize) checkSize(int32_t(width), int32_t(height));

  TRGBAImage image;
  image.Pixels.resize(size_t(width) * size_t(height) * 4);
  std::vector<png_bytep> rows(height);
  for (png_uint_32 y = 0; y < height; ++y)
    rows[y] = image.Pixels.data() + size_t(y) * size_t(width) * 4;
  if (!ReadPNGRows(reader, rows.data()))
    throw Exception(Format("%s: damaged PNG image (%s)", name, source.Error));
  image.Width = int32_t(width);
  image.Height = int32_t(height);
  return image;
}

} // namespace palkor
