// The preview process: its scratch configuration, its start with the window to draw into, its
// end, and the last error it reported.
#include "preview.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/error.h"

namespace {

// The build's saver program, and the installed stand-alone command.
constexpr const char* kSaverNames[] = {"kalvor_saver", "kalvor-saver"};
constexpr char kSaverVariable[] = "KLV_SAVER_PROGRAM";
constexpr char kConfigVariable[] = "KLV_CONFIG_DIR";
constexpr char kErrorFile[] = "preview-errors.txt";
constexpr auto kStopGrace = std::chrono::seconds(2);
constexpr auto kStopPoll = std::chrono::milliseconds(10);

std::string FolderOfThisProgram() {
  char self[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) return "";
  std::string folder(self, static_cast<size_t>(length));
  return folder.erase(folder.rfind('/') + 1);
}

// Opens the key as the preview process will see it: the registry stand-in puts a key's file in
// $KLV_CONFIG_DIR, so the variable points at the scratch folder while the key is opened (the
// settings program runs on one thread).
void WriteScratchKey(const std::string& folder, const TSaverSettings& settings) {
  const char* previous = getenv(kConfigVariable);
  const std::string saved = previous ? previous : "";
  setenv(kConfigVariable, folder.c_str(), 1);
  {
    const TRegIniFile old(kSaverKey);
    unlink(old.FileName().c_str());
  }
  TRegIniFile key(kSaverKey);
  if (previous != nullptr)
    setenv(kConfigVariable, saved.c_str(), 1);
  else
    unsetenv(kConfigVariable);
  WriteSettings(key, settings);
}

// Runs in the child between fork and exec: end with the settings program, errors to a file.
void ChildSetup(gpointer errorFile) {
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  const int fd = open(static_cast<const char*>(errorFile), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd >= 0) dup2(fd, STDERR_FILENO);
}

std::string LastLine(const std::string& fileName) {
  std::ifstream in(fileName);
  std::string line, last;
  while (std::getline(in, line))
    if (!line.empty()) last = line;
  return last;
}

}  // namespace

std::string SaverProgram() {
  if (const char* path = getenv(kSaverVariable); path != nullptr && *path != '\0') return path;
  for (const char* name : kSaverNames) {
    const std::string beside = FolderOfThisProgram() + name;
    if (access(beside.c_str(), X_OK) == 0) return beside;
  }
  return kSaverNames[1];
}

TPreview::TPreview(EndHandler onEnd) : onEnd_(std::move(onEnd)) {
  std::string pattern = (g_get_tmp_dir() + std::string("/kalvor-preview-XXXXXX"));
  if (mkdtemp(pattern.data()) != nullptr) scratch_ = pattern;
}

TPreview::~TPreview() {
  Stop();
  if (scratch_.empty()) return;
  // The scratch folder is this preview's own: everything in it goes, the key's lock file as well
  // as the key and the error file, or the folder would stay behind in the temporary folder.
  std::error_code ignored;
  std::filesystem::remove_all(scratch_, ignored);
}

std::string TPreview::Start(unsigned long windowId, const TSaverSettings& settings) {
  Stop();
  if (scratch_.empty()) return "No scratch folder for the preview in " + std::string(g_get_tmp_dir()) + ".";
  try {
    WriteScratchKey(scratch_, settings);
  } catch (const KlvError& error) {
    return error.what();
  }
  const std::string program = SaverProgram();
  const std::string id = std::to_string(windowId);
  const gchar* argv[] = {program.c_str(), "--root", "--window-id", id.c_str(), nullptr};
  gchar** environment = g_environ_setenv(g_get_environ(), kConfigVariable, scratch_.c_str(), TRUE);
  std::string errorFile = scratch_ + "/" + kErrorFile;
  GPid pid = 0;
  GError* error = nullptr;
  const gboolean started = g_spawn_async(nullptr, const_cast<gchar**>(argv), environment,
                                         static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD),
                                         ChildSetup, errorFile.data(), &pid, &error);
  g_strfreev(environment);
  if (!started) {
    std::string reason = program + ": " + error->message;
    g_error_free(error);
    return reason;
  }
  pid_ = pid;
  watch_ = g_child_watch_add(pid, OnChildExit, this);
  return "";
}

void TPreview::OnChildExit(GPid pid, gint, gpointer data) {
  auto& self = *static_cast<TPreview*>(data);
  g_spawn_close_pid(pid);
  self.pid_ = 0;
  self.watch_ = 0;
  if (self.onEnd_) self.onEnd_(LastLine(self.scratch_ + "/" + kErrorFile));
}

void TPreview::Stop() {
  if (pid_ == 0) return;
  g_source_remove(watch_);
  watch_ = 0;
  kill(pid_, SIGTERM);
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + kStopGrace;
  while (waitpid(pid_, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(kStopPoll);
  }
  pid_ = 0;
}
