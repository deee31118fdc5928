// The OpenGL 3.3 core functions the GL device uses, as one table loaded through whichever
// window-system library made the context (EGL, GLX, SDL), and the counters every call adds to:
// calls, texture uploads and read-backs with their bytes. Tests and the frame figures read these.
#pragma once

#include <GL/glcorearb.h>

#include <cstdint>

struct GlCounters {
  uint64_t calls = 0;           // every GL entry point called through the table
  uint64_t textureUploads = 0;  // glTexImage2D / glTexSubImage2D with pixels
  uint64_t uploadBytes = 0;     // texture bytes sent
  uint64_t vertexBytes = 0;     // vertex and index bytes sent
  uint64_t readBacks = 0;       // glReadPixels
  uint64_t readBackBytes = 0;
};

// One entry point: calling it counts the call and forwards it.
template <typename Fn>
struct GlEntry;
template <typename R, typename... Args>
struct GlEntry<R(KHRONOS_APIENTRY*)(Args...)> {
  R(KHRONOS_APIENTRY* fn)(Args...) = nullptr;
  uint64_t* calls = nullptr;
  R operator()(Args... args) const {
    ++*calls;
    return fn(args...);
  }
};

// The X-macro list keeps its own layout: clang-format cannot settle on one for it.
// clang-format off
#define KLV_GL_FUNCTIONS(X)                                                                                       \
  X(GetError, PFNGLGETERRORPROC) X(GetString, PFNGLGETSTRINGPROC) X(GetIntegerv, PFNGLGETINTEGERVPROC)             \
  X(Enable, PFNGLENABLEPROC) X(Disable, PFNGLDISABLEPROC) X(Viewport, PFNGLVIEWPORTPROC)                           \
  X(Scissor, PFNGLSCISSORPROC) X(ClearColor, PFNGLCLEARCOLORPROC) X(ClearDepth, PFNGLCLEARDEPTHPROC)               \
  X(Clear, PFNGLCLEARPROC) X(DepthFunc, PFNGLDEPTHFUNCPROC) X(DepthMask, PFNGLDEPTHMASKPROC)                       \
  X(CullFace, PFNGLCULLFACEPROC) X(FrontFace, PFNGLFRONTFACEPROC) X(ProvokingVertex, PFNGLPROVOKINGVERTEXPROC)     \
  X(CreateShader, PFNGLCREATESHADERPROC) X(ShaderSource, PFNGLSHADERSOURCEPROC)                                   \
  X(CompileShader, PFNGLCOMPILESHADERPROC) X(GetShaderiv, PFNGLGETSHADERIVPROC)                                    \
  X(GetShaderInfoLog, PFNGLGETSHADERINFOLOGPROC) X(CreateProgram, PFNGLCREATEPROGRAMPROC)                          \
  X(AttachShader, PFNGLATTACHSHADERPROC) X(LinkProgram, PFNGLLINKPROGRAMPROC) X(GetProgramiv, PFNGLGETPROGRAMIVPROC) \
  X(GetProgramInfoLog, PFNGLGETPROGRAMINFOLOGPROC) X(DeleteShader, PFNGLDELETESHADERPROC)                          \
  X(DeleteProgram, PFNGLDELETEPROGRAMPROC) X(UseProgram, PFNGLUSEPROGRAMPROC)                                      \
  X(GetUniformLocation, PFNGLGETUNIFORMLOCATIONPROC) X(Uniform1i, PFNGLUNIFORM1IPROC)                              \
  X(Uniform2f, PFNGLUNIFORM2FPROC) X(Uniform3f, PFNGLUNIFORM3FPROC)                                                \
  X(GenVertexArrays, PFNGLGENVERTEXARRAYSPROC) X(BindVertexArray, PFNGLBINDVERTEXARRAYPROC)                        \
  X(DeleteVertexArrays, PFNGLDELETEVERTEXARRAYSPROC) X(GenBuffers, PFNGLGENBUFFERSPROC)                           \
  X(BindBuffer, PFNGLBINDBUFFERPROC) X(BufferData, PFNGLBUFFERDATAPROC) X(DeleteBuffers, PFNGLDELETEBUFFERSPROC)   \
  X(VertexAttribPointer, PFNGLVERTEXATTRIBPOINTERPROC)                                                             \
  X(EnableVertexAttribArray, PFNGLENABLEVERTEXATTRIBARRAYPROC)                                                     \
  X(DrawElementsBaseVertex, PFNGLDRAWELEMENTSBASEVERTEXPROC)                                                       \
  X(GenTextures, PFNGLGENTEXTURESPROC) X(BindTexture, PFNGLBINDTEXTUREPROC) X(TexImage2D, PFNGLTEXIMAGE2DPROC)     \
  X(TexSubImage2D, PFNGLTEXSUBIMAGE2DPROC) X(TexParameteri, PFNGLTEXPARAMETERIPROC)                                \
  X(DeleteTextures, PFNGLDELETETEXTURESPROC) X(ActiveTexture, PFNGLACTIVETEXTUREPROC)                              \
  X(PixelStorei, PFNGLPIXELSTOREIPROC) X(GenFramebuffers, PFNGLGENFRAMEBUFFERSPROC)                                \
  X(BindFramebuffer, PFNGLBINDFRAMEBUFFERPROC) X(FramebufferTexture2D, PFNGLFRAMEBUFFERTEXTURE2DPROC)              \
  X(FramebufferRenderbuffer, PFNGLFRAMEBUFFERRENDERBUFFERPROC)                                                     \
  X(CheckFramebufferStatus, PFNGLCHECKFRAMEBUFFERSTATUSPROC) X(DeleteFramebuffers, PFNGLDELETEFRAMEBUFFERSPROC)    \
  X(GenRenderbuffers, PFNGLGENRENDERBUFFERSPROC) X(BindRenderbuffer, PFNGLBINDRENDERBUFFERPROC)                    \
  X(RenderbufferStorage, PFNGLRENDERBUFFERSTORAGEPROC) X(DeleteRenderbuffers, PFNGLDELETERENDERBUFFERSPROC)        \
  X(BlitFramebuffer, PFNGLBLITFRAMEBUFFERPROC) X(ReadPixels, PFNGLREADPIXELSPROC) X(Finish, PFNGLFINISHPROC)       \
  X(DrawBuffer, PFNGLDRAWBUFFERPROC) X(ReadBuffer, PFNGLREADBUFFERPROC)
// clang-format on

struct GlApi {
  GlCounters counters;
#define KLV_GL_DECLARE(name, type) GlEntry<type> name;
  KLV_GL_FUNCTIONS(KLV_GL_DECLARE)
#undef KLV_GL_DECLARE

  GlApi() = default;
  GlApi(const GlApi&) = delete;
  GlApi& operator=(const GlApi&) = delete;

  // Looks every function up with `resolve` (given names like "glClear"); false when one is missing,
  // with its name in *missing.
  using Resolver = void (*(*)(const char* name))();
  bool Load(Resolver resolve, const char** missing);
};
