// TKalvorGSaver: window creation, the start trigger and begin, the idle-driven frame pacing and
// draw, the exit rules and end.
#include "shell/kalvorgsaver.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "display/klvenumwin.h"
#include "platform/dx5/ddraw_gl.h"
#include "platform/dx5/virtual_display.h"
#include "platform/error.h"
#include "platform/win/messagebox.h"
#include "platform/win/registry.h"
#include "platform/win/shellapi.h"
#include "platform/win/winuser.h"
#include "render/framedraw.h"
#include "render/viewcontext.h"
#include "shell/data_folder.h"

namespace {

constexpr char kDataPathValue[] = "DataPath";
constexpr char kDrawSizeValue[] = "DrawSize";

constexpr char kSettingsProgram[] = "settei.exe";
constexpr char kErrorCaption[] = "えらー";
constexpr char kSettingsMissingText[] = "ファイルが見付かりませんsettei.exeを実行してください";
constexpr char kMetaMissingText[] = "ファイルが見付かりませんsettei.exeを立ち上げたのち再度試してください";

// Tested in this order, anywhere in the argument.
constexpr const char* kConfigurationSwitches[] = {"/c", "-c", "/C", "-C"};
// Compared with the whole argument, case-sensitively.
constexpr const char* kSaverSwitches[] = {"/s", "/S", "-s", "-S"};

constexpr TPictureSize kClassicPicture{false, 640, 480};
constexpr TPictureSize kNativePicture{true, 0, 0};
constexpr UINT kStartTriggerMs = 1;
// A resize starts begin again only once the window has kept its size this long (a preview being
// dragged larger sends many); meanwhile the window shows the old picture scaled.
constexpr DWORD kResizeSettleMs = 200;
// A move of this many pixels or fewer on either axis does not end the saver.
constexpr int kMouseDeadZone = 3;

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The main thread's processor time so far, in milliseconds: what a frame cost whatever else the
// machine runs.
double ThreadCpuMs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// A path check that never throws: a path that cannot be resolved is not there.
bool Exists(const std::string& path) {
  std::error_code error;
  return std::filesystem::exists(path, error);
}

std::string JoinFolders(const std::vector<std::string>& folders) {
  std::string text;
  for (const std::string& folder : folders) text += (text.empty() ? "" : ", ") + folder;
  return text;
}

}  // namespace

TKalvorGSaver::TKalvorGSaver(TApplication& application, TSaverOptions options)
    : Application(application),
      Options(std::move(options)),
      KalvorG1(this),
      KalvorRM1(this),
      KlvMLoop1(this, application),
      Timer1(application, kStartTriggerMs, true),
      Timer2(application, 0, true) {
  Handle = application.Handle();
  KlvMLoop1.SetInterval(0);
  KlvMLoop1.OnCalc = [this](void*) { KlvMLoop1Calc(); };
  KlvMLoop1.OnDraw = [this](void*) { KlvMLoop1Draw(); };
  KlvMLoop1.OnTerm = [this](void*) { KlvMLoop1Term(); };
  KlvMLoop1.Loaded();
  Timer1.OnTimer = [this] { Timer1Timer(); };

  // The window shows itself once begin has set it up for the saver; other modes never show it.
  Application.ShowMainForm = false;
  Application.OnKeyDown = [this](BYTE key) { FormKeyDown(key); };
  Application.OnMouseMove = [this](int x, int y) { FormMouseMove(x, y); };
  Application.OnClick = [this] { FormClick(); };
  Application.OnPaint = [this] { FormPaint(); };
  Application.OnClose = [this] { FormClose(); };
  Application.OnResize = [this](int width, int height) { FormResize(width, height); };
  FormCreate();
}

TKalvorGSaver::~TKalvorGSaver() {
  Application.OnKeyDown = nullptr;
  Application.OnMouseMove = nullptr;
  Application.OnClick = nullptr;
  Application.OnPaint = nullptr;
  Application.OnClose = nullptr;
  Application.OnResize = nullptr;
  Application.OnIdle = nullptr;
  FreeScene(Scene);
  KalvorRM1.RmRelease();
  KalvorG1.DDrelease();
}

void TKalvorGSaver::FormCreate() {
  CursorHidden = false;
  Scene.StepCount = 0;
  Running = false;
  Seed();
  const TRegIniFile registry(kRegistryKey);
  DataPath = registry.ReadString(kRegistrySection, kDataPathValue, "");
  const std::string drawSize = registry.ReadString(kRegistrySection, kDrawSizeValue, "");
  DrawSizeSetting = drawSize.empty() ? std::nullopt : ParsePictureSize(drawSize);
  if (!drawSize.empty() && !DrawSizeSetting)
    std::fprintf(stderr,
                 "kalvor_saver: %s: DrawSize \"%s\" is not 640x480, native or WIDTHxHEIGHT; using the default\n",
                 registry.FileName().c_str(), drawSize.c_str());
}

void TKalvorGSaver::Seed() {
  if (Options.Seed)
    Random.Seed(*Options.Seed);
  else
    Random.SeedFromClock();
}

void TKalvorGSaver::Timer1Timer() {
  Timer1.SetInterval(0);
  Timer1.SetEnabled(false);
  Button1Click();
  if (QuitAfterBegin) {
    Application.Close();
    return;
  }
  StartRunning();
}

void TKalvorGSaver::StartRunning() {
  if (KalvorRM1.D3DDevice != nullptr) {
    KalvorRM1.D3DDevice->SetRenderState(D3DRENDERSTATE_CULLMODE, Settings.CheckBox1 ? D3DCULL_CCW : D3DCULL_NONE);
    KalvorRM1.D3DDevice->SetRenderState(D3DRENDERSTATE_TEXTUREPERSPECTIVE, Settings.CheckBox4 ? 1 : 0);
  }
  // After a restart the handler is the one running now; it must not replace itself.
  if (!Application.OnIdle) Application.OnIdle = [this] { return IdleHandler(); };
}

bool TKalvorGSaver::IsConfigurationArgument() const {
  for (const char* configuration : kConfigurationSwitches)
    if (Options.Argument.find(configuration) != std::string::npos) return true;
  return false;
}

bool TKalvorGSaver::IsSaverArgument() const {
  if (Options.Argument.empty()) return true;
  for (const char* saver : kSaverSwitches)
    if (Options.Argument == saver) return true;
  return false;
}

void TKalvorGSaver::LaunchSettings() {
  if (Exists(DataPath + kSettingsProgram)) {
    ShellExecuteA(Handle, "open", kSettingsProgram, "", DataPath.c_str(), SW_SHOW);
    return;
  }
  DataPath.clear();
  if (Exists(kSettingsProgram)) {
    ShellExecuteA(Handle, "open", kSettingsProgram, "", DataPath.c_str(), SW_SHOW);
  } else {
    MessageBoxA(nullptr, kSettingsMissingText, kErrorCaption, MB_OK);
    ExitCode = 1;
  }
}

void TKalvorGSaver::SetUpWindow() {
  KlvWindowBackend& window = Application.MainWindow();
  Settings.CheckBox5 = true;
  window.SetClientSize(PictureWidth, PictureHeight);
  window.SetStayOnTop(true);
  Button6Click();
  window.SetBorder(false);
  window.SetPosition(0, 0);
  window.SetVisible(true);
}

void TKalvorGSaver::Button1Click() {
  if (!CursorHidden) {
    CursorHidden = true;
    ShowCursor(FALSE);
  }
  if (IsConfigurationArgument()) {
    LaunchSettings();
    QuitAfterBegin = true;
    return;
  }
  if (!IsSaverArgument()) {
    QuitAfterBegin = true;
    return;
  }
  ChoosePictureSize();
  // A host's window keeps its size and place; the picture is drawn full-screen style into it.
  if (Options.Embedded)
    Settings.CheckBox5 = true;
  else
    SetUpWindow();
  KalvorRM1.SetFullScreen(Settings.CheckBox5);
  if (!SelectDevices(kSelectStored)) {
    ExitCode = 1;
    QuitAfterBegin = true;
    return;
  }
  QuitAfterBegin = false;
  if (!FindData()) {
    ExitCode = 1;
    QuitAfterBegin = true;
    return;
  }

  // A damaged or missing model or height-map file (or any other failure of the build, such as a
  // folder where a file should be, or memory running out) is reported with its reason, and end
  // releases whatever the build had made before the saver closes.
  try {
    if (!BuildScene(Scene, KalvorRM1, DataPath, Image1)) {
      ExitCode = 1;
      QuitAfterBegin = true;
      return;
    }
  } catch (const std::exception& error) {
    ReportStartFailure(error.what());
    Button2Click();
    ExitCode = 1;
    QuitAfterBegin = true;
    return;
  }
  ResizeView(Scene.View, PictureWidth, PictureHeight);
  FormPaint();

  Seed();
  InitFlightPaths(Scene, Random);

  GetCursorPos(&StartCursorPos);
  LastStepTime = Options.Clock();
  Running = true;
}

void TKalvorGSaver::ChoosePictureSize() {
  const TPictureSize size = Options.Size       ? *Options.Size
                            : DrawSizeSetting  ? *DrawSizeSetting
                            : Options.Embedded ? kNativePicture
                                               : kClassicPicture;
  int width = size.Width, height = size.Height;
  PictureNative = size.Native;
  if (size.Native && !Application.MainWindow().NativeSize(width, height)) {
    width = kClassicPicture.Width;
    height = kClassicPicture.Height;
  }
  PictureWidth = std::clamp(width, 1, kMaxPictureSide);
  PictureHeight = std::clamp(height, 1, kMaxPictureSide);
  // The screen the picture goes to has the picture's size: its display mode must exist.
  SetNativeDisplaySize(DisplaySize{static_cast<DWORD>(PictureWidth), static_cast<DWORD>(PictureHeight)});
  KalvorGUnit.ScreenWidth = PictureWidth;
  KalvorGUnit.ScreenHeight = PictureHeight;
  KalvorRM1.Width = PictureWidth;
  KalvorRM1.Height = PictureHeight;
}

bool TKalvorGSaver::FindData() {
  std::string found;
  std::vector<std::string> tried;
  if (FindDataFolder(DataPath, Options.DataFolders, found, tried)) {
    DataPath = found;
    return true;
  }
  const std::string where = std::string(kDataMarkerFile) + " is in none of these folders: " + JoinFolders(tried);
  if (Options.Embedded) {
    std::fprintf(stderr, "kalvor_saver: cannot find the data: %s\n", where.c_str());
  } else {
    std::fprintf(stderr, "kalvor_saver: %s\n", where.c_str());
    MessageBoxA(nullptr, kMetaMissingText, kErrorCaption, MB_OK);
  }
  return false;
}

void TKalvorGSaver::ReportStartFailure(const std::string& text) {
  if (Options.Embedded)
    std::fprintf(stderr, "kalvor_saver: %s\n", text.c_str());
  else
    MessageBoxA(nullptr, text.c_str(), kErrorCaption, MB_OK);
}

void TKalvorGSaver::Button2Click() {
  FreeScene(Scene);
  KalvorRM1.RmRelease();
  // The ground texture went with the Direct3D layer's texture list.
  Scene.SceneTexture = nullptr;
  KalvorG1.DDrelease();
  ShowCursor(TRUE);
  if (CursorHidden) {
    CursorHidden = false;
    ShowCursor(TRUE);
  }
}

void TKalvorGSaver::Button6Click() { SettingsVisible = false; }

// The step needs the whole scene, which exists only once begin has completed.
void TKalvorGSaver::Timer2Timer() {
  if (!Running || Scene.Fugu == nullptr) return;
  SceneStep(Scene, Settings, KalvorRM1, Random);
}

bool TKalvorGSaver::IdleHandler() {
  if (Options.EndRequested && Options.EndRequested()) {
    EndOnRequest();
    return true;
  }
  if (ResizePending && static_cast<DWORD>(Options.Clock() - ResizeTime) >= kResizeSettleMs) Restart();
  const bool stepped = KlvMLoop1Calc();
  // A host's saver sleeps until its next step is due instead of polling for it.
  if (Options.Embedded) {
    const DWORD since = Options.Clock() - LastStepTime;
    Application.IdleWaitMs = since < Options.StepGateMs ? static_cast<int>(Options.StepGateMs - since) : 1;
  }
  return !stepped;
}

bool TKalvorGSaver::KlvMLoop1Calc() {
  if (KalvorGUnit.DirectDraw == nullptr) return false;
  if (static_cast<DWORD>(Options.Clock() - LastStepTime) < Options.StepGateMs) return false;
  LastStepTime = Options.Clock();
  const Clock::time_point start = Clock::now();
  Timer2Timer();
  LastTimings.StepMs = MillisecondsSince(start);
  KlvMLoop1Draw();
  TotalTimings.StepMs += LastTimings.StepMs;
  TotalTimings.RenderMs += LastTimings.RenderMs;
  TotalTimings.PresentMs += LastTimings.PresentMs;
  return true;
}

void TKalvorGSaver::KlvMLoop1Draw() {
  if (KalvorGUnit.DirectDraw == nullptr || !Running || Scene.SceneRoot == nullptr) return;
  const Clock::time_point start = Clock::now();
  const double startCpu = ThreadCpuMs();
  Scene.View.Camera = Scene.RenderCamera;
  RenderView(Scene.View, Scene.SceneRoot, true);
  const Clock::time_point rendered = Clock::now();
  const double renderedCpu = ThreadCpuMs();
  LastTimings.RenderMs = MillisecondsSince(start);
  TotalCpuTimings.RenderMs += renderedCpu - startCpu;
  if (KalvorG1.FullScreen()) {
    KalvorG1.Copy(0, 0, KalvorRM1.BackSurface, RECT{0, 0, PictureWidth, PictureHeight}, false);
    if (KalvorG1.OnFlip) KalvorG1.OnFlip();
  } else if (KalvorRM1.OnFlip) {
    KalvorRM1.OnFlip();
  }
  ShowFrontBuffer();
  LastTimings.PresentMs = MillisecondsSince(rendered);
  TotalCpuTimings.PresentMs += ThreadCpuMs() - renderedCpu;
}

void TKalvorGSaver::ShowFrontBuffer() {
  // A picture drawn on the GPU goes to a GL window from there, without a read-back.
  if (GlPresentFrontBuffer()) {
    ++PresentCount;
    return;
  }
  const DisplayView view = FrontBufferView();
  if (view.pixels == nullptr) return;
  // The front buffer is widened straight into the window's own memory where it lends it.
  KlvWindowBackend& window = Application.MainWindow();
  const KlvPictureTarget target = window.BeginPicture(view.width, view.height);
  if (target.pixels == nullptr) return;
  ViewToXrgb(view, target.pixels, target.pitch);
  if (Options.ShowFps) {
    fps_.Frame(Clock::now());
    DrawOverlayText(target.pixels, view.width, view.height, static_cast<int>(target.pitch / sizeof(uint32_t)),
                    FpsText(fps_.FramesPerSecond()));
  }
  window.ShowPicture();
  ++PresentCount;
}

void TKalvorGSaver::KlvMLoop1Term() { Button2Click(); }

// A host handles input itself (and unlocking): an embedded saver never ends on it.
void TKalvorGSaver::FormKeyDown(BYTE) {
  if (Options.Embedded || Closing) return;
  Closing = true;
  KlvMLoop1Term();
  Application.Close();
}

// The window's client coordinates are not used: the rule measures the cursor on the screen.
void TKalvorGSaver::FormMouseMove(int, int) {
  if (Options.Embedded || !Running) return;
  POINT cursor{0, 0};
  GetCursorPos(&cursor);
  if (std::abs(cursor.x - StartCursorPos.x) <= kMouseDeadZone ||
      std::abs(cursor.y - StartCursorPos.y) <= kMouseDeadZone)
    return;
  if (Closing) return;
  Closing = true;
  KlvMLoop1Term();
  Application.Close();
}

void TKalvorGSaver::FormClick() {
  if (Options.Embedded || Closing) return;
  Closing = true;
  Application.Close();
}

void TKalvorGSaver::FormPaint() { KalvorRM1.RmRestore(); }

void TKalvorGSaver::FormClose() { Timer2.SetInterval(0); }

void TKalvorGSaver::FormResize(int width, int height) {
  if (!Running || !PictureNative) return;
  // A window beyond the largest picture keeps the largest one, scaled.
  ResizePending =
      std::clamp(width, 1, kMaxPictureSide) != PictureWidth || std::clamp(height, 1, kMaxPictureSide) != PictureHeight;
  ResizeTime = Options.Clock();
}

void TKalvorGSaver::Restart() {
  ResizePending = false;
  Running = false;
  // The flight goes on elsewhere rather than starting over where it began.
  if (Options.Seed) ++*Options.Seed;
  KlvMLoop1Term();
  Button1Click();
  if (QuitAfterBegin) {
    Application.Close();
    return;
  }
  StartRunning();
}

void TKalvorGSaver::EndOnRequest() {
  if (Closing) return;
  Closing = true;
  KlvMLoop1Term();
  Application.Close();
}

void TKalvorGSaver::DrawSizeClick(int item) {
  if (item < 0 || item >= static_cast<int>(kDrawSizes.size())) return;
  ResizeView(Scene.View, kDrawSizes[item].Width, kDrawSizes[item].Height);
  FormPaint();
}
