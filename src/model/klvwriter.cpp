// Encoding of ".klv" model files; see klvwriter.h.
#include "model/klvwriter.h"

#include <cstring>

#include "platform/error.h"
#include "platform/win/bmp_writer.h"

namespace {

constexpr size_t kMaxIndices = 128;    // the reader's index buffer holds 256 bytes
constexpr size_t kMaxNameBytes = 255;  // bytes of a texture name before its terminator
constexpr char kEnvMapTag[4] = {'D', 'S', 'X', 'T'};

class ByteSink {
 public:
  void Int32(int32_t v) { Raw(static_cast<uint32_t>(v), 4); }
  void Uint32(uint32_t v) { Raw(v, 4); }
  void Uint16(uint16_t v) { Raw(v, 2); }
  void Float(float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    Raw(bits, 4);
  }
  void Bytes(const char* p, size_t n) { bytes_.insert(bytes_.end(), p, p + n); }
  std::vector<uint8_t> Take() { return std::move(bytes_); }

 private:
  void Raw(uint32_t v, int n) {
    for (int i = 0; i < n; ++i) bytes_.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  std::vector<uint8_t> bytes_;
};

[[noreturn]] void Refuse(const std::string& problem) { throw KlvError(KlvErrorKind::OutOfRange, "", problem); }

void CheckIndices(const std::vector<uint16_t>& indices, size_t vertexCount, const char* what) {
  if (indices.size() > kMaxIndices) Refuse(std::string(what) + " with more than 128 indices");
  for (uint16_t i : indices) {
    if (i >= vertexCount) Refuse(std::string(what) + " index " + std::to_string(i) + " beyond the vertices");
  }
}

void WriteMatrix(ByteSink& out, const TMatrix44& m) {
  for (float f : m.m) out.Float(f);
}

void WriteObject(ByteSink& out, const KlvObjectDesc& obj, size_t position, size_t textureCount) {
  if (obj.ParentIndex < -1 || (obj.ParentIndex >= 0 && static_cast<size_t>(obj.ParentIndex) >= position)) {
    Refuse("object " + std::to_string(position) + " has a parent at or after its own record");
  }
  out.Int32(static_cast<int32_t>(obj.Vertices.size()));
  out.Int32(static_cast<int32_t>(obj.Faces.size()));
  out.Int32(static_cast<int32_t>(obj.Points.size()));
  out.Int32(static_cast<int32_t>(obj.Polygons.size()));
  out.Int32(obj.Id);
  WriteMatrix(out, obj.Local);
  WriteMatrix(out, obj.Base);
  for (const KlvVertexDesc& v : obj.Vertices) {
    for (float f : {v.X, v.Y, v.Z, v.U, v.V, v.NX, v.NY, v.NZ}) out.Float(f);
    out.Uint32(v.Color);
  }
  for (const KlvFaceDesc& f : obj.Faces) {
    CheckIndices(f.Indices, obj.Vertices.size(), "face");
    if (f.TextureIndex < 0 || static_cast<size_t>(f.TextureIndex) >= textureCount) {
      Refuse("face texture index " + std::to_string(f.TextureIndex) + " outside the texture table");
    }
    out.Int32(static_cast<int32_t>(f.Indices.size()));
    for (uint16_t i : f.Indices) out.Uint16(i);
    out.Int32(f.PrimType);
    out.Int32(f.TextureIndex);
  }
  for (const TVector3& p : obj.Points) {
    out.Float(p.x);
    out.Float(p.y);
    out.Float(p.z);
  }
  for (const KlvPolygonDesc& p : obj.Polygons) {
    CheckIndices(p.Indices, obj.Vertices.size(), "polygon");
    out.Int32(static_cast<int32_t>(p.Indices.size()));
    for (uint16_t i : p.Indices) out.Uint16(i);
    out.Int32(p.PrimType);
  }
  if (obj.EnvMap) {
    out.Bytes(kEnvMapTag, sizeof kEnvMapTag);
    out.Int32(obj.EnvMap->Enabled);
    out.Float(obj.EnvMap->Scale);
    out.Float(obj.EnvMap->OffsetU);
    out.Float(obj.EnvMap->OffsetV);
  }
  out.Int32(obj.ParentIndex);
}

}  // namespace

int32_t KlvFourCC(const char (&code)[5]) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(code[i]);
  return static_cast<int32_t>(v);
}

std::vector<uint8_t> EncodeModel(const KlvModelDesc& model) {
  if (model.Objects.empty()) Refuse("a model needs at least one object");
  ByteSink out;
  out.Int32(static_cast<int32_t>(model.TextureNames.size()));
  for (const std::string& name : model.TextureNames) {
    if (name.size() > kMaxNameBytes || name.find('\0') != std::string::npos) {
      Refuse("texture name \"" + name.substr(0, 32) + "\" is too long or holds a 0 byte");
    }
    out.Bytes(name.c_str(), name.size() + 1);
  }
  out.Int32(static_cast<int32_t>(model.Objects.size()));
  for (size_t i = 0; i < model.Objects.size(); ++i) WriteObject(out, model.Objects[i], i, model.TextureNames.size());
  return out.Take();
}

void WriteModelFile(const std::string& fileName, const KlvModelDesc& model) {
  std::vector<uint8_t> bytes;
  try {
    bytes = EncodeModel(model);
  } catch (const KlvError& e) {
    throw KlvError(e.kind(), fileName, e.what());
  }
  WriteFileBytes(fileName, bytes);
}
