// Model file reader. The file is read whole, its object records are parsed with bounds checks into
// scene objects first, and only a file whose structure is sound gets its textures resolved: so a
// damaged file registers no texture. Face texture references are patched in at the end.
#include "model/klvloader.h"

#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "model/texture_path.h"
#include "platform/error.h"
#include "platform/file_read.h"
#include "platform/win/bitmap.h"

namespace {

constexpr size_t kRecordHeadBytes = 148;
constexpr size_t kVertexBytes = 36;
constexpr size_t kMinFaceBytes = 12;
constexpr size_t kPointBytes = 12;
constexpr size_t kMinPolygonBytes = 8;
constexpr size_t kEnvBlockBytes = 20;
constexpr char kEnvTag[4] = {'D', 'S', 'X', 'T'};
// Largest model file read: far above any model, small enough to hold in memory with its objects.
constexpr uint64_t kMaxModelFileBytes = uint64_t{256} << 20;

// A bounds-checked little-endian cursor over the file's bytes.
class ByteReader {
 public:
  ByteReader(const std::string& file, std::span<const uint8_t> bytes) : file_(file), bytes_(bytes) {}

  size_t Remaining() const { return bytes_.size() - pos_; }

  void Need(uint64_t count, const char* what) const {
    if (count > Remaining()) throw KlvError(KlvErrorKind::ShortFile, file_, std::string("file ends inside ") + what);
  }

  int32_t I32(const char* what) {
    Need(4, what);
    const uint8_t* p = bytes_.data() + pos_;
    pos_ += 4;
    return static_cast<int32_t>(uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24);
  }

  uint16_t U16(const char* what) {
    Need(2, what);
    const uint8_t* p = bytes_.data() + pos_;
    pos_ += 2;
    return static_cast<uint16_t>(p[0] | p[1] << 8);
  }

  float F32(const char* what) {
    const int32_t bits = I32(what);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }

  bool PeekTag(const char (&tag)[4]) const {
    return Remaining() >= 4 && std::memcmp(bytes_.data() + pos_, tag, 4) == 0;
  }

  void Skip(size_t count, const char* what) {
    Need(count, what);
    pos_ += count;
  }

  // A name ended by a 0 byte, at most kMaxModelNameBytes before the terminator.
  std::string Name(const char* what) {
    const uint8_t* start = bytes_.data() + pos_;
    const void* end = std::memchr(start, 0, Remaining());
    if (end == nullptr) throw KlvError(KlvErrorKind::ShortFile, file_, std::string("file ends inside ") + what);
    const size_t length = static_cast<const uint8_t*>(end) - start;
    if (length > kMaxModelNameBytes)
      throw KlvError(KlvErrorKind::OutOfRange, file_, std::string(what) + " of 256 bytes or more");
    pos_ += length + 1;
    return std::string(reinterpret_cast<const char*>(start), length);
  }

 private:
  const std::string& file_;
  std::span<const uint8_t> bytes_;
  size_t pos_ = 0;
};

[[noreturn]] void Refuse(const std::string& file, const std::string& problem) {
  throw KlvError(KlvErrorKind::OutOfRange, file, problem);
}

// The objects made so far. On failure every one is unlinked and released on its own, so an
// object is freed once whatever links the file made.
class ObjectTable {
 public:
  ~ObjectTable() {
    for (TSceneObject* obj : objects_) {
      obj->Next = nullptr;
      obj->FirstChild = nullptr;
    }
    for (TSceneObject* obj : objects_) FreeObjectTree(obj);
  }

  void Add(TSceneObject* obj) { objects_.push_back(obj); }
  TSceneObject* operator[](size_t i) const { return objects_[i]; }
  size_t Size() const { return objects_.size(); }
  std::vector<TSceneObject*> Release() {
    std::vector<TSceneObject*> out;
    out.swap(objects_);
    return out;
  }
  void Reserve(size_t n) { objects_.reserve(n); }

 private:
  std::vector<TSceneObject*> objects_;
};

struct ParsedModel {
  std::vector<std::string> textureNames;
  std::vector<int32_t> faceTextures;  // TextureIndex of every face, in file order
  std::vector<int32_t> parents;       // ParentIndex of every record
  std::vector<int> depths;            // depth of every record, 0 for a root
};

std::string FolderPrefix(const std::string& fileName) {
  const size_t slash = fileName.find_last_of("/\\");
  std::string prefix = slash == std::string::npos ? std::string() : fileName.substr(0, slash + 1);
  if (prefix.size() > kMaxFolderPrefixBytes) Refuse(fileName, "folder prefix of 4096 bytes or more");
  return prefix;
}

int32_t ReadCount(ByteReader& in, const std::string& file, const char* what) {
  const int32_t count = in.I32(what);
  if (count < 0) Refuse(file, std::string("negative ") + what);
  return count;
}

// IndexCount and the indices of a face or polygon, each below vertexCount.
int32_t ReadIndices(ByteReader& in, const std::string& file, int32_t vertexCount,
                    uint16_t (&indices)[kMaxElementIndices], const char* what) {
  const int32_t count = in.I32(what);
  if (count < 0 || count > kMaxElementIndices) Refuse(file, std::string(what) + " with a bad index count");
  in.Need(uint64_t{2} * static_cast<uint32_t>(count), what);
  for (int32_t k = 0; k < count; ++k) {
    indices[k] = in.U16(what);
    if (indices[k] >= vertexCount) Refuse(file, std::string(what) + " with a vertex index beyond the vertices");
  }
  return count;
}

void ReadMatrix(ByteReader& in, TMatrix44& m) {
  for (float& element : m.m) element = in.F32("object record");
}

TSceneObject* ReadObject(ByteReader& in, const std::string& file, ParsedModel& model) {
  const int32_t vertexCount = ReadCount(in, file, "vertex count");
  const int32_t faceCount = ReadCount(in, file, "face count");
  const int32_t pointCount = ReadCount(in, file, "point count");
  const int32_t polygonCount = ReadCount(in, file, "polygon count");
  // The smallest size the counts promise must fit before anything is allocated for them.
  in.Need(kRecordHeadBytes - 16 + kVertexBytes * uint64_t(vertexCount) + kMinFaceBytes * uint64_t(faceCount) +
              kPointBytes * uint64_t(pointCount) + kMinPolygonBytes * uint64_t(polygonCount) + 4,
          "object record");

  TSceneObject* obj = nullptr;
  CreateObject(obj, vertexCount, faceCount, pointCount, polygonCount);
  std::unique_ptr<TSceneObject, void (*)(TSceneObject*)> guard(obj, FreeObjectTree);

  obj->Id = in.I32("object record");
  ReadMatrix(in, obj->Local);
  ReadMatrix(in, obj->Base);
  for (int32_t v = 0; v < vertexCount; ++v) {
    float f[8];
    for (float& value : f) value = in.F32("vertex");
    const uint32_t color = static_cast<uint32_t>(in.I32("vertex"));
    AddVertex(obj, f[0], f[1], f[2], f[5], f[6], f[7], f[3], f[4], color);
  }
  uint16_t indices[kMaxElementIndices];
  const int32_t textureCount = static_cast<int32_t>(model.textureNames.size());
  for (int32_t i = 0; i < faceCount; ++i) {
    const int32_t count = ReadIndices(in, file, vertexCount, indices, "face");
    const uint8_t primType = static_cast<uint8_t>(in.I32("face"));
    const int32_t textureIndex = in.I32("face");
    if (textureIndex < 0 || textureIndex >= textureCount) Refuse(file, "face with a texture index outside the table");
    AddFace(obj, indices, count, primType, nullptr);
    model.faceTextures.push_back(textureIndex);
  }
  for (int32_t p = 0; p < pointCount; ++p) {
    const float x = in.F32("point");
    const float y = in.F32("point");
    const float z = in.F32("point");
    AddPoint(obj, x, y, z);
  }
  for (int32_t i = 0; i < polygonCount; ++i) {
    const int32_t count = ReadIndices(in, file, vertexCount, indices, "polygon");
    AddPolygon(obj, indices, count, static_cast<uint8_t>(in.I32("polygon")));
  }
  if (in.PeekTag(kEnvTag)) {
    in.Need(kEnvBlockBytes, "environment block");
    in.Skip(4, "environment block");
    obj->EnvMap.Enabled = in.I32("environment block");
    obj->EnvMap.Scale = in.F32("environment block");
    obj->EnvMap.OffsetU = in.F32("environment block");
    obj->EnvMap.OffsetV = in.F32("environment block");
  }
  return guard.release();
}

// Reads record i's ParentIndex and links the record under it, refusing forward or self
// references and chains deeper than kMaxModelDepth. depth holds the depth of every earlier record.
int32_t ReadParent(ByteReader& in, const std::string& file, const ObjectTable& objects, std::vector<int>& depth) {
  const size_t i = depth.size();
  const int32_t parent = in.I32("parent index");
  if (parent < -1 || (parent >= 0 && static_cast<size_t>(parent) >= i))
    Refuse(file, "parent index not an earlier record");
  depth.push_back(parent == -1 ? 0 : depth[parent] + 1);
  if (depth.back() > kMaxModelDepth) Refuse(file, "object hierarchy too deep");
  if (parent != -1) AttachObject(objects[parent], objects[i]);
  return parent;
}

// Entry k stands for TextureIndex k: a name seen earlier in this file, then one the device knows,
// else a new texture from the bitmap beside the model file.
std::vector<TKlvTexdata*> ResolveTextures(TextureSource& textures, const std::string& prefix,
                                          const std::vector<std::string>& names) {
  std::vector<TKlvTexdata*> resolved;
  resolved.reserve(names.size());
  for (size_t k = 0; k < names.size(); ++k) {
    TKlvTexdata* found = nullptr;
    for (size_t e = 0; e < k && found == nullptr; ++e)
      if (names[e] == names[k]) found = resolved[e];
    if (found == nullptr) found = textures.FindTexture(names[k]);
    if (found == nullptr) {
      TBitmap bitmap;
      bitmap.LoadFromFile(ResolveTexturePath(prefix, names[k]));
      found = textures.MakeTextureFromBitmap(bitmap, names[k]);
    }
    resolved.push_back(found);
  }
  return resolved;
}

void AssignFaceTextures(const ObjectTable& objects, const std::vector<int32_t>& faceTextures,
                        const std::vector<TKlvTexdata*>& resolved) {
  size_t next = 0;
  for (size_t i = 0; i < objects.Size(); ++i) {
    TSceneObject* obj = objects[i];
    for (int32_t f = 0; f < obj->FaceCount; ++f) obj->Faces[f].Texture = resolved[faceTextures[next++]];
  }
}

TSceneObject* ParseModel(TextureSource& textures, const std::string& fileName, std::span<const uint8_t> bytes) {
  const std::string prefix = FolderPrefix(fileName);
  ByteReader in(fileName, bytes);
  ParsedModel model;

  const int32_t textureCount = in.I32("texture table");
  if (textureCount > 0) {
    in.Need(static_cast<uint32_t>(textureCount), "texture table");  // each name takes at least its terminator
    model.textureNames.reserve(textureCount);
    for (int32_t k = 0; k < textureCount; ++k) model.textureNames.push_back(in.Name("texture name"));
  }

  const int32_t objectCount = in.I32("object count");
  if (objectCount < 1) Refuse(fileName, "object count below 1");
  in.Need(uint64_t{kRecordHeadBytes + 4} * static_cast<uint32_t>(objectCount), "object records");

  ObjectTable objects;
  objects.Reserve(objectCount);
  model.parents.reserve(objectCount);
  for (int32_t i = 0; i < objectCount; ++i) {
    objects.Add(ReadObject(in, fileName, model));
    model.parents.push_back(ReadParent(in, fileName, objects, model.depths));
  }
  AssignFaceTextures(objects, model.faceTextures, ResolveTextures(textures, prefix, model.textureNames));

  std::vector<TSceneObject*> built = objects.Release();
  // Records after the first without a parent belong to no tree reachable from the root.
  for (size_t i = 1; i < built.size(); ++i)
    if (model.parents[i] == -1) FreeObjectTree(built[i]);
  return built[0];
}

}  // namespace

TSceneObject* LoadModelBytes(TextureSource& textures, const std::string& fileName, std::span<const uint8_t> bytes) {
  try {
    return ParseModel(textures, fileName, bytes);
  } catch (const std::bad_alloc&) {
    throw KlvError(KlvErrorKind::Capacity, fileName, "not enough memory to load the model");
  }
}

TSceneObject* LoadModelFile(TextureSource& textures, const std::string& fileName) {
  FolderPrefix(fileName);  // a prefix beyond the limit is refused before the file is opened
  return LoadModelBytes(textures, fileName, ReadWholeFile(fileName, kMaxModelFileBytes));
}
