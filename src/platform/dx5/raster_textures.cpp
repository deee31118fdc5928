// The widened palette textures: a small table of copies, found by the texture's address and
// checked in full (size, pitch, key, palette and every index) before each use.
#include "platform/dx5/raster_textures.h"

#include <cstring>
#include <vector>

namespace {

constexpr int kCachedTextures = 16;
constexpr int kMaxWidenedTexels = 1 << 22;  // 16 MB of 32-bit copy
constexpr uint32_t kTransparent = 0x01000000u;

struct Widened {
  const uint8_t* bits = nullptr;  // the texture copied from, and how it looked
  int width = 0, height = 0;
  intptr_t pitch = 0;
  bool hasColorKey = false;
  uint32_t keyLow = 0, keyHigh = 0;
  uint32_t palette[256] = {};
  std::vector<uint8_t> indices;  // width x height, rows packed
  std::vector<uint32_t> texels;  // the 32-bit copy
  RasterTexture texture;         // describes `texels`
  uint64_t lastUse = 0;
  bool pinned = false;  // handed to a draw still queued: kept as it is
};

class WidenedTable {
 public:
  // The copy of `source`, refilled if the texels, palette or key changed. With `pin`, copies pinned
  // earlier are neither refilled nor reused, and the one returned is pinned: null when that leaves
  // no copy to give.
  const RasterTexture* Find(const RasterTexture& source, bool pin) {
    ++clock_;
    Widened* reuse = nullptr;
    for (Widened& entry : entries_) {
      if (entry.bits == source.bits) {
        reuse = &entry;
        break;
      }
      if (!entry.pinned && (reuse == nullptr || entry.lastUse < reuse->lastUse)) reuse = &entry;
    }
    if (reuse == nullptr) return nullptr;
    if (reuse->bits != source.bits || !Same(*reuse, source)) {
      if (reuse->pinned) return nullptr;
      Fill(*reuse, source);
    }
    reuse->lastUse = clock_;
    reuse->pinned = pin;
    return &reuse->texture;
  }

  void Unpin() {
    for (Widened& entry : entries_) entry.pinned = false;
  }

  std::mutex& Lock() { return lock_; }

 private:
  static bool Same(const Widened& entry, const RasterTexture& source) {
    if (entry.width != source.width || entry.height != source.height || entry.pitch != source.pitch ||
        entry.hasColorKey != source.hasColorKey || entry.keyLow != source.keyLow || entry.keyHigh != source.keyHigh ||
        std::memcmp(entry.palette, source.palette, sizeof entry.palette) != 0)
      return false;
    const auto rowBytes = static_cast<size_t>(source.width);
    for (int y = 0; y < source.height; ++y)
      if (std::memcmp(entry.indices.data() + rowBytes * y, source.bits + source.pitch * y, rowBytes) != 0) return false;
    return true;
  }

  static void Fill(Widened& entry, const RasterTexture& source) {
    entry.bits = source.bits;
    entry.width = source.width;
    entry.height = source.height;
    entry.pitch = source.pitch;
    entry.hasColorKey = source.hasColorKey;
    entry.keyLow = source.keyLow;
    entry.keyHigh = source.keyHigh;
    std::memcpy(entry.palette, source.palette, sizeof entry.palette);
    const auto rowBytes = static_cast<size_t>(source.width);
    entry.indices.resize(rowBytes * static_cast<size_t>(source.height));
    entry.texels.resize(entry.indices.size());
    // Each palette entry once: its colour, marked when its index is in the key range (compared as
    // the span loops compare raw texels).
    uint32_t widened[256];
    for (uint32_t i = 0; i < 256; ++i) {
      const bool keyed = source.hasColorKey && i - source.keyLow <= source.keyHigh - source.keyLow;
      widened[i] = (source.palette[i] & 0x00FFFFFFu) | (keyed ? kTransparent : 0u);
    }
    for (int y = 0; y < source.height; ++y) {
      const uint8_t* row = source.bits + source.pitch * y;
      std::memcpy(entry.indices.data() + rowBytes * y, row, rowBytes);
      uint32_t* out = entry.texels.data() + rowBytes * y;
      for (size_t x = 0; x < rowBytes; ++x) out[x] = widened[row[x]];
    }
    RasterTexture& t = entry.texture;
    t.bits = reinterpret_cast<const uint8_t*>(entry.texels.data());
    t.pitch = static_cast<intptr_t>(rowBytes * sizeof(uint32_t));
    t.width = source.width;
    t.height = source.height;
    t.format = RasterTexelFormat::MarkedXrgb32;
    t.hasColorKey = source.hasColorKey;
    t.keyLow = kTransparent;  // every marked texel, whatever its colour
    t.keyHigh = kTransparent | 0x00FFFFFFu;
  }

  std::mutex lock_;
  Widened entries_[kCachedTextures];
  uint64_t clock_ = 0;
};

WidenedTable& Table() {
  static WidenedTable table;
  return table;
}

// Whether `texture` is drawn from a widened copy.
bool IsWidened(const RasterTexture& texture) {
  return texture.format == RasterTexelFormat::Indexed8 && texture.bits != nullptr && texture.width > 0 &&
         texture.height > 0 && int64_t{texture.width} * texture.height <= kMaxWidenedTexels;
}

}  // namespace

const RasterTexture* WidenPaletteTexture(const RasterTexture& texture, std::unique_lock<std::mutex>& hold) {
  if (!IsWidened(texture)) return &texture;
  hold = std::unique_lock<std::mutex>(Table().Lock());
  return Table().Find(texture, false);
}

PaletteCopies::PaletteCopies() : hold_(Table().Lock()) {}

PaletteCopies::~PaletteCopies() { Table().Unpin(); }

const RasterTexture* PaletteCopies::Widen(const RasterTexture& texture) {
  if (!IsWidened(texture)) return &texture;
  return Table().Find(texture, true);
}

void PaletteCopies::Release() { Table().Unpin(); }
