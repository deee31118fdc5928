// TKalvorGSaver: window creation, the start trigger and begin, the idle-driven frame pacing and
// draw, the exit rules and end.
#include "shell/kalvorgsaver.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>

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

namespace {

constexpr char kRegistryKey[] = "Software\\Kalvor_Soft";
constexpr char kRegistrySection[] = "KalvorGSaver";
constexpr char kDataPathValue[] = "DataPath";

constexpr char kSettingsProgram[] = "settei.exe";
constexpr char kErrorCaption[] = "えらー";
constexpr char kSettingsMissingText[] = "ファイルが見付かりませんsettei.exeを実行してください";

// Tested in this order, anywhere in the argument.
constexpr const char* kConfigurationSwitches[] = {"/c", "-c", "/C", "-C"};
// Compared with the whole argument, case-sensitively.
constexpr const char* kSaverSwitches[] = {"/s", "/S", "-s", "-S"};

constexpr int kScreenWidth = 640, kScreenHeight = 480;
constexpr UINT kStartTriggerMs = 1;
constexpr DWORD kStepGateMs = 16;
// A move of this many pixels or fewer on either axis does not end the saver.
constexpr int kMouseDeadZone = 3;

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
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
  FormCreate();
}

TKalvorGSaver::~TKalvorGSaver() {
  Application.OnKeyDown = nullptr;
  Application.OnMouseMove = nullptr;
  Application.OnClick = nullptr;
  Application.OnPaint = nullptr;
  Application.OnClose = nullptr;
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
  if (KalvorRM1.D3DDevice != nullptr) {
    KalvorRM1.D3DDevice->SetRenderState(D3DRENDERSTATE_CULLMODE, Settings.CheckBox1 ? D3DCULL_CCW : D3DCULL_NONE);
    KalvorRM1.D3DDevice->SetRenderState(D3DRENDERSTATE_TEXTUREPERSPECTIVE, Settings.CheckBox4 ? 1 : 0);
  }
  Application.OnIdle = [this] { return IdleHandler(); };
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
  if (std::filesystem::exists(DataPath + kSettingsProgram)) {
    ShellExecuteA(Handle, "open", kSettingsProgram, "", DataPath.c_str(), SW_SHOW);
    return;
  }
  DataPath.clear();
  if (std::filesystem::exists(kSettingsProgram))
    ShellExecuteA(Handle, "open", kSettingsProgram, "", DataPath.c_str(), SW_SHOW);
  else
    MessageBoxA(nullptr, kSettingsMissingText, kErrorCaption, MB_OK);
}

void TKalvorGSaver::SetUpWindow() {
  KlvWindowBackend& window = Application.MainWindow();
  Settings.CheckBox5 = true;
  window.SetClientSize(kScreenWidth, kScreenHeight);
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
  SetUpWindow();
  KalvorRM1.SetFullScreen(Settings.CheckBox5);
  if (!SelectDevices(kSelectStored)) {
    QuitAfterBegin = true;
    return;
  }
  QuitAfterBegin = false;

  // A damaged or missing model or height-map file is reported with the file and the problem, and
  // end releases whatever the build had made before the saver closes.
  try {
    if (!BuildScene(Scene, KalvorRM1, DataPath, Image1)) {
      QuitAfterBegin = true;
      return;
    }
  } catch (const KlvError& error) {
    MessageBoxA(nullptr, error.what(), kErrorCaption, MB_OK);
    Button2Click();
    QuitAfterBegin = true;
    return;
  }
  DrawSizeClick(kDrawSize640x480);

  Seed();
  InitFlightPaths(Scene, Random);

  GetCursorPos(&StartCursorPos);
  LastStepTime = Options.Clock();
  Running = true;
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

bool TKalvorGSaver::IdleHandler() { return !KlvMLoop1Calc(); }

bool TKalvorGSaver::KlvMLoop1Calc() {
  if (KalvorGUnit.DirectDraw == nullptr) return false;
  if (static_cast<DWORD>(Options.Clock() - LastStepTime) < kStepGateMs) return false;
  LastStepTime = Options.Clock();
  const Clock::time_point start = Clock::now();
  Timer2Timer();
  LastTimings.StepMs = MillisecondsSince(start);
  KlvMLoop1Draw();
  return true;
}

void TKalvorGSaver::KlvMLoop1Draw() {
  if (KalvorGUnit.DirectDraw == nullptr || !Running || Scene.SceneRoot == nullptr) return;
  const Clock::time_point start = Clock::now();
  Scene.View.Camera = Scene.RenderCamera;
  RenderView(Scene.View, Scene.SceneRoot, true);
  const Clock::time_point rendered = Clock::now();
  LastTimings.RenderMs = MillisecondsSince(start);
  if (KalvorG1.FullScreen()) {
    KalvorG1.Copy(0, 0, KalvorRM1.BackSurface, RECT{0, 0, kScreenWidth, kScreenHeight}, false);
    if (KalvorG1.OnFlip) KalvorG1.OnFlip();
  } else if (KalvorRM1.OnFlip) {
    KalvorRM1.OnFlip();
  }
  ShowFrontBuffer();
  LastTimings.PresentMs = MillisecondsSince(rendered);
}

void TKalvorGSaver::ShowFrontBuffer() {
  // A picture drawn on the GPU goes to a GL window from there, without a read-back.
  if (GlPresentFrontBuffer()) {
    ++PresentCount;
    return;
  }
  int width = 0, height = 0;
  if (!FrontBufferToXrgb(screen_, width, height)) return;
  Application.MainWindow().Present(reinterpret_cast<const uint8_t*>(screen_.data()), width, height,
                                   intptr_t{width} * static_cast<intptr_t>(sizeof(uint32_t)));
  ++PresentCount;
}

void TKalvorGSaver::KlvMLoop1Term() { Button2Click(); }

void TKalvorGSaver::FormKeyDown(BYTE) {
  if (Closing) return;
  Closing = true;
  KlvMLoop1Term();
  Application.Close();
}

// The window's client coordinates are not used: the rule measures the cursor on the screen.
void TKalvorGSaver::FormMouseMove(int, int) {
  if (!Running) return;
  POINT cursor{0, 0};
  GetCursorPos(&cursor);
  if (std::abs(cursor.x - StartCursorPos.x) <= kMouseDeadZone || std::abs(cursor.y - StartCursorPos.y) <= kMouseDeadZone)
    return;
  if (Closing) return;
  Closing = true;
  KlvMLoop1Term();
  Application.Close();
}

void TKalvorGSaver::FormClick() {
  if (Closing) return;
  Closing = true;
  Application.Close();
}

void TKalvorGSaver::FormPaint() { KalvorRM1.RmRestore(); }

void TKalvorGSaver::FormClose() { Timer2.SetInterval(0); }

void TKalvorGSaver::DrawSizeClick(int item) {
  if (item < 0 || item >= static_cast<int>(kDrawSizes.size())) return;
  ResizeView(Scene.View, kDrawSizes[item].Width, kDrawSizes[item].Height);
  FormPaint();
}
