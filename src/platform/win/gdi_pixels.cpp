// Row conversions between the drawing-context pixel layouts (see gdi_pixels.h).
#include "platform/win/gdi_pixels.h"

#include <array>
#include <cstring>
#include <iterator>

namespace {

constexpr int kStaticColoursAtEachEnd = 10;

struct StaticColour {
  int index;
  BYTE red, green, blue;
};

// The twenty static colours Windows keeps in every system palette.
constexpr StaticColour kStaticColours[] = {
    {0, 0, 0, 0},         {1, 128, 0, 0},       {2, 0, 128, 0},       {3, 128, 128, 0},   {4, 0, 0, 128},
    {5, 128, 0, 128},     {6, 0, 128, 128},     {7, 192, 192, 192},   {8, 192, 220, 192}, {9, 166, 202, 240},
    {246, 255, 251, 240}, {247, 160, 160, 164}, {248, 128, 128, 128}, {249, 255, 0, 0},   {250, 0, 255, 0},
    {251, 255, 255, 0},   {252, 0, 0, 255},     {253, 255, 0, 255},   {254, 0, 255, 255}, {255, 255, 255, 255},
};
static_assert(std::size(kStaticColours) == 2 * kStaticColoursAtEachEnd);

std::array<PALETTEENTRY, kSystemPaletteSize> BuildSystemPalette() {
  std::array<PALETTEENTRY, kSystemPaletteSize> entries{};
  for (const StaticColour& c : kStaticColours) entries[c.index] = PALETTEENTRY{c.red, c.green, c.blue, 0};
  return entries;
}

uint32_t Widen5(uint32_t v) { return (v << 3) | (v >> 2); }
uint32_t Widen6(uint32_t v) { return (v << 2) | (v >> 4); }

uint32_t EntryXrgb(const PALETTEENTRY& e) { return (uint32_t{e.peRed} << 16) | (uint32_t{e.peGreen} << 8) | e.peBlue; }

uint16_t Load16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
void Store16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

}  // namespace

const PALETTEENTRY* SystemPaletteEntries() {
  static const std::array<PALETTEENTRY, kSystemPaletteSize> entries = BuildSystemPalette();
  return entries.data();
}

int BytesPerPixel(GdiFormat format) {
  switch (format) {
    case GdiFormat::Indexed8: return 1;
    case GdiFormat::Rgb565:
    case GdiFormat::Rgb555: return 2;
    case GdiFormat::Bgr24: return 3;
    case GdiFormat::Xrgb32: return 4;
  }
  return 4;
}

int NearestPaletteIndex(const PALETTEENTRY* palette, uint32_t xrgb) {
  const int r = static_cast<int>((xrgb >> 16) & 0xFF);
  const int g = static_cast<int>((xrgb >> 8) & 0xFF);
  const int b = static_cast<int>(xrgb & 0xFF);
  int best = 0;
  int bestDistance = 1 << 30;
  for (int i = 0; i < 256; ++i) {
    const int dr = palette[i].peRed - r;
    const int dg = palette[i].peGreen - g;
    const int db = palette[i].peBlue - b;
    const int distance = dr * dr + dg * dg + db * db;
    if (distance < bestDistance) {
      bestDistance = distance;
      best = i;
      if (distance == 0) break;
    }
  }
  return best;
}

void RowToXrgb(GdiFormat format, const uint8_t* src, int count, const PALETTEENTRY* palette, uint32_t* out) {
  switch (format) {
    case GdiFormat::Indexed8: {
      const PALETTEENTRY* entries = palette ? palette : SystemPaletteEntries();
      for (int i = 0; i < count; ++i) out[i] = EntryXrgb(entries[src[i]]);
      break;
    }
    case GdiFormat::Rgb565:
      for (int i = 0; i < count; ++i) {
        const uint32_t p = Load16(src + 2 * i);
        out[i] = (Widen5(p >> 11) << 16) | (Widen6((p >> 5) & 0x3F) << 8) | Widen5(p & 0x1F);
      }
      break;
    case GdiFormat::Rgb555:
      for (int i = 0; i < count; ++i) {
        const uint32_t p = Load16(src + 2 * i);
        out[i] = (Widen5((p >> 10) & 0x1F) << 16) | (Widen5((p >> 5) & 0x1F) << 8) | Widen5(p & 0x1F);
      }
      break;
    case GdiFormat::Bgr24:
      for (int i = 0; i < count; ++i) {
        const uint8_t* p = src + 3 * i;
        out[i] = (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
      }
      break;
    case GdiFormat::Xrgb32:
      for (int i = 0; i < count; ++i) {
        const uint8_t* p = src + 4 * i;
        out[i] = (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
      }
      break;
  }
}

void RowFromXrgb(GdiFormat format, const uint32_t* in, int count, const PALETTEENTRY* palette, uint8_t* dst) {
  switch (format) {
    case GdiFormat::Indexed8: {
      const PALETTEENTRY* entries = palette ? palette : SystemPaletteEntries();
      // Neighbouring pixels often share a colour: remember the last answer.
      uint32_t lastColour = 0xFFFFFFFFu;
      uint8_t lastIndex = 0;
      for (int i = 0; i < count; ++i) {
        if (in[i] != lastColour) {
          lastColour = in[i];
          lastIndex = static_cast<uint8_t>(NearestPaletteIndex(entries, lastColour));
        }
        dst[i] = lastIndex;
      }
      break;
    }
    case GdiFormat::Rgb565:
      for (int i = 0; i < count; ++i) {
        const uint32_t c = in[i];
        Store16(dst + 2 * i, ((c >> 8) & 0xF800) | ((c >> 5) & 0x07E0) | ((c >> 3) & 0x001F));
      }
      break;
    case GdiFormat::Rgb555:
      for (int i = 0; i < count; ++i) {
        const uint32_t c = in[i];
        Store16(dst + 2 * i, ((c >> 9) & 0x7C00) | ((c >> 6) & 0x03E0) | ((c >> 3) & 0x001F));
      }
      break;
    case GdiFormat::Bgr24:
      for (int i = 0; i < count; ++i) {
        uint8_t* p = dst + 3 * i;
        p[0] = static_cast<uint8_t>(in[i]);
        p[1] = static_cast<uint8_t>(in[i] >> 8);
        p[2] = static_cast<uint8_t>(in[i] >> 16);
      }
      break;
    case GdiFormat::Xrgb32:
      for (int i = 0; i < count; ++i) {
        uint8_t* p = dst + 4 * i;
        p[0] = static_cast<uint8_t>(in[i]);
        p[1] = static_cast<uint8_t>(in[i] >> 8);
        p[2] = static_cast<uint8_t>(in[i] >> 16);
        p[3] = 0;
      }
      break;
  }
}

void ConvertRow(GdiFormat srcFormat, const uint8_t* src, const PALETTEENTRY* srcPalette, GdiFormat dstFormat,
                uint8_t* dst, const PALETTEENTRY* dstPalette, int count, std::vector<uint32_t>& scratch) {
  if (count <= 0) return;
  if (srcFormat == dstFormat) {
    std::memmove(dst, src, static_cast<size_t>(count) * static_cast<size_t>(BytesPerPixel(srcFormat)));
    return;
  }
  if (scratch.size() < static_cast<size_t>(count)) scratch.resize(static_cast<size_t>(count));
  RowToXrgb(srcFormat, src, count, srcPalette, scratch.data());
  RowFromXrgb(dstFormat, scratch.data(), count, dstPalette, dst);
}
