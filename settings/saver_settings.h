// The saver's settings as the settings program edits them: the values of section [KalvorGSaver]
// and the device choice of section [KalvorG] under the key "Software\Kalvor_Soft". Reading them
// with their defaults, checking them, checking a data folder, and writing what changed. No window
// here, so all of it is tested without a display.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "display/klvenumwin.h"
#include "platform/win/registry.h"

constexpr char kSaverKey[] = "Software\\Kalvor_Soft";
constexpr char kSaverSection[] = "KalvorGSaver";
constexpr char kDeviceSection[] = "KalvorG";

// The device dialog's three stored values, with the defaults they read as when absent.
struct TDeviceChoice {
  int32_t Mode = kPolicyCustom;  // "Enum_Checkbox"
  int32_t Driver = 0;            // "DDraw_Device"
  int32_t Device = 2;            // "D3D_Device"
  bool Started = false;          // the dialog's "Start" set them: all three are written
  bool operator==(const TDeviceChoice&) const = default;
};

struct TSaverSettings {
  std::string DataPath;              // folder prefix of every data file: "" or ending with '/'
  std::string DrawSize = "640x480";  // "640x480", "native" or "WIDTHxHEIGHT"
  std::string Renderer = "auto";     // "auto", "software" or "gl"
  int Threads = 0;                   // 0: as many as the picture needs, up to one per core
  std::string TextureFilter = "nearest";
  TDeviceChoice Devices;
  bool operator==(const TSaverSettings&) const = default;
};

// Limits the settings program accepts for a picture size and a thread count.
constexpr int kMinDrawSide = 16;
constexpr int kMaxDrawSide = 16384;
constexpr int kMaxThreads = 256;

// The saver's data files; the folder is usable when it holds every one.
const std::vector<std::string>& RequiredDataFiles();

// Reads every value; an absent value, or one that is not valid, reads as its default.
TSaverSettings ReadSettings(const TRegIniFile& key);
// Writes the values that differ from what `key` holds (open it just before, so that is the file as
// it is now) (a value that is absent and equal to
// its default is left absent), so an unchanged form leaves the file as it is; the three device
// values are all written once the dialog's "Start" set them. Throws KlvError, naming the file and
// the reason, when the file cannot be written.
void WriteSettings(TRegIniFile& key, const TSaverSettings& settings);

// The folder as a DataPath prefix: "" stays "", anything else ends with exactly one '/'.
std::string FolderPrefix(const std::string& folder);

// Problems, as sentences for a person; empty when the value is valid.
std::string DrawSizeProblem(const std::string& drawSize);
std::string RendererProblem(const std::string& renderer);
std::string ThreadsProblem(int threads);
std::string TextureFilterProblem(const std::string& filter);

struct TDataFolderCheck {
  std::string Problem;               // the folder itself cannot be used ("" when it can be read)
  std::vector<std::string> Missing;  // required files it lacks, in the order of RequiredDataFiles
  bool Usable() const { return Problem.empty() && Missing.empty(); }
  // One sentence for the window: what is wrong, or that every file is there.
  std::string Summary() const;
};
// Checks the folder that a DataPath prefix names ("" is the current folder).
TDataFolderCheck CheckDataFolder(const std::string& dataPath);

// Every problem of the settings, one sentence each; empty when they can be written.
std::vector<std::string> SettingsProblems(const TSaverSettings& settings);

// The dialog's store inside the settings program: reads come from `choice`, "Start" writes into it
// (and sets its Started); nothing reaches the file until the settings are written.
std::unique_ptr<TChoiceStore> PendingChoiceStore(TDeviceChoice& choice);
