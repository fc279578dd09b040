// quantise_floor IMAGE.png: the floor of tex-import. The PNG is decoded by libpng and
// quantised to 256 colours by libimagequant with its default settings and no dithering,
// then remapped to one index a pixel, as a small C program would; nothing is written.
#include <libimagequant.h>
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: quantise_floor IMAGE.png\n");
    return 2;
  }
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, argv[1])) return 1;
  image.format = PNG_FORMAT_RGBA;
  std::vector<unsigned char> rgba(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgba.data(), 0, nullptr)) return 1;

  liq_attr* attr = liq_attr_create();
  liq_image* input =
      liq_image_create_rgba(attr, rgba.data(), int(image.width), int(image.height), 0);
  liq_result* result = nullptr;
  if (!input || liq_image_quantize(input, attr, &result) != LIQ_OK) return 1;
  liq_set_dithering_level(result, 0);
  std::vector<unsigned char> indices(size_t(image.width) * image.height);
  if (liq_write_remapped_image(result, input, indices.data(), indices.size()) != LIQ_OK) return 1;
  const liq_palette* palette = liq_get_palette(result);
  std::printf("%u colours\n", palette->count);
  liq_result_destroy(result);
  liq_image_destroy(input);
  liq_attr_destroy(attr);
  return 0;
}
