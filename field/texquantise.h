#pragma once

#include "field/texwrite.h"

#include <cstdint>

namespace palkor {

struct TTexQuantiseOptions {
  // The most palette entries, the colour key's included: 2 to 256.
  int32_t Colours = 256;
  // Floyd-Steinberg dithering of a picture that does not fit the palette.
  bool Dither = false;
};

// A picture made ready for a palettised TEX file.
struct TTexQuantised {
  TTexIndexedImage Image;
  // Every opaque pixel kept its colour: the picture had few enough colours.
  bool Exact = false;
  // Pixels neither opaque nor fully transparent, written as opaque.
  int64_t PartlyTransparent = 0;
};

// Turns an RGBA picture into palette and indices. Fully transparent pixels (alpha 0)
// become index 0 with the colour key set; every other pixel counts as opaque (the format
// has no alpha). A picture of at most options.Colours colours (one fewer with a colour
// key) keeps each colour exactly; a picture of more is quantised by libimagequant.
// Throws Exception for an empty or oversized picture, Colours outside 2 to 256, or a
// quantisation that fails.
TTexQuantised QuantiseTEX(const TTexImage& image, const TTexQuantiseOptions& options);

} // namespace palkor
