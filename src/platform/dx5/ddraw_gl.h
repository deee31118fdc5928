// Where DirectDraw surfaces meet the GL device: the GPU copies of video-memory surfaces, the blits
// and fills that stay on the GPU, and showing the primary surface's GPU copy on a GL window.
// Surfaces call these from their Lock, Blt, BltFast and Flip; the Direct3D device calls them to
// find its render target and textures on the GPU.
#pragma once

#include "platform/dx5/ddraw.h"
#include "platform/dx5/gl_raster.h"

class DDrawSurface;

// The render target of a video-memory colour surface, made and brought up to date with its memory
// when needed and marked as about to change; null when the surface cannot be drawn on the GPU.
const GlTarget* GlRenderTargetOf(IDirectDrawSurface* surface, bool withDepth);
// The GPU texture of a video-memory texture surface, uploaded when its memory changed since; null
// when it cannot be had.
const GlTexture* GlTextureOf(IDirectDrawSurface* surface);
// Marks a surface's memory as changed (its palette, for instance), so its GPU copy is uploaded again.
void GlSurfaceChanged(IDirectDrawSurface* surface);
// Whether `surface` lives on the GPU of the GL device (has a GPU copy).
bool GlSurfaceOnGpu(IDirectDrawSurface* surface);

// The GPU paths of Blt and BltFast: true when done on the GPU. Otherwise the caller works on the
// memory, after GlBringToMemory on both surfaces, and then calls GlMemoryChanged on the destination
// (which uploads a video-memory texture there and then).
bool GlFill(DDrawSurface& dst, const RECT& rect, DWORD value);
bool GlCopy(DDrawSurface& dst, const RECT& dstRect, DDrawSurface& src, const RECT& srcRect, bool keyed);
void GlBringToMemory(const DDrawSurface& surface);
void GlMemoryChanged(DDrawSurface& surface);

// Shows the primary surface on show on the GL context's window (scaled with its shape kept) when
// that surface's picture is on the GPU; false when there is no GL window or nothing on the GPU, and
// the caller presents the memory instead.
bool GlPresentFrontBuffer();
