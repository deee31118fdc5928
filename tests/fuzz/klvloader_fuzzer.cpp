// libFuzzer harness for the model file reader: each input is one model file, read from memory.
// Every input must load or be refused with KlvError; anything else (a crash, a sanitizer report,
// another exception, a leak) is a finding. Texture names of even length are found as textures
// already made; the others are looked up as bitmaps in a folder that does not exist, so the path
// resolution runs on every name the fuzzer makes. Built and run by scripts/fuzz-models.sh.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <string>

#include "model/klvloader.h"
#include "model/sceneobject.h"
#include "platform/error.h"

namespace {

class FuzzTextures : public TextureSource {
 public:
  TKlvTexdata* FindTexture(const std::string& name) override { return name.size() % 2 == 0 ? &Add(name) : nullptr; }
  TKlvTexdata* MakeTextureFromBitmap(TBitmap&, const std::string& name) override { return &Add(name); }

 private:
  TKlvTexdata& Add(const std::string& name) {
    TKlvTexdata& tex = textures_.emplace_back();
    tex.Index = static_cast<int32_t>(textures_.size()) - 1;
    tex.Name = name;
    return tex;
  }

  std::deque<TKlvTexdata> textures_;  // stable addresses
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzTextures textures;
  try {
    FreeObjectTree(LoadModelBytes(textures, "/nonexistent-klv-fuzz/model.klv", std::span<const uint8_t>(data, size)));
  } catch (const KlvError&) {
  }
  return 0;
}
