// What the model loader needs from whoever owns the textures (the Direct3D device component):
// find a texture by exact name, and make and fill a new one from a loaded bitmap.
#pragma once

#include <string>

#include "model/texdata.h"

class TBitmap;

class TextureSource {
 public:
  virtual ~TextureSource() = default;
  // The first texture of the process-wide list whose Name equals `name` byte for byte, or null.
  virtual TKlvTexdata* FindTexture(const std::string& name) = 0;
  // MakeTexture with the bitmap's size (depth 8 for an 8-bit bitmap, else 24), then SetTexture
  // with the bitmap and `name`. Throws KlvError when the texture cannot be made (a 257th texture).
  virtual TKlvTexdata* MakeTextureFromBitmap(TBitmap& bitmap, const std::string& name) = 0;
};
