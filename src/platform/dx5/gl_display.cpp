// The process's GL context and drawing, and the renderer choice.
#include "platform/dx5/gl_display.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "platform/dx5/gl_raster.h"

namespace {

struct GlDisplayState {
  KlvRenderer renderer = KlvRenderer::Auto;
  bool bilinear = false;
  std::unique_ptr<GlContext> context;
  std::unique_ptr<GlRaster> raster;
  bool headlessTried = false;  // a failed headless context is not tried again
  uint64_t serial = 1;
};

GlDisplayState& State() {
  static GlDisplayState state;
  return state;
}

// Whether drawing may use this context under the current choice.
bool Acceptable(const GlDisplayState& s, GlContext& context) {
  if (s.renderer == KlvRenderer::Software) return false;
  return s.renderer == KlvRenderer::Gl || !DrawsInSoftware(context);
}

void DropRaster(GlDisplayState& s) {
  if (s.context != nullptr && s.raster != nullptr) s.context->MakeCurrent();
  s.raster.reset();
  s.context.reset();
  ++s.serial;
}

}  // namespace

bool ParseRenderer(const std::string& text, KlvRenderer* renderer) {
  std::string lower = text;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  if (lower == "auto") {
    *renderer = KlvRenderer::Auto;
  } else if (lower == "software") {
    *renderer = KlvRenderer::Software;
  } else if (lower == "gl") {
    *renderer = KlvRenderer::Gl;
  } else {
    return false;
  }
  return true;
}

void SetRenderer(KlvRenderer renderer) {
  GlDisplayState& s = State();
  s.renderer = renderer;
  s.headlessTried = false;
  if (renderer == KlvRenderer::Software) DropRaster(s);
}

KlvRenderer CurrentRenderer() { return State().renderer; }

void SetGlBilinearFiltering(bool on) { State().bilinear = on; }
bool GlBilinearFiltering() { return State().bilinear; }

bool IsSoftwareGlRenderer(const char* name) {
  if (name == nullptr) return false;
  const std::string renderer = name;
  for (const char* software : {"llvmpipe", "softpipe", "swrast", "Software Rasterizer"})
    if (renderer.find(software) != std::string::npos) return true;
  return false;
}

bool DrawsInSoftware(GlContext& context) {
  if (!context.MakeCurrent()) return false;
  return IsSoftwareGlRenderer(reinterpret_cast<const char*>(context.Api().GetString(GL_RENDERER)));
}

bool InstallGlContext(std::unique_ptr<GlContext> context) {
  GlDisplayState& s = State();
  DropRaster(s);
  // A window that took its context away is gone: no headless context stands in for it.
  s.headlessTried = true;
  if (context == nullptr || !Acceptable(s, *context)) return false;
  s.context = std::move(context);
  return true;
}

GlRaster* DisplayGlRaster() {
  GlDisplayState& s = State();
  if (s.renderer == KlvRenderer::Software) return nullptr;
  if (s.raster != nullptr) return s.raster.get();
  if (s.context == nullptr) {
    if (s.headlessTried) return nullptr;
    s.headlessTried = true;
    std::string error;
    s.context = CreateHeadlessGlContext(&error);
    if (s.context == nullptr) {
      if (s.renderer == KlvRenderer::Gl) std::fprintf(stderr, "kalvor: %s; drawing in software\n", error.c_str());
      return nullptr;
    }
    if (!Acceptable(s, *s.context)) {
      s.context.reset();
      return nullptr;
    }
  }
  if (!s.context->MakeCurrent()) return nullptr;
  s.raster = std::make_unique<GlRaster>(s.context->Api());
  if (!s.raster->Ready()) {
    DropRaster(s);
    return nullptr;
  }
  return s.raster.get();
}

GlContext* DisplayGlContext() { return State().context.get(); }

uint64_t DisplayGlSerial() { return State().serial; }

void ReleaseGlDisplay() { DropRaster(State()); }
