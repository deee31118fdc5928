// The saver's settings: names, defaults, checks and the write of what changed.
#include "saver_settings.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

namespace {

constexpr char kDataPathValue[] = "DataPath";
constexpr char kDrawSizeValue[] = "DrawSize";
constexpr char kRendererValue[] = "Renderer";
constexpr char kThreadsValue[] = "Threads";
constexpr char kTextureFilterValue[] = "TextureFilter";
constexpr char kModeValue[] = "Enum_Checkbox";
constexpr char kDriverValue[] = "DDraw_Device";
constexpr char kDeviceValue[] = "D3D_Device";

const std::vector<std::string> kRenderers = {"auto", "software", "gl"};
const std::vector<std::string> kTextureFilters = {"nearest", "bilinear"};

bool OneOf(const std::string& value, const std::vector<std::string>& allowed) {
  for (const std::string& a : allowed)
    if (value == a) return true;
  return false;
}

// A whole decimal number without sign, or nullopt.
std::optional<int> Whole(std::string_view text) {
  int value = 0;
  if (text.empty() || text.front() == '+' || text.front() == '-') return std::nullopt;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::string ValueOr(const std::string& value, const std::string& fallback, bool valid) {
  return valid ? value : fallback;
}

// Writes `value` unless the key already holds it, or holds nothing and `value` is the default
// (and `always` is false).
void WriteIfChanged(TRegIniFile& key, const char* section, const char* name, const std::string& value,
                    const std::string& defaultValue, bool always = false) {
  constexpr char kAbsent[] = "\x01";  // cannot come from a file: control bytes are escaped there
  const std::string stored = key.ReadString(section, name, kAbsent);
  if (stored == value || (stored == kAbsent && value == defaultValue && !always)) return;
  key.WriteString(section, name, value);
}

std::string Joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
  return text;
}

}  // namespace

const std::vector<std::string>& RequiredDataFiles() {
  static const std::vector<std::string> files = {"meta.bmp", "maphi.bmp",   "sky.klv",   "ki3.klv",
                                                 "f3f.klv",  "wfgshou.klv", "tate2.klv", "fugu4.klv"};
  return files;
}

TSaverSettings ReadSettings(const TRegIniFile& key) {
  const TSaverSettings defaults;
  TSaverSettings s;
  s.DataPath = key.ReadString(kSaverSection, kDataPathValue, "");
  const std::string drawSize = key.ReadString(kSaverSection, kDrawSizeValue, defaults.DrawSize);
  s.DrawSize = ValueOr(drawSize, defaults.DrawSize, DrawSizeProblem(drawSize).empty());
  const std::string renderer = key.ReadString(kSaverSection, kRendererValue, defaults.Renderer);
  s.Renderer = ValueOr(renderer, defaults.Renderer, RendererProblem(renderer).empty());
  const int threads = key.ReadInteger(kSaverSection, kThreadsValue, defaults.Threads);
  s.Threads = ThreadsProblem(threads).empty() ? threads : defaults.Threads;
  const std::string filter = key.ReadString(kSaverSection, kTextureFilterValue, defaults.TextureFilter);
  s.TextureFilter = ValueOr(filter, defaults.TextureFilter, TextureFilterProblem(filter).empty());
  s.Devices.Mode = key.ReadInteger(kDeviceSection, kModeValue, defaults.Devices.Mode);
  s.Devices.Driver = key.ReadInteger(kDeviceSection, kDriverValue, defaults.Devices.Driver);
  s.Devices.Device = key.ReadInteger(kDeviceSection, kDeviceValue, defaults.Devices.Device);
  return s;
}

void WriteSettings(TRegIniFile& key, const TSaverSettings& s) {
  const TSaverSettings d;
  WriteIfChanged(key, kSaverSection, kDataPathValue, s.DataPath, d.DataPath);
  WriteIfChanged(key, kSaverSection, kDrawSizeValue, s.DrawSize, d.DrawSize);
  WriteIfChanged(key, kSaverSection, kRendererValue, s.Renderer, d.Renderer);
  WriteIfChanged(key, kSaverSection, kThreadsValue, std::to_string(s.Threads), std::to_string(d.Threads));
  WriteIfChanged(key, kSaverSection, kTextureFilterValue, s.TextureFilter, d.TextureFilter);
  const bool started = s.Devices.Started;
  WriteIfChanged(key, kDeviceSection, kModeValue, std::to_string(s.Devices.Mode), std::to_string(d.Devices.Mode),
                 started);
  WriteIfChanged(key, kDeviceSection, kDriverValue, std::to_string(s.Devices.Driver), std::to_string(d.Devices.Driver),
                 started);
  WriteIfChanged(key, kDeviceSection, kDeviceValue, std::to_string(s.Devices.Device), std::to_string(d.Devices.Device),
                 started);
}

std::string FolderPrefix(const std::string& folder) {
  if (folder.empty()) return folder;
  const size_t last = folder.find_last_not_of('/');
  if (last == std::string::npos) return "/";
  return folder.substr(0, last + 1) + "/";
}

std::string DrawSizeProblem(const std::string& drawSize) {
  if (drawSize == "640x480" || drawSize == "native") return "";
  const size_t x = drawSize.find('x');
  const auto width = Whole(std::string_view(drawSize).substr(0, x == std::string::npos ? drawSize.size() : x));
  const auto height = x == std::string::npos ? std::nullopt : Whole(std::string_view(drawSize).substr(x + 1));
  if (!width || !height)
    return "Picture size \"" + drawSize + "\" is not 640x480, native or WIDTHxHEIGHT (for example 800x600).";
  if (*width < kMinDrawSide || *height < kMinDrawSide || *width > kMaxDrawSide || *height > kMaxDrawSide)
    return "Picture size " + drawSize + " is outside " + std::to_string(kMinDrawSide) + " to " +
           std::to_string(kMaxDrawSide) + " pixels per side.";
  return "";
}

std::string RendererProblem(const std::string& renderer) {
  return OneOf(renderer, kRenderers) ? "" : "Renderer \"" + renderer + "\" is not one of " + Joined(kRenderers) + ".";
}

std::string ThreadsProblem(int threads) {
  if (threads >= 0 && threads <= kMaxThreads) return "";
  return "Thread count " + std::to_string(threads) + " is outside 0 (as the picture needs) to " +
         std::to_string(kMaxThreads) + ".";
}

std::string TextureFilterProblem(const std::string& filter) {
  return OneOf(filter, kTextureFilters)
             ? ""
             : "Texture filter \"" + filter + "\" is not one of " + Joined(kTextureFilters) + ".";
}

std::string TDataFolderCheck::Summary() const {
  if (!Problem.empty()) return Problem;
  if (!Missing.empty()) return "The data folder lacks " + Joined(Missing) + ".";
  return "The data folder holds every file the saver needs.";
}

TDataFolderCheck CheckDataFolder(const std::string& dataPath) {
  TDataFolderCheck check;
  const std::string folder = dataPath.empty() ? "." : dataPath;
  const std::string shown = dataPath.empty() ? "The current folder" : "The data folder " + dataPath;
  struct stat info {};
  if (stat(folder.c_str(), &info) != 0) {
    check.Problem = shown + " cannot be used: " + std::strerror(errno) + ".";
    return check;
  }
  if (!S_ISDIR(info.st_mode)) {
    check.Problem = shown + " is not a folder.";
    return check;
  }
  // Listing needs read permission, opening files in it needs search permission.
  DIR* listing = opendir(folder.c_str());
  if (listing == nullptr || access(folder.c_str(), X_OK) != 0) {
    check.Problem = shown + " cannot be read: " + std::strerror(errno) + ".";
    if (listing != nullptr) closedir(listing);
    return check;
  }
  closedir(listing);
  for (const std::string& name : RequiredDataFiles()) {
    const std::string path = FolderPrefix(folder) + name;
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || access(path.c_str(), R_OK) != 0)
      check.Missing.push_back(name);
  }
  return check;
}

std::vector<std::string> SettingsProblems(const TSaverSettings& s) {
  std::vector<std::string> problems;
  const TDataFolderCheck folder = CheckDataFolder(s.DataPath);
  if (!folder.Usable()) problems.push_back(folder.Summary());
  for (const std::string& problem : {DrawSizeProblem(s.DrawSize), RendererProblem(s.Renderer),
                                     ThreadsProblem(s.Threads), TextureFilterProblem(s.TextureFilter)})
    if (!problem.empty()) problems.push_back(problem);
  return problems;
}

namespace {

class TPendingStore : public TChoiceStore {
 public:
  explicit TPendingStore(TDeviceChoice& choice) : choice_(choice) {}
  int ReadInteger(const std::string& section, const std::string& name, int defaultValue) const override {
    if (section != kDeviceSection) return defaultValue;
    if (name == kModeValue) return choice_.Mode;
    if (name == kDriverValue) return choice_.Driver;
    if (name == kDeviceValue) return choice_.Device;
    return defaultValue;
  }
  void WriteInteger(const std::string& section, const std::string& name, int value) override {
    if (section != kDeviceSection) return;
    choice_.Started = true;
    if (name == kModeValue) choice_.Mode = value;
    if (name == kDriverValue) choice_.Driver = value;
    if (name == kDeviceValue) choice_.Device = value;
  }

 private:
  TDeviceChoice& choice_;
};

}  // namespace

std::unique_ptr<TChoiceStore> PendingChoiceStore(TDeviceChoice& choice) {
  return std::make_unique<TPendingStore>(choice);
}
