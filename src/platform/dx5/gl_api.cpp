// Loads the GL function table.
#include "platform/dx5/gl_api.h"

bool GlApi::Load(Resolver resolve, const char** missing) {
#define KLV_GL_LOAD(name, type)                          \
  name.fn = reinterpret_cast<type>(resolve("gl" #name)); \
  name.calls = &counters.calls;                          \
  if (name.fn == nullptr) {                              \
    if (missing != nullptr) *missing = "gl" #name;       \
    return false;                                        \
  }
  KLV_GL_FUNCTIONS(KLV_GL_LOAD)
#undef KLV_GL_LOAD
  return true;
}
