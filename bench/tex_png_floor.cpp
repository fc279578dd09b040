// tex_png_floor ARCHIVE OUTDIR: the floor of tex --all. Reads the LGP archive's table,
// decodes every member whose name ends in ".TEX" (palettised or direct colour, as the
// program's decoder does) and encodes it by libpng alone with the settings of Palkor's
// PNG files (8-bit RGBA, the default compression and filters, no interlacing), each
// written to OUTDIR with an fsync, as a durable file write is. No checks beyond what
// keeps it inside its data: it is a floor, not a reader.
#include <png.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <strings.h>
#include <unistd.h>
#include <vector>

namespace {

int32_t I32(const uint8_t* p) {
  return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                 uint32_t(p[3]) << 24);
}

uint8_t Widen5(uint32_t v) {
  return uint8_t((v << 3) | (v >> 2));
}

bool Decode(const uint8_t* tex, size_t size, int& width, int& height, std::vector<uint8_t>& rgba) {
  if (size < 236) return false;
  width = I32(tex + 60);
  height = I32(tex + 64);
  const int32_t count = I32(tex + 88);
  if (width <= 0 || height <= 0 || count < 0 || count > 256) return false;
  const size_t pixels = size_t(width) * size_t(height);
  rgba.resize(pixels * 4);
  if (count == 0) {
    if (size < 236 + pixels * 2) return false;
    for (size_t i = 0; i < pixels; ++i) {
      const uint32_t v = uint32_t(tex[236 + i * 2]) | uint32_t(tex[237 + i * 2]) << 8;
      rgba[i * 4] = Widen5(v & 31);
      rgba[i * 4 + 1] = Widen5(v >> 5 & 31);
      rgba[i * 4 + 2] = Widen5(v >> 10 & 31);
      rgba[i * 4 + 3] = 255;
    }
    return true;
  }
  if (size < 236 + size_t(count) * 4 + pixels) return false;
  uint8_t colours[256][4] = {};
  for (int i = 0; i < count; ++i) {
    const uint8_t* e = tex + 236 + i * 4;
    colours[i][0] = e[2];
    colours[i][1] = e[1];
    colours[i][2] = e[0];
    colours[i][3] = 255;
  }
  if (I32(tex + 8) > 0) std::memset(colours[0], 0, 4);
  const uint8_t* indices = tex + 236 + size_t(count) * 4;
  for (size_t i = 0; i < pixels; ++i) std::memcpy(&rgba[i * 4], colours[indices[i]], 4);
  return true;
}

void Append(png_structp png, png_bytep data, png_size_t length) {
  static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<char*>(data), length);
}

void Flush(png_structp) {}

} // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: tex_png_floor ARCHIVE OUTDIR\n");
    return 2;
  }
  FILE* f = std::fopen(argv[1], "rb");
  if (!f) return 1;
  std::vector<uint8_t> file;
  uint8_t chunk[1 << 16];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;)
    file.insert(file.end(), chunk, chunk + n);
  std::fclose(f);
  if (file.size() < 16) return 1;
  const int32_t count = I32(file.data() + 12);
  int written = 0;
  for (int32_t i = 0; i < count; ++i) {
    const size_t entry = 16 + size_t(i) * 27;
    if (entry + 27 > file.size()) return 1;
    const std::string name(reinterpret_cast<const char*>(&file[entry]),
                           strnlen(reinterpret_cast<const char*>(&file[entry]), 20));
    if (name.size() < 5 || strcasecmp(name.c_str() + name.size() - 4, ".tex") != 0) continue;
    const size_t offset = size_t(uint32_t(I32(&file[entry + 20])));
    if (offset + 24 > file.size()) return 1;
    const size_t size = size_t(uint32_t(I32(&file[offset + 20])));
    if (offset + 24 + size > file.size()) return 1;
    int width = 0, height = 0;
    std::vector<uint8_t> rgba;
    if (!Decode(&file[offset + 24], size, width, height, rgba)) continue;

    std::string bytes;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) return 1;
    png_set_write_fn(png, &bytes, Append, Flush);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGB_ALPHA,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<png_bytep> rows(size_t(height), nullptr);
    for (int y = 0; y < height; ++y) rows[size_t(y)] = rgba.data() + size_t(y) * size_t(width) * 4;
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    const std::string out = std::string(argv[2]) + "/" + name.substr(0, name.size() - 4) + ".png";
    int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size()) ||
        ::fsync(fd) != 0)
      return 1;
    ::close(fd);
    ++written;
  }
  std::printf("%d textures\n", written);
  return 0;
}
