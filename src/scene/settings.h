// The main window's hidden settings controls, which act as the saver's settings: begin and the
// start trigger read them, the scene step reads and rewrites them. Defaults are the controls'
// initial values; nothing shows them.
#pragma once

#include <string>

constexpr int kSpeedMin = -20, kSpeedMax = 100;
constexpr int kZoomMin = 10, kZoomMax = 1000;
constexpr int kSwitchPeriodMin = 10, kSwitchPeriodMax = 1000;

// RadioGroup1's items.
enum TLookAtTarget { kLookNone = 0, kLookFugu = 1, kLookPlane = 2, kLookWfg = 3, kLookTree = 4, kLookBuilding = 5 };

struct TSaverSettings {
  bool CheckBox1 = true;        // "Cullingをする": back-face culling
  bool CheckBox4 = true;        // "PerspectiveC": perspective-correct texturing
  bool CheckBox5 = false;       // "FullScreen"; begin switches it on
  bool CheckBox6 = true;        // "Auto Flight"
  bool CheckBox7 = false;       // "Auto Zoom"
  int RadioGroup1 = kLookNone;  // "lookat": none, fugu, f3f, wfg, tree, tatemono
  int ScrollBar1 = 0;           // manual forward speed, kSpeedMin..kSpeedMax
  int ScrollBar2 = 200;         // zoom x 100, kZoomMin..kZoomMax
  int ScrollBar3 = 300;         // look-at switch period in steps, kSwitchPeriodMin..kSwitchPeriodMax
  std::string Edit2;            // the camera's terrain cell column, written by the scene step
  std::string Edit3;            // the camera's terrain cell row
};
