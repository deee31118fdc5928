// The saver's command line: which form it is, and the options of the host form.
#include "shell/saver_args.h"

#include <cerrno>
#include <cstdlib>
#include <limits>

namespace {

enum class Option { Root, WindowId, Window, Display, Mono, Install, Visual, Fps, Delay, Size, Threads, Renderer, Help };

struct OptionName {
  const char* name;
  Option option;
  bool takesValue;
};

// Hosts write them with one dash or two; both are accepted.
constexpr OptionName kOptions[] = {
    {"root", Option::Root, false},      {"window-id", Option::WindowId, true}, {"window", Option::Window, false},
    {"display", Option::Display, true}, {"mono", Option::Mono, false},         {"install", Option::Install, false},
    {"visual", Option::Visual, true},   {"fps", Option::Fps, false},           {"delay", Option::Delay, true},
    {"size", Option::Size, true},       {"threads", Option::Threads, true},    {"renderer", Option::Renderer, true},
    {"help", Option::Help, false},
};

// The switches that make the classic form's configuration mode wherever they appear.
constexpr const char* kConfigurationSwitches[] = {"/c", "-c", "/C", "-C"};

// "--name", "-name" or "--name=value": the option and, for the last form, its value.
const OptionName* FindOption(const std::string& argument, std::optional<std::string>& inlineValue) {
  if (argument.size() < 2 || argument[0] != '-') return nullptr;
  std::string name = argument.substr(argument[1] == '-' ? 2 : 1);
  inlineValue.reset();
  if (const size_t equals = name.find('='); argument[1] == '-' && equals != std::string::npos) {
    inlineValue = name.substr(equals + 1);
    name.resize(equals);
  }
  for (const OptionName& option : kOptions)
    if (name == option.name) return &option;
  return nullptr;
}

bool ContainsConfigurationSwitch(const std::string& argument) {
  for (const char* configuration : kConfigurationSwitches)
    if (argument.find(configuration) != std::string::npos) return true;
  return false;
}

// The host form starts with one of its options, or with "--" and no configuration switch (so an
// unknown long option is reported rather than taken as "any other argument").
bool IsHostForm(const std::string& first) {
  std::optional<std::string> value;
  if (FindOption(first, value) != nullptr) return true;
  return first.rfind("--", 0) == 0 && !ContainsConfigurationSwitch(first);
}

// A whole decimal number of digits only, no sign, within `limit`.
std::optional<uint64_t> ParseDecimal(const std::string& text, uint64_t limit) {
  if (text.empty() || text.size() > 19) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value > limit) return std::nullopt;
  return value;
}

bool Fail(std::string& error, const std::string& text) {
  error = text;
  return false;
}

bool ApplyValue(Option option, const std::string& value, TSaverCommandLine& line, std::string& error) {
  switch (option) {
    case Option::WindowId:
      line.WindowId = ParseWindowId(value);
      if (!line.WindowId) return Fail(error, "--window-id: \"" + value + "\" is not a window id (0x... or a number)");
      return true;
    case Option::Display: line.Display = value; return true;
    case Option::Visual: return true;
    case Option::Delay: {
      const auto delay = ParseDecimal(value, kMaxStepDelayUs);
      if (!delay) return Fail(error, "--delay: \"" + value + "\" is not a number of microseconds from 0 to 60000000");
      line.StepDelayUs = static_cast<uint32_t>(*delay);
      return true;
    }
    case Option::Size:
      line.Size = ParsePictureSize(value);
      if (!line.Size)
        return Fail(error, "--size: \"" + value + "\" is not 640x480, native or WIDTHxHEIGHT (1 to 8192 each)");
      return true;
    case Option::Threads: {
      const auto threads = ParseDecimal(value, kMaxThreads);
      if (!threads) return Fail(error, "--threads: \"" + value + "\" is not a number from 0 (every core) to 1024");
      line.Threads = static_cast<int>(*threads);
      return true;
    }
    case Option::Renderer: {
      KlvRenderer renderer = KlvRenderer::Auto;
      if (!ParseRenderer(value, &renderer))
        return Fail(error, "--renderer: \"" + value + "\" is not auto, software or gl");
      line.Renderer = renderer;
      return true;
    }
    default: return true;
  }
}

void ApplyFlag(Option option, TSaverCommandLine& line) {
  switch (option) {
    case Option::Root: line.Root = true; break;
    case Option::Window: line.OwnWindow = true; break;
    case Option::Fps: line.ShowFps = true; break;
    case Option::Help: line.Help = true; break;
    default: break;  // --mono and --install change nothing here
  }
}

}  // namespace

bool ParseSaverCommandLine(int argc, const char* const* argv, TSaverCommandLine& line, std::string& error) {
  line = TSaverCommandLine{};
  error.clear();
  if (argc < 2) return true;
  const std::string first = argv[1];
  if (!IsHostForm(first)) {
    line.ClassicArgument = first;
    return true;
  }
  line.HostForm = true;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    std::optional<std::string> inlineValue;
    const OptionName* option = FindOption(argument, inlineValue);
    if (option == nullptr) return Fail(error, "unknown option \"" + argument + "\" (see --help)");
    if (!option->takesValue) {
      if (inlineValue) return Fail(error, "--" + std::string(option->name) + " takes no value");
      ApplyFlag(option->option, line);
      continue;
    }
    if (!inlineValue) {
      if (i + 1 >= argc) return Fail(error, "--" + std::string(option->name) + " needs a value");
      inlineValue = argv[++i];
    }
    if (!ApplyValue(option->option, *inlineValue, line, error)) return false;
  }
  return true;
}

std::optional<TPictureSize> ParsePictureSize(const std::string& text) {
  if (text == "native") return TPictureSize{true, 0, 0};
  const size_t x = text.find('x');
  if (x == std::string::npos) return std::nullopt;
  const auto width = ParseDecimal(text.substr(0, x), kMaxPictureSide);
  const auto height = ParseDecimal(text.substr(x + 1), kMaxPictureSide);
  if (!width || !height || *width == 0 || *height == 0) return std::nullopt;
  return TPictureSize{false, static_cast<int32_t>(*width), static_cast<int32_t>(*height)};
}

std::optional<unsigned long> ParseWindowId(const std::string& text) {
  // strtoul would accept leading blanks and a sign; an id has neither.
  if (text.empty() || text[0] < '0' || text[0] > '9') return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const unsigned long id = std::strtoul(text.c_str(), &end, 0);
  if (errno != 0 || end == text.c_str() || *end != '\0') return std::nullopt;
  if (id == 0 || id > std::numeric_limits<uint32_t>::max()) return std::nullopt;
  return id;
}

std::string SaverUsage(const std::string& program) {
  return "Usage: " + program +
         " [/s | /c]\n"
         "       " +
         program +
         " [--root] [--window-id ID] [--window] [options]\n"
         "\n"
         "With no argument or /s (/S, -s, -S) the saver takes the whole screen and ends on a key press,\n"
         "a mouse move or a click; /c opens the settings program. The options below run it the way\n"
         "screen saver hosts (XScreenSaver, MATE, Xfce) do.\n"
         "\n"
         "  --root               draw into the window in $XSCREENSAVER_WINDOW, else the root window\n"
         "  --window-id ID       draw into window ID (0x40000F or decimal); wins over --root\n"
         "  --window             draw into a window of our own, as a host would\n"
         "  --display NAME       the X display to use (default $DISPLAY)\n"
         "  --fps                show the frames per second in a corner\n"
         "  --delay USEC         microseconds between scene steps (default 16000)\n"
         "  --size SIZE          picture size: 640x480, native or WIDTHxHEIGHT (default: native in a\n"
         "                       host's window, 640x480 or the DrawSize setting stand-alone)\n"
         "  --threads N          rendering threads, 0 for as many as the picture needs (default: the Threads setting)\n"
         "  --renderer NAME      auto, software or gl (default: the Renderer setting)\n"
         "  --mono, --install, --visual V   accepted and ignored\n"
         "  --help               show this text\n"
         "\n"
         "Every option may also be written with one dash (-root, -window-id ID).\n"
         "In a host's window the saver never ends on input; SIGTERM or SIGINT ends it.\n";
}
