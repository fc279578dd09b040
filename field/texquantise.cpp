// Palette quantisation of pictures for TEX files, the one place libimagequant is used.
#include "field/texquantise.h"

#include "platform/Exceptions.h"

#include <libimagequant.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <unordered_map>

namespace palkor {

namespace {

struct TLiqFree {
  void operator()(liq_attr* p) const { liq_attr_destroy(p); }
  void operator()(liq_image* p) const { liq_image_destroy(p); }
  void operator()(liq_result* p) const { liq_result_destroy(p); }
};

void CheckLiq(liq_error error) {
  if (error == LIQ_OUT_OF_MEMORY) throw std::bad_alloc();
  if (error != LIQ_OK)
    throw Exception(Format("Cannot quantise the picture (libimagequant error %d)", int(error)));
}

uint32_t RGBKey(const uint8_t* p) {
  return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
}

// The colours of the opaque pixels in order of first appearance, when there are at most
// limit of them; false when there are more.
bool FewColours(const TTexImage& image, size_t limit, std::vector<uint32_t>& colours,
                std::unordered_map<uint32_t, uint8_t>& indexOf) {
  const size_t count = image.Pixels.size() / 4;
  const uint8_t* p = image.Pixels.data();
  uint32_t last = 0xFFFFFFFF;
  for (size_t i = 0; i < count; ++i, p += 4) {
    if (p[3] == 0) continue;
    const uint32_t key = RGBKey(p);
    if (key == last) continue;
    last = key;
    if (indexOf.count(key)) continue;
    if (colours.size() == limit) return false;
    indexOf.emplace(key, uint8_t(0));
    colours.push_back(key);
  }
  return true;
}

// Opaque pixels mapped to the palette entries from firstOpaque on, with libimagequant.
void Quantise(const TTexImage& image, const TTexQuantiseOptions& options, int32_t opaqueColours,
              bool keyed, TTexIndexedImage& out) {
  const size_t count = image.Pixels.size() / 4;
  // Partly transparent pixels count as opaque; fully transparent ones stay so, and
  // libimagequant keeps them apart from the colours.
  std::vector<uint8_t> rgba(image.Pixels);
  for (size_t i = 0; i < count; ++i) {
    uint8_t* p = rgba.data() + i * 4;
    if (p[3] == 0)
      p[0] = p[1] = p[2] = 0;
    else
      p[3] = 255;
  }
  std::unique_ptr<liq_attr, TLiqFree> attr(liq_attr_create());
  if (!attr) throw std::bad_alloc();
  // libimagequant wants two colours at least; one opaque colour beside a key is
  // found below as the nearest of two.
  CheckLiq(liq_set_max_colors(attr.get(), std::max(2, opaqueColours)));
  std::unique_ptr<liq_image, TLiqFree> liqImage(
      liq_image_create_rgba(attr.get(), rgba.data(), image.Width, image.Height, 0));
  if (!liqImage) throw Exception("Cannot quantise the picture: libimagequant refuses its size");
  liq_result* made = nullptr;
  CheckLiq(liq_image_quantize(liqImage.get(), attr.get(), &made));
  std::unique_ptr<liq_result, TLiqFree> result(made);
  CheckLiq(liq_set_dithering_level(result.get(), options.Dither ? 1.0f : 0.0f));
  std::vector<uint8_t> remapped(count);
  CheckLiq(liq_write_remapped_image(result.get(), liqImage.get(), remapped.data(), count));
  const liq_palette* palette = liq_get_palette(result.get());

  // libimagequant's opaque entries after the key; its transparent entry, if any, is
  // the key itself.
  std::vector<int> entryOf(palette->count, -1);
  const size_t firstOpaque = out.Palette.size();
  for (unsigned i = 0; i < palette->count; ++i) {
    const liq_color& c = palette->entries[i];
    if (c.a < 128 || int(out.Palette.size() - firstOpaque) >= opaqueColours) continue;
    entryOf[i] = int(out.Palette.size());
    out.Palette.push_back({c.r, c.g, c.b});
  }
  if (out.Palette.size() == firstOpaque) out.Palette.push_back({0, 0, 0});
  auto nearest = [&](const uint8_t* p) {
    size_t best = firstOpaque;
    int bestDistance = INT32_MAX;
    for (size_t e = firstOpaque; e < out.Palette.size(); ++e) {
      const auto& c = out.Palette[e];
      const int dr = c[0] - p[0], dg = c[1] - p[1], db = c[2] - p[2];
      const int distance = dr * dr + dg * dg + db * db;
      if (distance < bestDistance) bestDistance = distance, best = e;
    }
    return uint8_t(best);
  };
  out.Indices.resize(count);
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* p = rgba.data() + i * 4;
    if (keyed && p[3] == 0) {
      out.Indices[i] = 0;
      continue;
    }
    const int entry = remapped[i] < palette->count ? entryOf[remapped[i]] : -1;
    out.Indices[i] = entry >= 0 ? uint8_t(entry) : nearest(p);
  }
}

} // namespace

TTexQuantised QuantiseTEX(const TTexImage& image, const TTexQuantiseOptions& options) {
  CheckTEXSize("picture", image.Width, image.Height);
  if (image.Pixels.size() != size_t(image.Width) * size_t(image.Height) * 4)
    throw Exception("The picture's pixels do not match its size");
  if (options.Colours < 2 || options.Colours > 256)
    throw Exception(Format("A TEX palette holds 2 to 256 colours, not %d", options.Colours));

  TTexQuantised out;
  out.Image.Width = image.Width;
  out.Image.Height = image.Height;
  const size_t count = image.Pixels.size() / 4;
  bool keyed = false;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t alpha = image.Pixels[i * 4 + 3];
    keyed |= alpha == 0;
    out.PartlyTransparent += alpha != 0 && alpha != 255;
  }
  out.Image.ColourKey = keyed;
  if (keyed) out.Image.Palette.push_back({0, 0, 0});
  const int32_t opaqueColours = options.Colours - (keyed ? 1 : 0);

  std::vector<uint32_t> colours;
  std::unordered_map<uint32_t, uint8_t> indexOf;
  if (FewColours(image, size_t(opaqueColours), colours, indexOf)) {
    for (uint32_t key : colours) {
      indexOf[key] = uint8_t(out.Image.Palette.size());
      out.Image.Palette.push_back({uint8_t(key >> 16), uint8_t(key >> 8), uint8_t(key)});
    }
    // A picture wholly transparent still has its key colour as the palette.
    out.Image.Indices.resize(count);
    const uint8_t* p = image.Pixels.data();
    for (size_t i = 0; i < count; ++i, p += 4)
      out.Image.Indices[i] = p[3] == 0 ? 0 : indexOf[RGBKey(p)];
    out.Exact = true;
    return out;
  }
  Quantise(image, options, opaqueColours, keyed, out.Image);
  return out;
}

} // namespace palkor
