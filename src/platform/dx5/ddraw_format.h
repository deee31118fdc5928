// The pixel layouts DirectDraw surfaces can have here, and their DDPIXELFORMAT descriptions.
// Colour layouts match a drawing-context layout (GdiFormat); depth layouts hold z values only.
// A 24-bit z-buffer stores each value in the low 24 bits of a 32-bit word.
#pragma once

#include <optional>

#include "platform/dx5/ddraw.h"
#include "platform/win/gdi.h"

enum class SurfaceFormat { Indexed8, Rgb565, Rgb555, Xrgb32, Z16, Z24, Z32 };

DDPIXELFORMAT PixelFormatOf(SurfaceFormat format);
int SurfaceBytesPerPixel(SurfaceFormat format);
bool IsDepthFormat(SurfaceFormat format);
// The drawing-context layout of a colour format; none for depth formats.
std::optional<GdiFormat> GdiFormatOf(SurfaceFormat format);

// The colour format a DDPIXELFORMAT asks for: 8-bit palette indices, 16-bit 5-6-5 or 5-5-5, or
// 32-bit XRGB (red 0xFF0000, green 0xFF00, blue 0xFF, no alpha); none for anything else.
std::optional<SurfaceFormat> ColourFormatFrom(const DDPIXELFORMAT& pixelFormat);
// The depth format of a z-buffer bit depth (16, 24 or 32); none for anything else.
std::optional<SurfaceFormat> DepthFormatFrom(DWORD bitDepth);
// The colour format of a display mode's bits per pixel (8, 16 or 32).
std::optional<SurfaceFormat> DisplayFormatFrom(DWORD bitsPerPixel);
