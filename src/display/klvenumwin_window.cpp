// The selection dialog as a real window: the settings program shows it in a child process and
// reports on its standard output how it closed; this side starts that process, reads the report
// and copies it into the dialog's model. The window's toolkit stays in the settings program, so
// this library links nothing above the platform.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "display/kalvorrm.h"
#include "display/klvenumwin.h"

extern char** environ;

namespace {

constexpr char kSettingsProgram[] = "kalvor-settings";
constexpr char kDialogOption[] = "--device-dialog";
// Overrides where the settings program is looked for (tests use it).
constexpr char kProgramVariable[] = "KLV_SETTINGS_PROGRAM";
// The settings program's exit status when it could not open a window.
constexpr int kNoWindowStatus = 3;

bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

// The settings program beside this executable (the build folder, or the installed bin folder),
// else the name alone, for a search along PATH.
std::string SettingsProgram() {
  if (const char* path = std::getenv(kProgramVariable); path != nullptr && *path != '\0') return path;
  char self[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length > 0) {
    std::string folder(self, static_cast<size_t>(length));
    folder.erase(folder.rfind('/') + 1);
    const std::string beside = folder + kSettingsProgram;
    if (access(beside.c_str(), X_OK) == 0) return beside;
  }
  return kSettingsProgram;
}

struct TChildResult {
  bool started = false;  // the process ran
  int status = -1;       // its exit status, -1 when it did not exit normally
  std::string output;
};

TChildResult RunDialogProgram() {
  TChildResult result;
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return result;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  std::string program = SettingsProgram();
  std::string option = kDialogOption;
  char* argv[] = {program.data(), option.data(), nullptr};
  pid_t child = 0;
  const int error = posix_spawnp(&child, program.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  if (error != 0) {
    close(pipeFds[0]);
    return result;
  }
  result.started = true;
  char buffer[256];
  for (;;) {
    const ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    result.output.append(buffer, static_cast<size_t>(n));
  }
  close(pipeFds[0]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  return result;
}

}  // namespace

std::string FormatDialogOutcome(const TKlvEnumWindow& window, bool hardwareDevice) {
  std::ostringstream line;
  line << window.Started << ' ' << window.Mode << ' ' << window.DDIndex << ' ' << window.D3DIndex << ' '
       << window.DlgColorModel << ' ' << (hardwareDevice ? 1 : 0) << '\n';
  return line.str();
}

bool ApplyDialogOutcome(TKlvEnumWindow& window, const std::string& line) {
  std::istringstream words(line);
  int32_t started = 0, mode = 0, driver = 0, device = 0, colorModel = 0, hardware = 0;
  std::string rest;
  if (!(words >> started >> mode >> driver >> device >> colorModel >> hardware) || (words >> rest)) return false;
  if ((started != 0 && started != 1) || (hardware != 0 && hardware != 1)) return false;
  // The lists show what the window showed; an index the lists do not have selects nothing.
  auto select = [](TListBox& list, int index) {
    list.ItemIndex = index >= 0 && index < static_cast<int>(list.Items.size()) ? index : -1;
  };
  select(window.ListBox1, driver);
  window.ListBox1Click(&window);
  select(window.ListBox2, device);
  window.Started = started;
  window.Mode = mode;
  window.DDIndex = driver;
  window.D3DIndex = device;
  window.DlgColorModel = colorModel;
  if (started == 1) KalvorRMUnit.HardwareDevice = hardware == 1;
  window.Visible = false;
  return true;
}

bool WindowPresenter(TKlvEnumWindow& window) {
  const TChildResult child = RunDialogProgram();
  if (!child.started || child.status == kNoWindowStatus || child.status == 127) return false;
  // A window that ended in any other way than a report counts as closed without "Start".
  if (child.status != 0 || !ApplyDialogOutcome(window, child.output)) window.Button2Click(&window);
  return true;
}

void DefaultPresenter(TKlvEnumWindow& window) {
  if (HasDisplay() && WindowPresenter(window)) return;
  TerminalPresenter(window);
}
