// The GLX context on an existing X window, as embedded mode makes it on a host's window: a
// picture drawn by the GL device and presented lands in the window. Needs an X display (DISPLAY,
// for instance Xvfb with Mesa's llvmpipe); skipped without one.
#include "platform/dx5/gl_glx.h"

#include <gtest/gtest.h>

#include "platform/dx5/gl_raster.h"

// After gtest: Xlib's macros (None, Bool) clash with its names.
#include <X11/Xlib.h>

namespace {

TEST(GlxContextTest, DrawsAndPresentsOnAHostWindow) {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) GTEST_SKIP() << "no X display";
  const int screen = DefaultScreen(display);
  // The host's window, on the screen's default visual, as a daemon would make it.
  Window window = XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0, 64, 48, 0, 0, 0);
  XMapWindow(display, window);
  XSync(display, False);
  {
    std::string error;
    std::unique_ptr<GlContext> context = CreateGlxContext(display, window, &error);
    ASSERT_NE(context, nullptr) << error;
    int width = 0, height = 0;
    context->WindowSize(&width, &height);
    EXPECT_EQ(width, 64);
    EXPECT_EQ(height, 48);
    EXPECT_TRUE(context->FillsWindow());  // a host's window shows no bars

    GlRaster raster(context->Api());
    ASSERT_TRUE(raster.Ready());
    GlTarget target;
    ASSERT_TRUE(raster.CreateTarget(64, 48, false, &target));
    raster.FillColor(target, 0, 0, 64, 24, 0xFF0000);   // top half red
    raster.FillColor(target, 0, 24, 64, 48, 0x0000FF);  // bottom half blue
    raster.PresentToWindow(target, width, height, context->FillsWindow());
    GlApi& gl = context->Api();
    uint32_t top = 0, bottom = 0;
    gl.BindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    gl.ReadBuffer(GL_BACK);
    gl.ReadPixels(10, 40, 1, 1, GL_BGRA, GL_UNSIGNED_BYTE, &top);  // GL rows count from the bottom
    gl.ReadPixels(10, 5, 1, 1, GL_BGRA, GL_UNSIGNED_BYTE, &bottom);
    context->Present();
    EXPECT_EQ(top & 0xFFFFFFu, 0xFF0000u);
    EXPECT_EQ(bottom & 0xFFFFFFu, 0x0000FFu);
    raster.DestroyTarget(&target);
  }
  XDestroyWindow(display, window);
  // The display stays open until the process ends, as a saver's does: closing it unloads Mesa's
  // GLX driver, and the few allocations it keeps per display would be reported as leaks of an
  // unloaded (so unnamed, so unsuppressible) module.
}

// A window that is gone gets no context, and the reason; the process goes on.
TEST(GlxContextTest, RefusesAWindowItCannotRead) {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) GTEST_SKIP() << "no X display";
  std::string error;
  EXPECT_EQ(CreateGlxContext(display, 0x7FFFFFF, &error), nullptr);
  EXPECT_FALSE(error.empty());
  XCloseDisplay(display);
}

}  // namespace
