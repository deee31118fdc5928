// The GL device's drawing: one program for every render state (flags select the parts), one
// vertex and one index buffer refilled per draw, and the conversions between GL's RGBA8 and the
// surfaces' formats.
#include "platform/dx5/gl_raster.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// Bits of the `flags` uniform; both shaders test them.
constexpr int kFlagPerspective = 1, kFlagGouraud = 2, kFlagTextured = 4, kFlagColorKey = 8, kFlagSpecular = 16,
              kFlagFog = 32, kFlagBilinear = 64;

// D3DTLVERTEX fed as it is: position (sx, sy in pixels, sz 0..1, rhw), diffuse and specular as BGRA
// bytes (so .rgb reads red, green, blue), texture coordinates.
constexpr char kVertexShader[] = R"(#version 330 core
layout(location = 0) in vec4 position;
layout(location = 1) in vec4 diffuse;
layout(location = 2) in vec4 specular;
layout(location = 3) in vec2 texcoord;
uniform vec2 targetSize;
uniform int flags;
noperspective out vec3 color;
flat out vec3 flatColor;
noperspective out vec3 highlight;
flat out vec3 flatHighlight;
noperspective out float fogWeight;
noperspective out vec3 texq;
void main() {
  // Positions snap to 1/16 pixel as in the software set-up. Pixel centres: integer screen
  // coordinates here, +0.5 in GL window coordinates. Row 0 of the target is the picture's top row,
  // so y is not flipped.
  vec2 window = round(position.xy * 16.0) / 16.0 + 0.5;
  gl_Position = vec4(window / targetSize * 2.0 - 1.0, position.z * 2.0 - 1.0, 1.0);
  float q = (flags & 1) != 0 ? position.w : 1.0;
  texq = vec3(texcoord * q, q);
  color = diffuse.rgb;
  flatColor = diffuse.rgb;
  highlight = specular.rgb;
  flatHighlight = specular.rgb;
  fogWeight = specular.a;
}
)";

// The colour arithmetic is the software device's, in whole numbers 0..255 (exact in float): the
// interpolated colours rounded, modulate as texel * (c + c / 128) / 256, the specular added and
// saturated, fog as (c * w + fog * (256 - w)) / 256 with w = f + f / 128, each rounded down; the
// byte written is then exactly the one the software device computes.
constexpr char kFragmentShader[] = R"(#version 330 core
uniform sampler2D texture0;
uniform int flags;
uniform vec3 fogColor;
noperspective in vec3 color;
flat in vec3 flatColor;
noperspective in vec3 highlight;
flat in vec3 flatHighlight;
noperspective in float fogWeight;
noperspective in vec3 texq;
out vec4 fragment;
vec3 Bytes(vec3 unit) { return floor(clamp(unit, 0.0, 1.0) * 255.0 + 0.5); }
void main() {
  bool gouraud = (flags & 2) != 0;
  vec3 c = Bytes(gouraud ? color : flatColor);
  if ((flags & 4) != 0) {
    vec2 uv = texq.xy / texq.z;
    vec4 texel;
    if ((flags & 64) != 0) {
      texel = texture(texture0, uv);
    } else {
      // Nearest texel with wrap, chosen as the software device does: floor(t * size) modulo size.
      ivec2 size = textureSize(texture0, 0);
      ivec2 at = ivec2(mod(floor(uv * vec2(size)), vec2(size)));
      texel = texelFetch(texture0, clamp(at, ivec2(0), size - 1), 0);
    }
    if ((flags & 8) != 0 && texel.a < 0.5) discard;
    c = floor(Bytes(texel.rgb) * (c + floor(c / 128.0)) / 256.0);
  }
  if ((flags & 16) != 0) c = min(c + Bytes(gouraud ? highlight : flatHighlight), 255.0);
  if ((flags & 32) != 0) {
    float f = floor(clamp(fogWeight, 0.0, 1.0) * 255.0 + 0.5);
    float w = f + floor(f / 128.0);
    c = floor((c * w + Bytes(fogColor) * (256.0 - w)) / 256.0);
  }
  fragment = vec4(c / 255.0, 1.0);
}
)";

GLuint CompileShader(GlApi& gl, GLenum kind, const char* source) {
  GLuint shader = gl.CreateShader(kind);
  gl.ShaderSource(shader, 1, &source, nullptr);
  gl.CompileShader(shader);
  GLint ok = GL_FALSE;
  gl.GetShaderiv(shader, GL_COMPILE_STATUS, &ok);
  if (ok == GL_TRUE) return shader;
  char log[1024] = {};
  gl.GetShaderInfoLog(shader, sizeof log, nullptr, log);
  std::fprintf(stderr, "GL shader does not compile: %s\n", log);
  gl.DeleteShader(shader);
  return 0;
}

GLuint LinkProgram(GlApi& gl) {
  GLuint vertex = CompileShader(gl, GL_VERTEX_SHADER, kVertexShader);
  GLuint fragment = CompileShader(gl, GL_FRAGMENT_SHADER, kFragmentShader);
  GLuint program = 0;
  if (vertex != 0 && fragment != 0) {
    program = gl.CreateProgram();
    gl.AttachShader(program, vertex);
    gl.AttachShader(program, fragment);
    gl.LinkProgram(program);
    GLint ok = GL_FALSE;
    gl.GetProgramiv(program, GL_LINK_STATUS, &ok);
    if (ok != GL_TRUE) {
      char log[1024] = {};
      gl.GetProgramInfoLog(program, sizeof log, nullptr, log);
      std::fprintf(stderr, "GL program does not link: %s\n", log);
      gl.DeleteProgram(program);
      program = 0;
    }
  }
  if (vertex != 0) gl.DeleteShader(vertex);
  if (fragment != 0) gl.DeleteShader(fragment);
  return program;
}

bool Finite(const D3DTLVERTEX& v) {
  return std::isfinite(v.sx) && std::isfinite(v.sy) && std::isfinite(v.sz) && std::isfinite(v.rhw);
}

// A channel of `bits` (1 to 8) widened to 8 by repeating its top bits, as the software device does.
uint32_t Widen(uint32_t value, uint32_t bits) {
  uint32_t out = value << (8 - bits);
  for (uint32_t filled = bits; filled < 8; filled += bits) out |= out >> bits;
  return out & 0xFF;
}

uint32_t ExpandChannel(uint32_t raw, const RasterChannel& channel) {
  if (channel.bits == 0) return 0;
  return Widen((raw >> channel.shift) & ((1u << channel.bits) - 1), channel.bits);
}

// The texel at (x, y) as its raw value and as 0xAARRGGBB with alpha 0 when keyed.
uint32_t ExpandTexel(const RasterTexture& t, int x, int y) {
  const uint8_t* row = t.bits + y * t.pitch;
  uint32_t raw = 0, rgb = 0;
  switch (t.format) {
    case RasterTexelFormat::Indexed8:
      raw = row[x];
      rgb = t.palette[raw] & 0xFFFFFFu;
      break;
    case RasterTexelFormat::Direct16:
      raw = reinterpret_cast<const uint16_t*>(row)[x];
      rgb = ExpandChannel(raw, t.red) << 16 | ExpandChannel(raw, t.green) << 8 | ExpandChannel(raw, t.blue);
      break;
    case RasterTexelFormat::Xrgb32:
      raw = reinterpret_cast<const uint32_t*>(row)[x] & 0xFFFFFFu;
      rgb = raw;
      break;
    case RasterTexelFormat::MarkedXrgb32:  // the key range covers the marker bit above the colour
      raw = reinterpret_cast<const uint32_t*>(row)[x] & 0x1FFFFFFu;
      rgb = raw & 0xFFFFFFu;
      break;
  }
  bool keyed = t.hasColorKey && raw - t.keyLow <= t.keyHigh - t.keyLow;
  return (keyed ? 0u : 0xFF000000u) | rgb;
}

// Triangles reaching further than this many pixels beyond the viewport are cut here, as the software
// device cuts them, before GL sees them: next to the eye they reach millions of pixels off screen,
// which GL's own clipping does not take precisely.
constexpr float kGuardBand = 4096.0f;

// A vertex being clipped: position, depth, rhw, texture coordinates times rhw, colour channels.
struct ClipVertex {
  float x, y, z, rhw, uq, vq;
  float channels[8];  // diffuse b, g, r, a, then specular b, g, r, a (their byte order)
};

ClipVertex ToClip(const D3DTLVERTEX& v) {
  ClipVertex c{v.sx, v.sy, v.sz, v.rhw, v.tu * v.rhw, v.tv * v.rhw, {}};
  for (int i = 0; i < 4; ++i) {
    c.channels[i] = static_cast<float>((v.color >> (8 * i)) & 0xFF);
    c.channels[4 + i] = static_cast<float>((v.specular >> (8 * i)) & 0xFF);
  }
  return c;
}

D3DTLVERTEX FromClip(const ClipVertex& c) {
  D3DTLVERTEX v{};
  v.sx = c.x;
  v.sy = c.y;
  v.sz = c.z;
  v.rhw = c.rhw;
  v.tu = c.rhw != 0.0f ? c.uq / c.rhw : 0.0f;
  v.tv = c.rhw != 0.0f ? c.vq / c.rhw : 0.0f;
  for (int i = 0; i < 4; ++i) {
    auto byte = [&](float f) { return static_cast<D3DCOLOR>(std::clamp(f + 0.5f, 0.0f, 255.0f)) << (8 * i); };
    v.color |= byte(c.channels[i]);
    v.specular |= byte(c.channels[4 + i]);
  }
  return v;
}

// One side of the guard band: `axis` 0 is x, 1 is y; inside when sign * (value - bound) >= 0.
struct GuardPlane {
  int axis;
  float sign, bound;
  float Distance(const ClipVertex& v) const { return sign * ((axis == 0 ? v.x : v.y) - bound); }
};

// The point where the edge from `inside` to `outside` crosses the plane, computed from the inside
// vertex so that two triangles sharing the edge get the same point.
ClipVertex Crossing(const ClipVertex& inside, const ClipVertex& outside, const GuardPlane& plane) {
  const float din = plane.Distance(inside), dout = plane.Distance(outside);
  const float t = din / (din - dout);
  auto mix = [t](float a, float b) { return a + (b - a) * t; };
  ClipVertex out{mix(inside.x, outside.x),
                 mix(inside.y, outside.y),
                 mix(inside.z, outside.z),
                 mix(inside.rhw, outside.rhw),
                 mix(inside.uq, outside.uq),
                 mix(inside.vq, outside.vq),
                 {}};
  for (int i = 0; i < 8; ++i) out.channels[i] = mix(inside.channels[i], outside.channels[i]);
  (plane.axis == 0 ? out.x : out.y) = plane.bound;
  return out;
}

}  // namespace

GlRaster::GlRaster(GlApi& gl) : gl_(gl) {
  program_ = LinkProgram(gl_);
  if (program_ == 0) return;
  flagsAt_ = gl_.GetUniformLocation(program_, "flags");
  sizeAt_ = gl_.GetUniformLocation(program_, "targetSize");
  fogAt_ = gl_.GetUniformLocation(program_, "fogColor");
  gl_.UseProgram(program_);
  gl_.Uniform1i(gl_.GetUniformLocation(program_, "texture0"), 0);
  gl_.GenVertexArrays(1, &vertexArray_);
  gl_.GenBuffers(1, &vertexBuffer_);
  gl_.GenBuffers(1, &indexBuffer_);
  gl_.BindVertexArray(vertexArray_);
  gl_.BindBuffer(GL_ARRAY_BUFFER, vertexBuffer_);
  gl_.BindBuffer(GL_ELEMENT_ARRAY_BUFFER, indexBuffer_);
  static_assert(sizeof(D3DTLVERTEX) == 32 && offsetof(D3DTLVERTEX, color) == 16 &&
                    offsetof(D3DTLVERTEX, specular) == 20 && offsetof(D3DTLVERTEX, tu) == 24,
                "the vertex attributes below read D3DTLVERTEX as it is laid out");
  constexpr GLsizei stride = sizeof(D3DTLVERTEX);
  gl_.VertexAttribPointer(0, 4, GL_FLOAT, GL_FALSE, stride, reinterpret_cast<const void*>(0));
  gl_.VertexAttribPointer(1, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, stride, reinterpret_cast<const void*>(16));
  gl_.VertexAttribPointer(2, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, stride, reinterpret_cast<const void*>(20));
  gl_.VertexAttribPointer(3, 2, GL_FLOAT, GL_FALSE, stride, reinterpret_cast<const void*>(24));
  for (GLuint i = 0; i < 4; ++i) gl_.EnableVertexAttribArray(i);
  // Flat shading takes the first vertex's colours, as Direct3D does.
  gl_.ProvokingVertex(GL_FIRST_VERTEX_CONVENTION);
  gl_.FrontFace(GL_CCW);
  gl_.DepthFunc(GL_LEQUAL);
  gl_.PixelStorei(GL_UNPACK_ALIGNMENT, 1);
  gl_.PixelStorei(GL_PACK_ALIGNMENT, 1);
  gl_.ActiveTexture(GL_TEXTURE0);
}

GlRaster::~GlRaster() {
  if (program_ == 0) return;
  gl_.DeleteBuffers(1, &vertexBuffer_);
  gl_.DeleteBuffers(1, &indexBuffer_);
  gl_.DeleteVertexArrays(1, &vertexArray_);
  gl_.DeleteProgram(program_);
}

bool GlRaster::CreateTarget(int width, int height, bool withDepth, GlTarget* target) {
  *target = {};
  if (width <= 0 || height <= 0) return false;
  target->width = width;
  target->height = height;
  gl_.GenTextures(1, &target->color);
  gl_.BindTexture(GL_TEXTURE_2D, target->color);
  gl_.TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
  gl_.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  gl_.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  gl_.GenFramebuffers(1, &target->framebuffer);
  gl_.BindFramebuffer(GL_FRAMEBUFFER, target->framebuffer);
  gl_.FramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, target->color, 0);
  if (!SetTargetDepth(target, withDepth) || gl_.CheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
    DestroyTarget(target);
    return false;
  }
  return true;
}

bool GlRaster::SetTargetDepth(GlTarget* target, bool withDepth) {
  gl_.BindFramebuffer(GL_FRAMEBUFFER, target->framebuffer);
  if (withDepth && target->depth == 0) {
    gl_.GenRenderbuffers(1, &target->depth);
    gl_.BindRenderbuffer(GL_RENDERBUFFER, target->depth);
    gl_.RenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT32F, target->width, target->height);
    gl_.FramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, target->depth);
  } else if (!withDepth && target->depth != 0) {
    gl_.FramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, 0);
    gl_.DeleteRenderbuffers(1, &target->depth);
    target->depth = 0;
  }
  return gl_.GetError() == GL_NO_ERROR;
}

void GlRaster::DestroyTarget(GlTarget* target) {
  if (target->framebuffer != 0) gl_.DeleteFramebuffers(1, &target->framebuffer);
  if (target->color != 0) gl_.DeleteTextures(1, &target->color);
  if (target->depth != 0) gl_.DeleteRenderbuffers(1, &target->depth);
  *target = {};
}

bool GlRaster::UploadTexture(const RasterTexture& source, bool bilinear, GlTexture* texture) {
  if (source.bits == nullptr || source.width <= 0 || source.height <= 0) return false;
  texels_.resize(static_cast<size_t>(source.width) * source.height);
  for (int y = 0; y < source.height; ++y)
    for (int x = 0; x < source.width; ++x)
      texels_[static_cast<size_t>(y) * source.width + x] = ExpandTexel(source, x, y);
  bool fresh = texture->name == 0 || texture->width != source.width || texture->height != source.height;
  if (texture->name == 0) gl_.GenTextures(1, &texture->name);
  gl_.BindTexture(GL_TEXTURE_2D, texture->name);
  if (fresh) {
    gl_.TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, source.width, source.height, 0, GL_BGRA, GL_UNSIGNED_BYTE,
                   texels_.data());
    gl_.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    gl_.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
  } else {
    gl_.TexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, source.width, source.height, GL_BGRA, GL_UNSIGNED_BYTE, texels_.data());
  }
  const GLint filter = bilinear ? GL_LINEAR : GL_NEAREST;
  gl_.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
  gl_.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
  texture->width = source.width;
  texture->height = source.height;
  texture->bilinear = bilinear;
  ++gl_.counters.textureUploads;
  gl_.counters.uploadBytes += texels_.size() * 4;
  return gl_.GetError() == GL_NO_ERROR;
}

void GlRaster::DestroyTexture(GlTexture* texture) {
  if (texture->name != 0) gl_.DeleteTextures(1, &texture->name);
  *texture = {};
}

void GlRaster::SetUniforms(const RasterState& state, const GlTarget& target, const GlTexture* texture) {
  const bool textured = texture != nullptr;
  const bool keyed = textured && state.colorKey;
  int flags = (state.perspective ? kFlagPerspective : 0) | (state.gouraud ? kFlagGouraud : 0) |
              (textured ? kFlagTextured : 0) | (keyed ? kFlagColorKey : 0) | (state.specular ? kFlagSpecular : 0) |
              (state.fog ? kFlagFog : 0) | (textured && texture->bilinear ? kFlagBilinear : 0);
  if (flags != flags_) {
    gl_.Uniform1i(flagsAt_, flags);
    flags_ = flags;
  }
  const auto width = static_cast<float>(target.width), height = static_cast<float>(target.height);
  if (width != size_[0] || height != size_[1]) {
    gl_.Uniform2f(sizeAt_, width, height);
    size_[0] = width;
    size_[1] = height;
  }
  if (state.fog && (!fogSet_ || state.fogColor != fog_)) {
    auto channel = [&](int shift) { return static_cast<float>((state.fogColor >> shift) & 0xFF) / 255.0f; };
    gl_.Uniform3f(fogAt_, channel(16), channel(8), channel(0));
    fog_ = state.fogColor;
    fogSet_ = true;
  }
}

bool GlRaster::ScissorTo(const GlTarget& target, int x0, int y0, int x1, int y1) {
  x0 = std::max(x0, 0);
  y0 = std::max(y0, 0);
  x1 = std::min(x1, target.width);
  y1 = std::min(y1, target.height);
  if (x0 >= x1 || y0 >= y1) return false;
  gl_.BindFramebuffer(GL_FRAMEBUFFER, target.framebuffer);
  gl_.Viewport(0, 0, target.width, target.height);
  gl_.Enable(GL_SCISSOR_TEST);
  gl_.Scissor(x0, y0, x1 - x0, y1 - y0);
  return true;
}

const WORD* GlRaster::UsableIndices(const D3DTLVERTEX* vertices, size_t vertexCount, const WORD* indices, size_t* count,
                                    WORD* low, WORD* high) {
  const size_t whole = *count - *count % 3;
  WORD least = 0xFFFF, most = 0;
  for (size_t i = 0; i < whole; ++i) {
    least = std::min(least, indices[i]);
    most = std::max(most, indices[i]);
  }
  bool clean = whole > 0 && most < vertexCount;
  for (size_t i = least; i <= most && clean; ++i) clean = Finite(vertices[i]);
  *count = whole;
  *low = least;
  *high = most;
  if (clean || whole == 0) return indices;
  scratch_.clear();
  least = 0xFFFF;
  most = 0;
  for (size_t i = 0; i < whole; i += 3) {
    const WORD a = indices[i], b = indices[i + 1], c = indices[i + 2];
    if (a >= vertexCount || b >= vertexCount || c >= vertexCount) continue;
    if (!Finite(vertices[a]) || !Finite(vertices[b]) || !Finite(vertices[c])) continue;
    scratch_.insert(scratch_.end(), {a, b, c});
    least = std::min({least, a, b, c});
    most = std::max({most, a, b, c});
  }
  *count = scratch_.size();
  *low = least;
  *high = most;
  return scratch_.data();
}

bool GlRaster::ClipToGuardBand(const RasterState& state, const D3DTLVERTEX* vertices, WORD low, WORD high,
                               const WORD* indices, size_t count) {
  const float x0 = static_cast<float>(state.viewportX0) - kGuardBand;
  const float x1 = static_cast<float>(state.viewportX1) + kGuardBand;
  const float y0 = static_cast<float>(state.viewportY0) - kGuardBand;
  const float y1 = static_cast<float>(state.viewportY1) + kGuardBand;
  auto inside = [&](const D3DTLVERTEX& v) { return v.sx >= x0 && v.sx <= x1 && v.sy >= y0 && v.sy <= y1; };
  bool all = true;
  for (size_t i = low; i <= high && all; ++i) all = inside(vertices[i]);
  if (all) return false;
  const GuardPlane planes[] = {{0, 1.0f, x0}, {0, -1.0f, x1}, {1, 1.0f, y0}, {1, -1.0f, y1}};
  clippedVertices_.clear();
  clippedIndices_.clear();
  constexpr size_t kMaxVertices = 0xFFFF;
  for (size_t i = 0; i + 2 < count && clippedVertices_.size() + 7 <= kMaxVertices; i += 3) {
    ClipVertex polygon[7] = {ToClip(vertices[indices[i]]), ToClip(vertices[indices[i + 1]]),
                             ToClip(vertices[indices[i + 2]])};
    int corners = 3;
    for (const GuardPlane& plane : planes) {
      ClipVertex next[7];
      int kept = 0;
      for (int k = 0; k < corners; ++k) {
        const ClipVertex& a = polygon[k];
        const ClipVertex& b = polygon[(k + 1) % corners];
        const bool aIn = plane.Distance(a) >= 0.0f, bIn = plane.Distance(b) >= 0.0f;
        if (aIn) next[kept++] = a;
        if (aIn != bIn) next[kept++] = aIn ? Crossing(a, b, plane) : Crossing(b, a, plane);
      }
      corners = kept;
      std::copy(next, next + kept, polygon);
      if (corners < 3) break;
    }
    if (corners < 3) continue;
    const auto first = static_cast<WORD>(clippedVertices_.size());
    for (int k = 0; k < corners; ++k) clippedVertices_.push_back(FromClip(polygon[k]));
    // The polygon keeps the triangle's winding, so its fan culls as the triangle would.
    for (int k = 1; k + 1 < corners; ++k)
      clippedIndices_.insert(clippedIndices_.end(),
                             {first, static_cast<WORD>(first + k), static_cast<WORD>(first + k + 1)});
  }
  return true;
}

void GlRaster::DrawTriangles(const RasterState& state, const GlTarget& target, const GlTexture* texture,
                             const D3DTLVERTEX* vertices, size_t vertexCount, const WORD* indices, size_t indexCount,
                             bool clip) {
  if (program_ == 0 || target.framebuffer == 0) return;
  if (texture != nullptr && texture->name == 0) texture = nullptr;
  WORD low = 0, high = 0;
  indices = UsableIndices(vertices, vertexCount, indices, &indexCount, &low, &high);
  if (indexCount == 0) return;
  if (clip && ClipToGuardBand(state, vertices, low, high, indices, indexCount)) {
    if (clippedIndices_.empty()) return;
    vertices = clippedVertices_.data();
    indices = clippedIndices_.data();
    indexCount = clippedIndices_.size();
    low = 0;
    high = static_cast<WORD>(clippedVertices_.size() - 1);
  }
  bool drawn = clip ? ScissorTo(target, state.viewportX0, state.viewportY0, state.viewportX1, state.viewportY1)
                    : ScissorTo(target, 0, 0, target.width, target.height);
  if (!drawn) return;

  gl_.UseProgram(program_);
  gl_.BindVertexArray(vertexArray_);
  SetUniforms(state, target, texture);
  if (texture != nullptr) gl_.BindTexture(GL_TEXTURE_2D, texture->name);
  const bool depth = state.zEnable && target.depth != 0;
  if (depth) {
    gl_.Enable(GL_DEPTH_TEST);
    gl_.DepthMask(state.zWrite ? GL_TRUE : GL_FALSE);
  } else {
    gl_.Disable(GL_DEPTH_TEST);
  }
  // Direct3D's clockwise on screen is GL's counter-clockwise here, as y is not flipped.
  if (state.cullMode == D3DCULL_CCW || state.cullMode == D3DCULL_CW) {
    gl_.Enable(GL_CULL_FACE);
    gl_.CullFace(state.cullMode == D3DCULL_CCW ? GL_BACK : GL_FRONT);
  } else {
    gl_.Disable(GL_CULL_FACE);
  }
  // Unclipped draws are not cut at depth 0 and 1 but clamped to them, as the software spans do.
  if (clip)
    gl_.Disable(GL_DEPTH_CLAMP);
  else
    gl_.Enable(GL_DEPTH_CLAMP);

  // Only the vertices the indices reach are sent; the base vertex maps index `low` to the first.
  const auto vertexBytes = static_cast<GLsizeiptr>((size_t{high} - low + 1) * sizeof(D3DTLVERTEX));
  const auto indexBytes = static_cast<GLsizeiptr>(indexCount * sizeof(WORD));
  gl_.BufferData(GL_ARRAY_BUFFER, vertexBytes, vertices + low, GL_STREAM_DRAW);
  gl_.BufferData(GL_ELEMENT_ARRAY_BUFFER, indexBytes, indices, GL_STREAM_DRAW);
  gl_.counters.vertexBytes += static_cast<uint64_t>(vertexBytes + indexBytes);
  gl_.DrawElementsBaseVertex(GL_TRIANGLES, static_cast<GLsizei>(indexCount), GL_UNSIGNED_SHORT, nullptr, -GLint{low});
}

void GlRaster::FillColor(const GlTarget& target, int x0, int y0, int x1, int y1, D3DCOLOR color) {
  if (!ScissorTo(target, x0, y0, x1, y1)) return;
  auto channel = [&](int shift) { return static_cast<float>((color >> shift) & 0xFF) / 255.0f; };
  gl_.ClearColor(channel(16), channel(8), channel(0), 1.0f);
  gl_.Clear(GL_COLOR_BUFFER_BIT);
}

void GlRaster::FillDepth(const GlTarget& target, int x0, int y0, int x1, int y1, float value) {
  if (target.depth == 0 || !ScissorTo(target, x0, y0, x1, y1)) return;
  gl_.DepthMask(GL_TRUE);
  gl_.ClearDepth(std::clamp(value, 0.0f, 1.0f));
  gl_.Clear(GL_DEPTH_BUFFER_BIT);
}

void GlRaster::ReadColor(const GlTarget& target, const RasterTarget& out) {
  const int width = std::min(target.width, out.width), height = std::min(target.height, out.height);
  if (out.bits == nullptr || width <= 0 || height <= 0) return;
  texels_.resize(static_cast<size_t>(width) * height);
  gl_.BindFramebuffer(GL_READ_FRAMEBUFFER, target.framebuffer);
  gl_.ReadBuffer(GL_COLOR_ATTACHMENT0);
  gl_.ReadPixels(0, 0, width, height, GL_BGRA, GL_UNSIGNED_BYTE, texels_.data());
  ++gl_.counters.readBacks;
  gl_.counters.readBackBytes += texels_.size() * 4;
  for (int y = 0; y < height; ++y) {
    const uint32_t* from = texels_.data() + static_cast<size_t>(y) * width;
    uint8_t* row = out.bits + y * out.pitch;
    for (int x = 0; x < width; ++x) {
      const uint32_t c = from[x], r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
      switch (out.format) {
        case RasterPixelFormat::Xrgb32: reinterpret_cast<uint32_t*>(row)[x] = 0xFF000000u | c; break;
        case RasterPixelFormat::Rgb565:
          reinterpret_cast<uint16_t*>(row)[x] = static_cast<uint16_t>((r >> 3) << 11 | (g >> 2) << 5 | b >> 3);
          break;
        case RasterPixelFormat::Rgb555:
          reinterpret_cast<uint16_t*>(row)[x] = static_cast<uint16_t>((r >> 3) << 10 | (g >> 3) << 5 | b >> 3);
          break;
      }
    }
  }
}

void GlRaster::WriteColor(const GlTarget& target, const RasterTarget& source) {
  const int width = std::min(target.width, source.width), height = std::min(target.height, source.height);
  if (source.bits == nullptr || width <= 0 || height <= 0) return;
  texels_.resize(static_cast<size_t>(width) * height);
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = source.bits + y * source.pitch;
    uint32_t* to = texels_.data() + static_cast<size_t>(y) * width;
    for (int x = 0; x < width; ++x) {
      uint32_t r = 0, g = 0, b = 0;
      if (source.format == RasterPixelFormat::Xrgb32) {
        to[x] = 0xFF000000u | reinterpret_cast<const uint32_t*>(row)[x];
        continue;
      }
      const uint32_t p = reinterpret_cast<const uint16_t*>(row)[x];
      if (source.format == RasterPixelFormat::Rgb565) {
        r = Widen(p >> 11 & 0x1F, 5), g = Widen(p >> 5 & 0x3F, 6), b = Widen(p & 0x1F, 5);
      } else {
        r = Widen(p >> 10 & 0x1F, 5), g = Widen(p >> 5 & 0x1F, 5), b = Widen(p & 0x1F, 5);
      }
      to[x] = 0xFF000000u | r << 16 | g << 8 | b;
    }
  }
  gl_.BindTexture(GL_TEXTURE_2D, target.color);
  gl_.TexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, GL_BGRA, GL_UNSIGNED_BYTE, texels_.data());
  ++gl_.counters.textureUploads;
  gl_.counters.uploadBytes += texels_.size() * 4;
}

void GlRaster::CopyColor(const GlTarget& source, int sx, int sy, const GlTarget& dest, int dx, int dy, int width,
                         int height) {
  if (width <= 0 || height <= 0) return;
  gl_.Disable(GL_SCISSOR_TEST);
  gl_.BindFramebuffer(GL_READ_FRAMEBUFFER, source.framebuffer);
  gl_.BindFramebuffer(GL_DRAW_FRAMEBUFFER, dest.framebuffer);
  gl_.BlitFramebuffer(sx, sy, sx + width, sy + height, dx, dy, dx + width, dy + height, GL_COLOR_BUFFER_BIT,
                      GL_NEAREST);
}

void GlRaster::PresentToWindow(const GlTarget& source, int windowWidth, int windowHeight, bool fill) {
  if (windowWidth <= 0 || windowHeight <= 0 || source.width <= 0 || source.height <= 0) return;
  const double scale =
      std::min(static_cast<double>(windowWidth) / source.width, static_cast<double>(windowHeight) / source.height);
  const int width = fill ? windowWidth : static_cast<int>(source.width * scale);
  const int height = fill ? windowHeight : static_cast<int>(source.height * scale);
  const int x = (windowWidth - width) / 2, y = (windowHeight - height) / 2;
  gl_.Disable(GL_SCISSOR_TEST);
  gl_.BindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
  gl_.Viewport(0, 0, windowWidth, windowHeight);
  if (width != windowWidth || height != windowHeight) {
    gl_.ClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    gl_.Clear(GL_COLOR_BUFFER_BIT);
  }
  gl_.BindFramebuffer(GL_READ_FRAMEBUFFER, source.framebuffer);
  // Target row 0 is the picture's top row; the window's row 0 is its bottom.
  gl_.BlitFramebuffer(0, 0, source.width, source.height, x, y + height, x + width, y, GL_COLOR_BUFFER_BIT, GL_NEAREST);
}
