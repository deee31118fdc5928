// Capture recording, the capture file format and replay. A file is gzip-compressed: the signature,
// the target's size and formats, then records, each a tag byte and its fields in little-endian
// order: 'X' a texture (description, palette and tight rows), 'F' the start of a named frame, 'T'
// a triangle draw, 'C' a colour fill, 'Z' a depth fill. Textures are stored once per capture and
// draws name them by index.
#include "platform/dx5/raster_capture.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

#include "platform/error.h"

namespace {

constexpr char kSignature[8] = {'K', 'L', 'V', 'R', 'C', 'A', 'P', '1'};
constexpr int kMaxTextureSide = 1 << 14;
constexpr int kMaxTargetSide = 1 << 16;
constexpr uint32_t kMaxNameBytes = 256;
constexpr size_t kMaxCaptureBytes = size_t{1} << 30;  // uncompressed

RasterCapture* recording = nullptr;

int TexelBytes(RasterTexelFormat format) {
  return format == RasterTexelFormat::Indexed8 ? 1 : format == RasterTexelFormat::Direct16 ? 2 : 4;
}

// The texture's rows copied tightly; an existing equal texture of the capture is reused.
int AddTexture(RasterCapture& capture, const RasterTexture& texture) {
  RasterCaptureTexture copy;
  copy.texture = texture;
  const size_t rowBytes = static_cast<size_t>(texture.width) * TexelBytes(texture.format);
  copy.texels.resize(rowBytes * static_cast<size_t>(texture.height));
  for (int y = 0; y < texture.height; ++y)
    std::memcpy(copy.texels.data() + rowBytes * y, texture.bits + texture.pitch * y, rowBytes);
  copy.texture.pitch = static_cast<intptr_t>(rowBytes);
  auto same = [&copy](const RasterCaptureTexture& held) {
    const RasterTexture& a = held.texture;
    const RasterTexture& b = copy.texture;
    return a.width == b.width && a.height == b.height && a.format == b.format && a.hasColorKey == b.hasColorKey &&
           a.keyLow == b.keyLow && a.keyHigh == b.keyHigh && a.red.shift == b.red.shift && a.red.bits == b.red.bits &&
           a.green.shift == b.green.shift && a.green.bits == b.green.bits && a.blue.shift == b.blue.shift &&
           a.blue.bits == b.blue.bits && std::memcmp(a.palette, b.palette, sizeof a.palette) == 0 &&
           held.texels == copy.texels;
  };
  auto found = std::find_if(capture.textures.begin(), capture.textures.end(), same);
  if (found != capture.textures.end()) return static_cast<int>(found - capture.textures.begin());
  copy.texture.bits = copy.texels.data();  // stays valid: the vector's buffer moves with it
  capture.textures.push_back(std::move(copy));
  return static_cast<int>(capture.textures.size() - 1);
}

// Stores only the vertices the indices use, in order of first use, with the indices renumbered;
// indices beyond the vertex count stay beyond it. The triangles drawn are the same.
void KeepIndexedVertices(const D3DTLVERTEX* vertices, size_t vertexCount, const WORD* indices, size_t indexCount,
                         RasterCaptureCall& call) {
  constexpr WORD kBeyond = 0xFFFF;
  std::vector<int> renumbered(vertexCount, -1);
  call.indices.reserve(indexCount);
  for (size_t i = 0; i < indexCount; ++i) {
    const WORD index = indices[i];
    if (index >= vertexCount) {
      call.indices.push_back(kBeyond);
      continue;
    }
    if (renumbered[index] < 0) {
      renumbered[index] = static_cast<int>(call.vertices.size());
      call.vertices.push_back(vertices[index]);
    }
    call.indices.push_back(static_cast<WORD>(renumbered[index]));
  }
  if (call.vertices.size() >= kBeyond) {  // too many to renumber below the marker: keep them all
    call.vertices.assign(vertices, vertices + vertexCount);
    call.indices.assign(indices, indices + indexCount);
  }
}

std::vector<RasterCaptureCall>& Calls(RasterCapture& capture) {
  if (capture.frames.empty()) capture.frames.emplace_back();
  return capture.frames.back().calls;
}

void NoteTarget(RasterCapture& capture, const RasterTarget& target) {
  if (capture.width != 0) return;
  capture.width = target.width;
  capture.height = target.height;
  capture.format = target.format;
}

void NoteDepth(RasterCapture& capture, const RasterDepth& depth) {
  if (capture.depthBytes != 0) return;
  capture.depthBytes = depth.bytesPerPixel;
  capture.depthMax = depth.maxValue;
}

// Byte writer and bounds-checked reader for the record fields.
class Writer {
 public:
  template <typename T>
  void Put(T value) {
    static_assert(std::is_arithmetic_v<T> || std::is_enum_v<T>);
    const auto* bytes = reinterpret_cast<const uint8_t*>(&value);
    out_.insert(out_.end(), bytes, bytes + sizeof value);
  }
  void PutBytes(const void* data, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    out_.insert(out_.end(), bytes, bytes + size);
  }
  const std::vector<uint8_t>& bytes() const { return out_; }

 private:
  std::vector<uint8_t> out_;
};

class Reader {
 public:
  Reader(const std::vector<uint8_t>& in, const std::string& path) : in_(in), path_(path) {}
  template <typename T>
  T Get() {
    T value;
    GetBytes(&value, sizeof value);
    return value;
  }
  void GetBytes(void* out, size_t size) {
    if (size > in_.size() - at_) throw KlvError(KlvErrorKind::ShortFile, path_, "the capture ends inside a record");
    std::memcpy(out, in_.data() + at_, size);
    at_ += size;
  }
  size_t Left() const { return in_.size() - at_; }
  int Bounded(int low, int high, const char* what) {
    const auto value = Get<int32_t>();
    if (value < low || value > high)
      throw KlvError(KlvErrorKind::OutOfRange, path_, std::string("bad ") + what + " in the capture");
    return value;
  }
  const std::string& path() const { return path_; }

 private:
  const std::vector<uint8_t>& in_;
  const std::string& path_;
  size_t at_ = 0;
};

void PutState(Writer& w, const RasterState& s) {
  w.Put<uint8_t>(s.zEnable);
  w.Put<uint8_t>(s.zWrite);
  w.Put<uint8_t>(s.perspective);
  w.Put<uint8_t>(s.gouraud);
  w.Put<uint32_t>(s.cullMode);
  w.Put<uint8_t>(s.specular);
  w.Put<uint8_t>(s.fog);
  w.Put<uint32_t>(s.fogColor);
  w.Put<uint8_t>(s.colorKey);
  for (int v : {s.viewportX0, s.viewportY0, s.viewportX1, s.viewportY1}) w.Put<int32_t>(v);
}

RasterState GetState(Reader& r) {
  RasterState s;
  s.zEnable = r.Get<uint8_t>() != 0;
  s.zWrite = r.Get<uint8_t>() != 0;
  s.perspective = r.Get<uint8_t>() != 0;
  s.gouraud = r.Get<uint8_t>() != 0;
  s.cullMode = r.Get<uint32_t>();
  s.specular = r.Get<uint8_t>() != 0;
  s.fog = r.Get<uint8_t>() != 0;
  s.fogColor = r.Get<uint32_t>();
  s.colorKey = r.Get<uint8_t>() != 0;
  s.viewportX0 = r.Get<int32_t>();
  s.viewportY0 = r.Get<int32_t>();
  s.viewportX1 = r.Get<int32_t>();
  s.viewportY1 = r.Get<int32_t>();
  return s;
}

void PutTexture(Writer& w, const RasterCaptureTexture& t) {
  const RasterTexture& x = t.texture;
  w.Put<int32_t>(x.width);
  w.Put<int32_t>(x.height);
  w.Put<uint8_t>(static_cast<uint8_t>(x.format));
  w.PutBytes(x.palette, sizeof x.palette);
  for (const RasterChannel& c : {x.red, x.green, x.blue}) {
    w.Put<uint32_t>(c.shift);
    w.Put<uint32_t>(c.bits);
  }
  w.Put<uint8_t>(x.hasColorKey);
  w.Put<uint32_t>(x.keyLow);
  w.Put<uint32_t>(x.keyHigh);
  w.PutBytes(t.texels.data(), t.texels.size());
}

RasterCaptureTexture GetTexture(Reader& r) {
  RasterCaptureTexture t;
  RasterTexture& x = t.texture;
  x.width = r.Bounded(1, kMaxTextureSide, "texture width");
  x.height = r.Bounded(1, kMaxTextureSide, "texture height");
  const auto format = r.Get<uint8_t>();
  if (format > static_cast<uint8_t>(RasterTexelFormat::MarkedXrgb32))
    throw KlvError(KlvErrorKind::BadFormat, r.path(), "unknown texel format in the capture");
  x.format = static_cast<RasterTexelFormat>(format);
  r.GetBytes(x.palette, sizeof x.palette);
  for (RasterChannel* c : {&x.red, &x.green, &x.blue}) {
    c->shift = r.Get<uint32_t>();
    c->bits = r.Get<uint32_t>();
  }
  x.hasColorKey = r.Get<uint8_t>() != 0;
  x.keyLow = r.Get<uint32_t>();
  x.keyHigh = r.Get<uint32_t>();
  const size_t rowBytes = static_cast<size_t>(x.width) * TexelBytes(x.format);
  t.texels.resize(rowBytes * static_cast<size_t>(x.height));
  r.GetBytes(t.texels.data(), t.texels.size());
  x.pitch = static_cast<intptr_t>(rowBytes);
  x.bits = t.texels.data();
  return t;
}

template <typename T>
std::vector<T> GetArray(Reader& r) {
  const auto count = r.Get<uint32_t>();
  if (count > r.Left() / sizeof(T)) throw KlvError(KlvErrorKind::ShortFile, r.path(), "the capture ends in an array");
  std::vector<T> out(count);
  r.GetBytes(out.data(), count * sizeof(T));
  return out;
}

void PutRectangle(Writer& w, const RasterCaptureCall& c) {
  for (int v : {c.x0, c.y0, c.x1, c.y1}) w.Put<int32_t>(v);
}

void GetRectangle(Reader& r, RasterCaptureCall& c) {
  c.x0 = r.Get<int32_t>();
  c.y0 = r.Get<int32_t>();
  c.x1 = r.Get<int32_t>();
  c.y1 = r.Get<int32_t>();
}

void PutCall(Writer& w, const RasterCaptureCall& c) {
  switch (c.kind) {
    case RasterCallKind::Triangles:
      w.Put<uint8_t>('T');
      PutState(w, c.state);
      w.Put<uint8_t>(c.clip);
      w.Put<uint8_t>(c.depth);
      w.Put<int32_t>(c.texture);
      w.Put<uint32_t>(static_cast<uint32_t>(c.vertices.size()));
      w.PutBytes(c.vertices.data(), c.vertices.size() * sizeof(D3DTLVERTEX));
      w.Put<uint32_t>(static_cast<uint32_t>(c.indices.size()));
      w.PutBytes(c.indices.data(), c.indices.size() * sizeof(WORD));
      break;
    case RasterCallKind::FillColor:
      w.Put<uint8_t>('C');
      PutRectangle(w, c);
      w.Put<uint32_t>(c.color);
      break;
    case RasterCallKind::FillDepth:
      w.Put<uint8_t>('Z');
      PutRectangle(w, c);
      w.Put<float>(c.depthValue);
      break;
  }
}

std::vector<uint8_t> ReadGzip(const std::string& path) {
  gzFile file = gzopen(path.c_str(), "rb");
  if (file == nullptr) throw KlvError(KlvErrorKind::FileOpen, path, "cannot open the capture");
  std::vector<uint8_t> out;
  uint8_t chunk[1 << 16];
  int got = 0;
  while ((got = gzread(file, chunk, sizeof chunk)) > 0 && out.size() <= kMaxCaptureBytes)
    out.insert(out.end(), chunk, chunk + got);
  gzclose(file);
  if (out.size() > kMaxCaptureBytes) throw KlvError(KlvErrorKind::OutOfRange, path, "the capture is too large");
  if (got < 0) throw KlvError(KlvErrorKind::BadFormat, path, "the capture is not a readable gzip file");
  return out;
}

// A position scaled from the captured size to the replay size.
int Scaled(int value, int to, int from) {
  return static_cast<int>(std::lround(static_cast<double>(value) * to / from));
}

}  // namespace

void RasterRecordInto(RasterCapture* capture) { recording = capture; }

RasterCapture* RasterRecording() { return recording; }

void RecordTriangles(RasterCapture& capture, const RasterState& state, const RasterTarget& target,
                     const RasterDepth* depth, const RasterTexture* texture, const D3DTLVERTEX* vertices,
                     size_t vertexCount, const WORD* indices, size_t indexCount, bool clip) {
  NoteTarget(capture, target);
  if (depth != nullptr) NoteDepth(capture, *depth);
  RasterCaptureCall call;
  call.kind = RasterCallKind::Triangles;
  call.state = state;
  call.clip = clip;
  call.depth = depth != nullptr;
  if (texture != nullptr && texture->bits != nullptr && texture->width > 0 && texture->height > 0)
    call.texture = AddTexture(capture, *texture);
  KeepIndexedVertices(vertices, vertexCount, indices, indexCount, call);
  Calls(capture).push_back(std::move(call));
}

void RecordFillColor(RasterCapture& capture, const RasterTarget& target, int x0, int y0, int x1, int y1,
                     D3DCOLOR color) {
  NoteTarget(capture, target);
  RasterCaptureCall call;
  call.kind = RasterCallKind::FillColor;
  call.x0 = x0, call.y0 = y0, call.x1 = x1, call.y1 = y1;
  call.color = color;
  Calls(capture).push_back(std::move(call));
}

void RecordFillDepth(RasterCapture& capture, const RasterDepth& depth, int x0, int y0, int x1, int y1, float value) {
  NoteDepth(capture, depth);
  RasterCaptureCall call;
  call.kind = RasterCallKind::FillDepth;
  call.x0 = x0, call.y0 = y0, call.x1 = x1, call.y1 = y1;
  call.depthValue = value;
  Calls(capture).push_back(std::move(call));
}

void SaveRasterCapture(const RasterCapture& capture, const std::string& path) {
  Writer w;
  w.PutBytes(kSignature, sizeof kSignature);
  w.Put<int32_t>(capture.width);
  w.Put<int32_t>(capture.height);
  w.Put<uint8_t>(static_cast<uint8_t>(capture.format));
  w.Put<int32_t>(capture.depthBytes);
  w.Put<uint32_t>(capture.depthMax);
  for (const RasterCaptureTexture& t : capture.textures) {
    w.Put<uint8_t>('X');
    PutTexture(w, t);
  }
  for (const RasterCaptureFrame& frame : capture.frames) {
    w.Put<uint8_t>('F');
    w.Put<uint32_t>(static_cast<uint32_t>(frame.name.size()));
    w.PutBytes(frame.name.data(), frame.name.size());
    for (const RasterCaptureCall& c : frame.calls) PutCall(w, c);
  }
  gzFile file = gzopen(path.c_str(), "wb9");
  if (file == nullptr) throw KlvError(KlvErrorKind::FileOpen, path, "cannot create the capture");
  const std::vector<uint8_t>& bytes = w.bytes();
  const bool written =
      gzwrite(file, bytes.data(), static_cast<unsigned>(bytes.size())) == static_cast<int>(bytes.size());
  if (gzclose(file) != Z_OK || !written) throw KlvError(KlvErrorKind::FileOpen, path, "cannot write the capture");
}

RasterCapture LoadRasterCapture(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadGzip(path);
  Reader r(bytes, path);
  char signature[sizeof kSignature];
  r.GetBytes(signature, sizeof signature);
  if (std::memcmp(signature, kSignature, sizeof kSignature) != 0)
    throw KlvError(KlvErrorKind::BadFormat, path, "not a rasteriser capture");
  RasterCapture capture;
  capture.width = r.Bounded(1, kMaxTargetSide, "target width");
  capture.height = r.Bounded(1, kMaxTargetSide, "target height");
  const auto format = r.Get<uint8_t>();
  if (format > static_cast<uint8_t>(RasterPixelFormat::Xrgb32))
    throw KlvError(KlvErrorKind::BadFormat, path, "unknown target format in the capture");
  capture.format = static_cast<RasterPixelFormat>(format);
  capture.depthBytes = r.Bounded(0, 4, "depth size");
  capture.depthMax = r.Get<uint32_t>();
  while (r.Left() > 0) {
    const auto tag = r.Get<uint8_t>();
    if (tag == 'X') {
      capture.textures.push_back(GetTexture(r));
      continue;
    }
    if (tag == 'F') {
      const auto length = r.Get<uint32_t>();
      if (length > kMaxNameBytes) throw KlvError(KlvErrorKind::OutOfRange, path, "frame name too long in the capture");
      RasterCaptureFrame frame;
      frame.name.resize(length);
      r.GetBytes(frame.name.data(), length);
      capture.frames.push_back(std::move(frame));
      continue;
    }
    if (capture.frames.empty()) throw KlvError(KlvErrorKind::BadFormat, path, "a call before the first frame");
    RasterCaptureCall c;
    if (tag == 'T') {
      c.kind = RasterCallKind::Triangles;
      c.state = GetState(r);
      c.clip = r.Get<uint8_t>() != 0;
      c.depth = r.Get<uint8_t>() != 0;
      c.texture = r.Bounded(-1, static_cast<int>(capture.textures.size()) - 1, "texture index");
      c.vertices = GetArray<D3DTLVERTEX>(r);
      c.indices = GetArray<WORD>(r);
    } else if (tag == 'C' || tag == 'Z') {
      c.kind = tag == 'C' ? RasterCallKind::FillColor : RasterCallKind::FillDepth;
      GetRectangle(r, c);
      if (tag == 'C') c.color = r.Get<uint32_t>();
      if (tag == 'Z') c.depthValue = r.Get<float>();
    } else {
      throw KlvError(KlvErrorKind::BadFormat, path, "unknown record in the capture");
    }
    capture.frames.back().calls.push_back(std::move(c));
  }
  return capture;
}

void ScaleRasterCapture(RasterCapture& capture, int width, int height) {
  if (capture.width <= 0 || capture.height <= 0 || width <= 0 || height <= 0) return;
  const float sx = static_cast<float>(width) / static_cast<float>(capture.width);
  const float sy = static_cast<float>(height) / static_cast<float>(capture.height);
  auto scaleX = [&](int& x) { x = Scaled(x, width, capture.width); };
  auto scaleY = [&](int& y) { y = Scaled(y, height, capture.height); };
  for (RasterCaptureFrame& frame : capture.frames) {
    for (RasterCaptureCall& c : frame.calls) {
      scaleX(c.x0), scaleX(c.x1), scaleY(c.y0), scaleY(c.y1);
      scaleX(c.state.viewportX0), scaleX(c.state.viewportX1), scaleY(c.state.viewportY0), scaleY(c.state.viewportY1);
      for (D3DTLVERTEX& v : c.vertices) {
        v.sx *= sx;
        v.sy *= sy;
      }
    }
  }
  capture.width = width;
  capture.height = height;
}

void ReplayRasterFrame(const RasterCapture& capture, const RasterCaptureFrame& frame, const RasterTarget& target,
                       const RasterDepth* depth, RasterStats* stats, RasterQueue* queue) {
  for (const RasterCaptureCall& c : frame.calls) {
    switch (c.kind) {
      case RasterCallKind::Triangles: {
        const RasterTexture* texture =
            c.texture >= 0 ? &capture.textures[static_cast<size_t>(c.texture)].texture : nullptr;
        const RasterDepth* drawDepth = c.depth ? depth : nullptr;
        if (queue != nullptr)
          queue->DrawTriangles(c.state, target, drawDepth, texture, c.vertices.data(), c.vertices.size(),
                               c.indices.data(), c.indices.size(), c.clip);
        else
          RasterDrawTriangles(c.state, target, drawDepth, texture, c.vertices.data(), c.vertices.size(),
                              c.indices.data(), c.indices.size(), c.clip, stats);
        break;
      }
      case RasterCallKind::FillColor:
        if (queue != nullptr)
          queue->FillColor(target, c.x0, c.y0, c.x1, c.y1, c.color);
        else
          RasterFillColor(target, c.x0, c.y0, c.x1, c.y1, c.color);
        break;
      case RasterCallKind::FillDepth:
        if (depth == nullptr) break;
        if (queue != nullptr)
          queue->FillDepth(*depth, c.x0, c.y0, c.x1, c.y1, c.depthValue);
        else
          RasterFillDepth(*depth, c.x0, c.y0, c.x1, c.y1, c.depthValue);
        break;
    }
  }
  if (queue != nullptr) queue->Flush(stats);
}
