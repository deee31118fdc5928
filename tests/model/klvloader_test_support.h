// Helpers for tests that load model files: a texture source that records what it is asked, a
// writer of small 24-bit bitmaps, a temporary folder and byte patching of encoded model files.
#pragma once

#include <cstdint>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "model/texture_source.h"
#include "platform/win/bitmap.h"

// Textures are records held here, numbered in creation order like the device's list.
class FakeTextureSource : public TextureSource {
 public:
  TKlvTexdata* FindTexture(const std::string& name) override {
    ++findCalls;
    for (TKlvTexdata& tex : textures)
      if (tex.Name == name) return &tex;
    return nullptr;
  }

  TKlvTexdata* MakeTextureFromBitmap(TBitmap& bitmap, const std::string& name) override {
    madeWidths.push_back(bitmap.Width());
    return &Add(name);
  }

  // Registers a texture as if an earlier model had made it.
  TKlvTexdata& Add(const std::string& name) {
    TKlvTexdata& tex = textures.emplace_back();
    tex.Index = static_cast<int32_t>(textures.size()) - 1;
    tex.Handle = 100 + tex.Index;
    tex.MaterialHandle = 200 + tex.Index;
    tex.Name = name;
    return tex;
  }

  std::deque<TKlvTexdata> textures;  // stable addresses
  std::vector<int> madeWidths;       // width of every bitmap a texture was made from
  int findCalls = 0;
};

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempFolder {
 public:
  TempFolder() {
    std::random_device seed;
    path_ = std::filesystem::temp_directory_path() / ("klv-test-" + std::to_string(seed()) + std::to_string(seed()));
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // The folder with a trailing '/', ready for file names to be appended.
  std::string Prefix() const { return path_.string() + "/"; }

 private:
  std::filesystem::path path_;
};

inline void WriteBytes(const std::string& fileName, const std::vector<uint8_t>& bytes) {
  std::ofstream out(fileName, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline void PutLE(std::vector<uint8_t>& bytes, size_t offset, uint32_t value, int size = 4) {
  for (int i = 0; i < size; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

// An uncompressed bottom-up 24-bit bitmap whose pixel (x, y), y from the top, is pixel(x, y) as
// 0x00RRGGBB.
template <class PixelFn>
void WriteBitmap24(const std::string& fileName, int width, int height, PixelFn pixel) {
  const uint32_t rowBytes = (static_cast<uint32_t>(width) * 3 + 3) & ~3u;
  const uint32_t dataOffset = 54;
  std::vector<uint8_t> bytes(dataOffset + rowBytes * height, 0);
  bytes[0] = 'B';
  bytes[1] = 'M';
  PutLE(bytes, 2, static_cast<uint32_t>(bytes.size()));
  PutLE(bytes, 10, dataOffset);
  PutLE(bytes, 14, 40);
  PutLE(bytes, 18, static_cast<uint32_t>(width));
  PutLE(bytes, 22, static_cast<uint32_t>(height));
  PutLE(bytes, 26, 1, 2);
  PutLE(bytes, 28, 24, 2);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = bytes.data() + dataOffset + rowBytes * (height - 1 - y);
    for (int x = 0; x < width; ++x) {
      const uint32_t rgb = pixel(x, y);
      row[3 * x + 0] = static_cast<uint8_t>(rgb);
      row[3 * x + 1] = static_cast<uint8_t>(rgb >> 8);
      row[3 * x + 2] = static_cast<uint8_t>(rgb >> 16);
    }
  }
  WriteBytes(fileName, bytes);
}

inline void WriteFlatBitmap(const std::string& fileName, int width, int height, uint32_t rgb) {
  WriteBitmap24(fileName, width, height, [rgb](int, int) { return rgb; });
}
