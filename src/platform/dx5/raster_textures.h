// Palette textures widened once: the rasteriser draws an Indexed8 texture from a 32-bit copy
// (MarkedXrgb32), so its span loops read one word per texel instead of an index and then a
// palette entry. Copies are kept for the few textures drawn recently and made again only when the
// texels, the palette or the colour key change; each draw checks that against a copy of the
// indices, which costs far less than drawing from them.
#pragma once

#include <mutex>

#include "platform/dx5/raster.h"

// The widened copy of `texture` (Indexed8, with the same size, wrapping and colour key), valid
// while `hold` is held; or `texture` itself when it is not a palette texture or too large to copy.
const RasterTexture* WidenPaletteTexture(const RasterTexture& texture, std::unique_lock<std::mutex>& hold);

// The copies for a run of queued draws: holds the table while it lives, and every copy it hands
// out stays as it is until Release or its end, while the draws that sample it are drawn.
class PaletteCopies {
 public:
  PaletteCopies();
  ~PaletteCopies();
  PaletteCopies(const PaletteCopies&) = delete;
  PaletteCopies& operator=(const PaletteCopies&) = delete;

  // As WidenPaletteTexture; null when the copies already handed out leave no room for this one,
  // or one of them is of the same texels as they were before (changed since): draw the calls given
  // copies so far, Release, and ask again.
  const RasterTexture* Widen(const RasterTexture& texture);
  // Lets the copies handed out so far be refilled or reused again.
  void Release();

 private:
  std::unique_lock<std::mutex> hold_;
};
