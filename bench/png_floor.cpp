// png_floor OUTDIR FRAME.bmp...: the floor of PNG frame output. Each 32-bit BMP frame is
// read and encoded by libpng alone with the settings Palkor's frames use (8-bit RGB, the
// default compression and filters, no interlacing) and written to OUTDIR with an fsync,
// as a durable file write is.
#include <png.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

bool ReadBMP(const char* path, int& width, int& height, std::vector<uint8_t>& rgb) {
  FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  std::vector<uint8_t> file;
  uint8_t chunk[65536];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) file.insert(file.end(), chunk, chunk + n);
  std::fclose(f);
  if (file.size() < 54) return false;
  auto u32 = [&](size_t at) {
    return uint32_t(file[at]) | uint32_t(file[at + 1]) << 8 | uint32_t(file[at + 2]) << 16 |
           uint32_t(file[at + 3]) << 24;
  };
  const uint32_t offset = u32(10);
  width = int(u32(18));
  height = int(u32(22));
  if (file.size() < offset + size_t(width) * size_t(height) * 4) return false;
  rgb.resize(size_t(width) * size_t(height) * 3);
  for (int y = 0; y < height; ++y) {
    const uint8_t* in = file.data() + offset + size_t(height - 1 - y) * size_t(width) * 4;
    uint8_t* out = rgb.data() + size_t(y) * size_t(width) * 3;
    for (int x = 0; x < width; ++x, in += 4, out += 3) {
      out[0] = in[2];
      out[1] = in[1];
      out[2] = in[0];
    }
  }
  return true;
}

void Append(png_structp png, png_bytep data, png_size_t length) {
  auto* bytes = static_cast<std::string*>(png_get_io_ptr(png));
  bytes->append(reinterpret_cast<const char*>(data), length);
}

void Flush(png_structp) {}

} // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: png_floor OUTDIR FRAME.bmp...\n");
    return 2;
  }
  for (int i = 2; i < argc; ++i) {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
    if (!ReadBMP(argv[i], width, height, rgb)) return 1;
    std::string bytes;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) return 1;
    png_set_write_fn(png, &bytes, Append, Flush);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<png_bytep> rows(static_cast<size_t>(height), nullptr);
    for (int y = 0; y < height; ++y) rows[size_t(y)] = rgb.data() + size_t(y) * size_t(width) * 3;
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    const std::string out = std::string(argv[1]) + "/" + std::to_string(i - 2) + ".png";
    int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size()) ||
        ::fsync(fd) != 0)
      return 1;
    ::close(fd);
  }
  return 0;
}
