// thumb_floor ARCHIVE OUTDIR: the floor of thumbnails. In one process and one thread,
// the archive's catalogue is analysed, every field model is built as pose builds it (its
// skeleton, parts, textures and first offered animation), and one 128 x 128 RGBA picture
// is encoded by libpng alone for each and written to OUTDIR with an fsync, as a durable
// file write is. Nothing is drawn.
#include "app/catalogue.h"
#include "field/FieldModel.h"

#include <png.h>

#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

void Append(png_structp png, png_bytep data, png_size_t length) {
  static_cast<std::string*>(png_get_io_ptr(png))
      ->append(reinterpret_cast<const char*>(data), length);
}

void Flush(png_structp) {}

bool WritePicture(const std::string& path, const std::vector<uint8_t>& rgba, int size) {
  std::string bytes;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_write_fn(png, &bytes, Append, Flush);
  png_set_IHDR(png, info, png_uint_32(size), png_uint_32(size), 8, PNG_COLOR_TYPE_RGB_ALPHA,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  std::vector<png_bytep> rows(size_t(size), nullptr);
  for (int y = 0; y < size; ++y)
    rows[size_t(y)] = const_cast<png_bytep>(rgba.data()) + size_t(y) * size_t(size) * 4;
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const bool written = fd >= 0 &&
                       ::write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size()) &&
                       ::fsync(fd) == 0;
  if (fd >= 0) ::close(fd);
  return written;
}

} // namespace

int main(int argc, char** argv) {
  using namespace palkor;
  if (argc != 3) {
    std::fprintf(stderr, "usage: thumb_floor ARCHIVE OUTDIR\n");
    return 2;
  }
  constexpr int size = 128;
  try {
    auto archive = TLGPFile::Create(argv[1], false);
    TCatalogue catalogue;
    catalogue.ArchivePath = argv[1];
    catalogue.AnalyseArchive(*archive);
    // A picture with a model's share of opaque pixels, for libpng to compress as it would.
    std::vector<uint8_t> rgba(size_t(size) * size * 4, 0);
    for (size_t p = 0; p < rgba.size() / 4; p += 3)
      for (size_t c = 0; c < 4; ++c) rgba[p * 4 + c] = uint8_t(c == 3 ? 255 : p * (c + 1));
    for (const TModelRef& model : catalogue.Models) {
      const std::vector<std::string> anims = catalogue.AnimationsFor(model.Index, false, 1);
      TFieldModel built(*archive, model.Member, anims.empty() ? std::string() : anims.front());
      if (!WritePicture(std::string(argv[2]) + "/" + model.FileStem() + ".png", rgba, size))
        return 1;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "thumb_floor: %s\n", e.what());
    return 1;
  }
  return 0;
}
