// The saver's command line. The classic forms (no argument, /s, /S, -s, -S, the /c family, anything
// else) are left to the main window exactly as given; a command line that starts with one of the
// options below is the screen-saver-host form: embedded in a host's window (--root, --window-id),
// in a window of our own (--window), or stand-alone with options. The parser only reads text; it
// opens no display and checks no window.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/dx5/gl_display.h"

// The picture's size: the monitor's or window's own size, or a fixed one.
struct TPictureSize {
  bool Native = false;
  int32_t Width = 640;
  int32_t Height = 480;
  bool operator==(const TPictureSize&) const = default;
};

// Largest picture side; the surfaces of the display layer go no further.
constexpr int32_t kMaxPictureSide = 8192;

// Microseconds between scene steps unless --delay says otherwise.
constexpr uint32_t kDefaultStepDelayUs = 16000;
// The longest --delay accepted: one minute.
constexpr uint32_t kMaxStepDelayUs = 60'000'000;
// The most --threads accepted.
constexpr int kMaxThreads = 1024;

struct TSaverCommandLine {
  // True when the command line was in the host form (the fields below apply); false for the
  // classic forms, whose first argument is then in ClassicArgument.
  bool HostForm = false;
  std::string ClassicArgument;

  bool Root = false;                      // --root: $XSCREENSAVER_WINDOW, else the root window
  std::optional<unsigned long> WindowId;  // --window-id: wins over --root and the variable
  bool OwnWindow = false;                 // --window
  std::string Display;                    // --display; empty: $DISPLAY
  bool ShowFps = false;
  uint32_t StepDelayUs = kDefaultStepDelayUs;
  std::optional<TPictureSize> Size;
  std::optional<int> Threads;  // 0: every core
  std::optional<KlvRenderer> Renderer;
  bool Help = false;

  // Drawing into a window of a host or of our own rather than the stand-alone full screen.
  bool Embedded() const { return Root || WindowId.has_value() || OwnWindow; }
};

// Reads argv[1..argc-1]. False, with one line in `error`, for an unknown option, a missing value or
// a value out of range.
bool ParseSaverCommandLine(int argc, const char* const* argv, TSaverCommandLine& line, std::string& error);

// "640x480", "native" or "WIDTHxHEIGHT" with each side 1..kMaxPictureSide (decimal digits only).
std::optional<TPictureSize> ParsePictureSize(const std::string& text);
// A window id as C's strtoul(text, 0, 0) reads it ("0x40000F", "4194319", "020000017"), the whole
// text, not 0 and within 32 bits.
std::optional<unsigned long> ParseWindowId(const std::string& text);

// The usage text --help prints.
std::string SaverUsage(const std::string& program);
