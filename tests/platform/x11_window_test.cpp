// The X11 backend against a real X server (Xvfb, started per test suite; the tests skip where it
// cannot be started): a window made by someone else is drawn into at its size, scaled into when the
// picture differs, followed when it is resized, reported closed when it is destroyed, and never
// changed (geometry, map state, properties).
// GoogleTest comes before Xlib, whose macros (None, Bool) would clash with its names.
#include <gtest/gtest.h>
// clang-format off
#include <X11/Xlib.h>
#include <X11/Xutil.h>
// clang-format on
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/win/x11_window.h"

namespace {

constexpr int kStartSeconds = 10;

// An Xvfb of its own: the display number comes back through -displayfd.
class XvfbServer {
 public:
  XvfbServer() {
    int fds[2];
    if (pipe(fds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(fds[0]);
      const std::string fd = std::to_string(fds[1]);
      freopen("/dev/null", "w", stderr);
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "800x600x24", "-nolisten", "tcp",
             static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    std::string number;
    pollfd wait{fds[0], POLLIN, 0};
    char c = 0;
    while (pid_ > 0 && poll(&wait, 1, kStartSeconds * 1000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (!number.empty()) name_ = ":" + number;
  }
  ~XvfbServer() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  const std::string& Name() const { return name_; }

 private:
  pid_t pid_ = -1;
  std::string name_;
};

class X11WindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server_ = new XvfbServer; }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }

  void SetUp() override {
    if (server_->Name().empty()) GTEST_SKIP() << "Xvfb cannot be started here";
    // A loaded machine may refuse a connection now and then; a second attempt gets through.
    for (int attempt = 0; attempt < 5 && display_ == nullptr; ++attempt) {
      display_ = XOpenDisplay(server_->Name().c_str());
      if (display_ == nullptr) usleep(200'000);
    }
    ASSERT_NE(display_, nullptr);
  }

  void TearDown() override {
    if (display_ != nullptr) XCloseDisplay(display_);
  }

  // A mapped window of this test's own connection, as a host would make it.
  Window HostWindow(int width, int height, Visual* visual = nullptr, int depth = 0) {
    const int screen = DefaultScreen(display_);
    Window window;
    if (visual == nullptr) {
      window = XCreateSimpleWindow(display_, RootWindow(display_, screen), 30, 40, static_cast<unsigned>(width),
                                   static_cast<unsigned>(height), 0, 0, 0);
    } else {
      XSetWindowAttributes attributes{};
      attributes.colormap = XCreateColormap(display_, RootWindow(display_, screen), visual, AllocNone);
      attributes.border_pixel = 0;
      window = XCreateWindow(display_, RootWindow(display_, screen), 30, 40, static_cast<unsigned>(width),
                             static_cast<unsigned>(height), 0, depth, InputOutput, visual, CWColormap | CWBorderPixel,
                             &attributes);
    }
    XMapWindow(display_, window);
    XSync(display_, False);
    return window;
  }

  // The window's pixel at (x, y) as 0xAARRGGBB for 24- and 32-bit windows.
  uint32_t PixelAt(Window window, int x, int y) {
    XImage* image = XGetImage(display_, window, x, y, 1, 1, AllPlanes, ZPixmap);
    if (image == nullptr) return 0xDEADBEEF;
    const auto pixel = static_cast<uint32_t>(XGetPixel(image, 0, 0));
    XDestroyImage(image);
    return pixel;
  }

  struct Look {
    int x, y, width, height, mapState, properties;
    bool operator==(const Look&) const = default;
  };
  Look LookOf(Window window) {
    XWindowAttributes a;
    XGetWindowAttributes(display_, window, &a);
    int count = 0;
    if (Atom* atoms = XListProperties(display_, window, &count)) XFree(atoms);
    return Look{a.x, a.y, a.width, a.height, a.map_state, count};
  }

  // Waits up to `timeoutMs` for an event of `kind`.
  static bool WaitFor(TKlvX11Window& window, KlvWindowEvent::Kind kind, KlvWindowEvent& event, int timeoutMs = 3000) {
    for (int waited = 0; waited < timeoutMs; waited += 50)
      if (window.NextEvent(event, 50) && event.kind == kind) return true;
    return false;
  }

  static XvfbServer* server_;
  Display* display_ = nullptr;
};

XvfbServer* X11WindowTest::server_ = nullptr;

// A picture whose pixel (x, y) is x in red, y in green and 0x5A in blue.
std::vector<uint32_t> Gradient(int width, int height) {
  std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      pixels[static_cast<size_t>(y) * width + x] = static_cast<uint32_t>((x & 0xFF) << 16 | (y & 0xFF) << 8 | 0x5A);
  return pixels;
}

TEST_F(X11WindowTest, DrawsIntoAGivenWindowAtItsSizeAndNeverChangesIt) {
  const Window host = HostWindow(423, 237);
  const Look before = LookOf(host);
  auto window = TKlvX11Window::Attach(server_->Name(), host);
  int width = 0, height = 0;
  ASSERT_TRUE(window->NativeSize(width, height));
  EXPECT_EQ(width, 423);
  EXPECT_EQ(height, 237);

  const std::vector<uint32_t> picture = Gradient(423, 237);
  window->Present(reinterpret_cast<const uint8_t*>(picture.data()), 423, 237, 423 * 4);
  for (auto [x, y] : {std::pair{0, 0}, std::pair{200, 100}, std::pair{422, 236}})
    EXPECT_EQ(PixelAt(host, x, y) & 0xFFFFFF, picture[static_cast<size_t>(y) * 423 + x]) << x << "," << y;

  // The form settings never reach a host's window.
  window->SetClientSize(100, 100);
  window->SetPosition(300, 300);
  window->SetVisible(false);
  window->SetStayOnTop(true);
  XSync(display_, False);
  EXPECT_EQ(LookOf(host), before);
}

// Shows `picture` the other way, written into the memory the window lends.
void ShowInPlace(KlvWindowBackend& window, const std::vector<uint32_t>& picture, int width, int height) {
  const KlvPictureTarget target = window.BeginPicture(width, height);
  ASSERT_NE(target.pixels, nullptr);
  for (int y = 0; y < height; ++y)
    std::copy_n(&picture[static_cast<size_t>(y) * width], width,
                reinterpret_cast<uint32_t*>(reinterpret_cast<uint8_t*>(target.pixels) + y * target.pitch));
  window.ShowPicture();
}

TEST_F(X11WindowTest, APictureWrittenInPlaceReachesTheWindowAtItsSizeOrScaled) {
  const Window host = HostWindow(123, 45);
  auto window = TKlvX11Window::Attach(server_->Name(), host);
  const std::vector<uint32_t> picture = Gradient(123, 45);
  ShowInPlace(*window, picture, 123, 45);
  for (auto [x, y] : {std::pair{0, 0}, std::pair{61, 30}, std::pair{122, 44}})
    EXPECT_EQ(PixelAt(host, x, y) & 0xFFFFFF, picture[static_cast<size_t>(y) * 123 + x]) << x << "," << y;
  // A picture of twice the window's size, one colour per quarter, scaled down.
  std::vector<uint32_t> quarters(246 * 90);
  for (int y = 0; y < 90; ++y)
    for (int x = 0; x < 246; ++x)
      quarters[static_cast<size_t>(y) * 246 + x] = (x < 123 ? 0xFF0000u : 0xFFu) | (y < 45 ? 0 : 0xFF00u);
  ShowInPlace(*window, quarters, 246, 90);
  EXPECT_EQ(PixelAt(host, 5, 5) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(PixelAt(host, 117, 5) & 0xFFFFFF, 0x0000FFu);
  EXPECT_EQ(PixelAt(host, 5, 40) & 0xFFFFFF, 0xFFFF00u);
  EXPECT_EQ(PixelAt(host, 117, 40) & 0xFFFFFF, 0x00FFFFu);
}

TEST_F(X11WindowTest, APictureOfAnotherSizeIsScaledToFillTheWindow) {
  const Window host = HostWindow(400, 300);
  auto window = TKlvX11Window::Attach(server_->Name(), host);
  // Left half red, right half blue, 40 x 20.
  std::vector<uint32_t> picture(40 * 20);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 40; ++x) picture[static_cast<size_t>(y) * 40 + x] = x < 20 ? 0xFF0000u : 0x0000FFu;
  window->Present(reinterpret_cast<const uint8_t*>(picture.data()), 40, 20, 40 * 4);
  EXPECT_EQ(PixelAt(host, 0, 0) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(PixelAt(host, 150, 299) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(PixelAt(host, 399, 299) & 0xFFFFFF, 0x0000FFu);
  EXPECT_EQ(PixelAt(host, 250, 0) & 0xFFFFFF, 0x0000FFu);
}

TEST_F(X11WindowTest, FollowsAResizeAndReportsTheWindowGone) {
  const Window host = HostWindow(320, 200);
  auto window = TKlvX11Window::Attach(server_->Name(), host);
  XResizeWindow(display_, host, 500, 250);
  XSync(display_, False);
  KlvWindowEvent event;
  ASSERT_TRUE(WaitFor(*window, KlvWindowEvent::Kind::Resize, event));
  EXPECT_EQ(event.x, 500);
  EXPECT_EQ(event.y, 250);
  int width = 0, height = 0;
  window->NativeSize(width, height);
  EXPECT_EQ(width, 500);

  XDestroyWindow(display_, host);
  XSync(display_, False);
  ASSERT_TRUE(WaitFor(*window, KlvWindowEvent::Kind::Close, event));
  // Drawing afterwards does nothing, and no second Close comes.
  const std::vector<uint32_t> picture = Gradient(500, 250);
  window->Present(reinterpret_cast<const uint8_t*>(picture.data()), 500, 250, 500 * 4);
  EXPECT_FALSE(window->NextEvent(event, 100));
}

TEST_F(X11WindowTest, AWindowDestroyedWhileDrawingEndsQuietly) {
  const Window host = HostWindow(200, 100);
  auto window = TKlvX11Window::Attach(server_->Name(), host);
  XDestroyWindow(display_, host);
  XSync(display_, False);
  // The BadDrawable of this put arrives through the error handler, not as an exit.
  const std::vector<uint32_t> picture = Gradient(200, 100);
  window->Present(reinterpret_cast<const uint8_t*>(picture.data()), 200, 100, 200 * 4);
  KlvWindowEvent event;
  EXPECT_TRUE(WaitFor(*window, KlvWindowEvent::Kind::Close, event));
}

TEST_F(X11WindowTest, AWindowThatDoesNotExistIsRefused) {
  const Window host = HostWindow(10, 10);
  XDestroyWindow(display_, host);
  XSync(display_, False);
  try {
    TKlvX11Window::Attach(server_->Name(), host);
    ADD_FAILURE() << "attached a destroyed window";
  } catch (const KlvError& error) {
    EXPECT_EQ(error.kind(), KlvErrorKind::Unsupported);
  }
  EXPECT_THROW(TKlvX11Window::Attach(":999999", std::nullopt), KlvError);
}

TEST_F(X11WindowTest, AThirtyTwoBitWindowGetsOpaquePixels) {
  XVisualInfo info;
  if (!XMatchVisualInfo(display_, DefaultScreen(display_), 32, TrueColor, &info))
    GTEST_SKIP() << "no 32-bit visual on this server";
  const Window host = HostWindow(64, 48, info.visual, 32);
  auto window = TKlvX11Window::Attach(server_->Name(), host);
  const std::vector<uint32_t> picture = Gradient(64, 48);
  window->Present(reinterpret_cast<const uint8_t*>(picture.data()), 64, 48, 64 * 4);
  EXPECT_EQ(PixelAt(host, 10, 20), 0xFF000000u | picture[20 * 64 + 10]);
}

TEST_F(X11WindowTest, OurOwnWindowHasTheAskedSizeAndAWakeEndsAWait) {
  auto window = TKlvX11Window::CreateOwn(server_->Name(), 160, 120, "test");
  int width = 0, height = 0;
  ASSERT_TRUE(window->NativeSize(width, height));
  EXPECT_EQ(width, 160);
  EXPECT_EQ(height, 120);
  KlvWindowEvent event;
  while (window->NextEvent(event, 200)) {
  }
  window->Wake();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(window->NextEvent(event, 20000)) << "a wake-up is no event";
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << "the wait was not cut short";
}

}  // namespace
