// The small record through which a face refers to its texture: the drawing bucket, the device's
// texture and material handles and the texture's name. It is embedded in the device component's
// texture object; the model layer only holds pointers to it.
#pragma once

#include <cstdint>
#include <string>

struct TKlvTexdata {
  int32_t Index = 0;            // creation order of the texture; the renderer's bucket, 0..255
  uint32_t Handle = 0;          // D3DTEXTUREHANDLE of the device texture
  uint32_t MaterialHandle = 0;  // D3DMATERIALHANDLE of the texture's material
  std::string Name;             // the name given when the texture was filled
};
