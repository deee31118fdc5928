// Generates the saver's default data set into a folder: the height map, the ground texture, the six
// models and the textures they name. Deterministic: the same bytes on every run and machine.
//
// Usage: klvgen <output folder>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "klvgen_image.h"
#include "klvgen_models.h"
#include "klvgen_textures.h"
#include "platform/error.h"
#include "platform/win/bmp_writer.h"
#include "tool_cli.h"

namespace {

using namespace klvgen;

constexpr uint32_t kSeed = 20240601;

void Write(const std::filesystem::path& dir, const char* name, const IndexedImage& img) {
  WriteBmp8((dir / name).string(), img.width, img.height, img.indices, img.palette);
}

void Write(const std::filesystem::path& dir, const char* name, const RgbImage& img) {
  WriteBmp24((dir / name).string(), img.width, img.height, img.bgr);
}

void Write(const std::filesystem::path& dir, const char* name, const KlvModelDesc& model) {
  WriteModelFile((dir / name).string(), model);
  size_t vertices = 0, faces = 0;
  for (const KlvObjectDesc& obj : model.Objects) {
    vertices += obj.Vertices.size();
    faces += obj.Faces.size();
  }
  std::printf("%-12s %5zu vertices %5zu faces\n", name, vertices, faces);
}

}  // namespace

int main(int argc, char** argv) {
  constexpr char kUsage[] = "usage: klvgen OUTPUT_FOLDER";
  return klvtools::RunTool("klvgen", kUsage, argc, argv, [&] {
    if (argc != 2) klvtools::UsageError("need one output folder", kUsage);
    const std::filesystem::path dir = argv[1];
    std::filesystem::create_directories(dir);
    Write(dir, "maphi.bmp", HeightMap(kSeed));
    Write(dir, "meta.bmp", GroundTexture(kSeed + 1));
    Write(dir, "sky.bmp", SkyTexture(kSeed + 2));
    Write(dir, "chrome.bmp", ChromeTexture(kSeed + 10));
    Write(dir, "fugu.bmp", FuguTexture(kSeed + 3));
    Write(dir, "leaves.bmp", LeafTexture(kSeed + 4));
    Write(dir, "bark.bmp", BarkTexture(kSeed + 5));
    Write(dir, "plane.bmp", PlaneTexture(kSeed + 6));
    Write(dir, "building.bmp", BuildingTexture(kSeed + 7));
    Write(dir, "sky.klv", SkyModel());
    Write(dir, "ki3.klv", TreeModel(kSeed + 8));
    Write(dir, "f3f.klv", PlaneModel());
    Write(dir, "wfgshou.klv", ChromeModel());
    Write(dir, "tate2.klv", BuildingModel());
    Write(dir, "fugu4.klv", FuguModel(kSeed + 9));
    return 0;
  });
}
