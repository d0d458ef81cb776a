#include "Grayscale.h"

std::uint8_t GreyLevel(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  // The weights are the double constants; only the arithmetic is extended.
  const long double extended = (static_cast<long double>(red) * static_cast<long double>(0.299) +
                                static_cast<long double>(green) * static_cast<long double>(0.587)) +
                               static_cast<long double>(blue) * static_cast<long double>(0.114);
  double t = static_cast<double>(extended);
  if (t > 255.0)
    t = 255.0;
  if (t < 0.0)
    t = 0.0;
  return static_cast<std::uint8_t>(t);
}

void ConvertToGrey(const TBitmap& source, TBitmap& result) {
  result.SetWidth(source.Width());
  result.SetHeight(source.Height());
  result.SetPixelFormat(TPixelFormat::pf8bit);
  result.SetPalette(TPalette::Grey());

  const int width = source.Width();
  const int bytes = source.BytesPerPixel();
  // The working entry starts as the last entry the grey palette was built with.
  TPaletteEntry working{255, 255, 255, 0};
  const bool indexed = bytes == 1 && source.Palette() != nullptr;
  for (int j = 0; j < source.Height(); ++j) {
    const std::uint8_t* in = source.ScanLine(j);
    std::uint8_t* out = result.ScanLine(j);
    for (int k = 0; k < width; ++k) {
      if (indexed) {
        source.GetPaletteEntry(in[k], working);
        out[k] = GreyLevel(working.peRed, working.peGreen, working.peBlue);
      } else if (bytes == 1) {
        out[k] = in[k];
      } else {
        const std::uint8_t* p = in + k * bytes;
        out[k] = GreyLevel(p[2], p[1], p[0]);
      }
    }
  }
}
