// TKalvorGSaver: the saver's main window. It owns the display components, the frame loop, the
// hidden settings controls, the start trigger, the scene and the random generator, and runs the
// saver's lifecycle on the main thread: window creation reads the data folder, the start trigger
// runs begin (command line, configuration launch or saver start-up), the idle handler paces one
// scene step and one draw per 16 ms, input ends the saver, and end releases what begin built.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "display/component.h"
#include "display/kalvorg.h"
#include "display/kalvorrm.h"
#include "model/random.h"
#include "platform/win/application.h"
#include "platform/win/bitmap.h"
#include "platform/win/mmsystem.h"
#include "scene/scene.h"
#include "scene/settings.h"
#include "shell/fps_overlay.h"
#include "shell/klvmloop.h"
#include "shell/klvtimer.h"
#include "shell/saver_args.h"

// The window class name, also the key of the single-instance lock.
constexpr char kSaverWindowClass[] = "TKalvorGSaver";
constexpr char kSaverWindowName[] = "KalvorGSaver";
// The saver's settings: the registry key and its section.
constexpr char kRegistryKey[] = "Software\\Kalvor_Soft";
constexpr char kRegistrySection[] = "KalvorGSaver";

// What the program entry hands the main window.
struct TSaverOptions {
  // The first command-line argument; empty when there is none.
  std::string Argument;
  // The millisecond clock of the 16 ms step gate (tests and the snapshot driver pass a fake one).
  std::function<DWORD()> Clock = timeGetTime;
  // When set, both seedings of the random generator use this seed instead of the clock.
  std::optional<uint64_t> Seed;
  // Drawing into a window a screen saver host gave (or --window): the saver never ends on input,
  // leaves the window's size and place alone, and reports failures as one line on standard error.
  bool Embedded = false;
  // The picture size from the command line; absent: the DrawSize setting, else native when
  // embedded and 640 x 480 stand-alone.
  std::optional<TPictureSize> Size;
  // At most one scene step per this many milliseconds.
  DWORD StepGateMs = 16;
  // Draws the frames per second in the top-left corner.
  bool ShowFps = false;
  // Data folders looked in after DataPath and the current folder, as prefixes ending in '/'.
  std::vector<std::string> DataFolders;
  // Asked on every idle call; true ends the saver (end runs, the window closes).
  std::function<bool()> EndRequested;
};

// Durations of the latest scene step, render and present, in milliseconds.
struct TFrameTimings {
  double StepMs = 0;
  double RenderMs = 0;
  double PresentMs = 0;
};

// One item of the draw-size menu.
struct TDrawSize {
  int32_t Width;
  int32_t Height;
};
constexpr std::array<TDrawSize, 6> kDrawSizes{{{80, 60}, {160, 120}, {320, 240}, {400, 300}, {512, 368}, {640, 480}}};

class TKalvorGSaver : public TComponentOwner {
 public:
  // Creates the components and runs FormCreate; the start trigger fires once the application's
  // message loop runs. The window events of `application` are routed to this window until it goes.
  TKalvorGSaver(TApplication& application, TSaverOptions options);
  // Releases the scene and the devices without showing the cursor (a click ends the saver so).
  ~TKalvorGSaver() override;

  void FormCreate();
  // The start trigger: begin, then either close or the render states and the idle handler.
  void Timer1Timer();
  // begin.
  void Button1Click();
  // end: the scene, the Direct3D and DirectDraw layers, then the cursor is shown (twice when begin
  // hid it). Each release skips what does not exist.
  void Button2Click();
  // hide: switches the settings controls' Visible off again.
  void Button6Click();
  // The scene step.
  void Timer2Timer();

  // Runs KlvMLoop1Calc; true ("done", the loop may wait briefly) when the gate let no step through.
  bool IdleHandler();
  // At most one scene step plus draw per 16 ms of Options.Clock; true when it stepped.
  bool KlvMLoop1Calc();
  void KlvMLoop1Draw();
  void KlvMLoop1Term();

  void FormKeyDown(BYTE key);
  void FormMouseMove(int x, int y);
  void FormClick();
  void FormPaint();
  void FormClose();
  // The window was given a new size: a native picture follows it (begin runs again at the new size
  // once the size has settled).
  void FormResize(int width, int height);
  // A draw-size menu item (0 .. kDrawSizes.size() - 1): resizes the view, then repaints.
  void DrawSizeClick(int item);

  TApplication& Application;
  TSaverOptions Options;

  // The display owner must be initialised first: it sets up the screen and its flipping chain,
  // and KalvorRM1 renders into its own surface that the draw copies onto the screen.
  TKalvorG KalvorG1;
  TKalvorRM KalvorRM1;
  TKlvMLoop KlvMLoop1;
  TKlvTimer Timer1;
  TKlvTimer Timer2;
  TBitmap Image1;
  TSaverSettings Settings;
  // The settings controls (scroll bars, radio group, edits, check boxes) are never shown.
  bool SettingsVisible = false;

  TKlvScene Scene;
  TKlvRandom Random;

  std::string DataPath;
  bool QuitAfterBegin = false;
  bool Running = false;
  bool CursorHidden = false;
  bool Closing = false;
  POINT StartCursorPos{0, 0};
  DWORD LastStepTime = 0;

  // The DrawSize setting, when it holds a valid size.
  std::optional<TPictureSize> DrawSizeSetting;
  // The picture's size as begin chose it.
  int32_t PictureWidth = 640;
  int32_t PictureHeight = 480;
  bool PictureNative = false;
  bool ResizePending = false;
  DWORD ResizeTime = 0;  // Options.Clock at the latest resize
  // The process's exit status: 1 once a start failed (no data, a damaged file, no device, no
  // settings program to launch).
  int ExitCode = 0;

  TFrameTimings LastTimings;
  // The sums of every step's timings since creation, and of the main thread's processor time spent
  // rendering and presenting (StepMs unused).
  TFrameTimings TotalTimings;
  TFrameTimings TotalCpuTimings;
  // Frames presented to the window since creation.
  uint64_t PresentCount = 0;

 private:
  bool IsConfigurationArgument() const;
  bool IsSaverArgument() const;
  void LaunchSettings();
  void SetUpWindow();
  // Picks the picture's size and gives it to the display components.
  void ChoosePictureSize();
  // DataPath, the current folder, then Options.DataFolders; false (reported) when none has the data.
  bool FindData();
  // Shows a failed start: a message box stand-alone, one line on standard error embedded.
  void ReportStartFailure(const std::string& text);
  // Cull mode and perspective from the settings, then the idle handler.
  void StartRunning();
  // end, then begin again (the picture follows the window's new size).
  void Restart();
  void EndOnRequest();
  void Seed();
  // Shows the latest presented screen in the main window.
  void ShowFrontBuffer();

  TFpsCounter fps_;
};
