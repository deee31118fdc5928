// Data folder lookup with non-throwing file checks.
#include "shell/data_folder.h"

#include <unistd.h>

#include <filesystem>
#include <system_error>

namespace {

// The current folder as a user would read it, for the list of folders tried.
std::string CurrentFolderName() {
  std::error_code error;
  const std::filesystem::path current = std::filesystem::current_path(error);
  return error ? std::string("the current folder") : current.string() + "/";
}

}  // namespace

bool ReadableFileExists(const std::string& path) noexcept {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error) || error) return false;
  return access(path.c_str(), R_OK) == 0;
}

std::vector<std::string> FallbackDataFolders(const std::string& programPath) {
  std::vector<std::string> folders{KLV_INSTALLED_DATA_DIR};
  if (!programPath.empty()) {
    const std::string beside = std::filesystem::path(programPath).parent_path().string() + "/";
    folders.push_back(beside + "../share/kalvor/");
    folders.push_back(beside + "data/");
  }
  return folders;
}

std::string RunningProgramPath() {
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : program.string();
}

bool FindDataFolder(const std::string& dataPath, const std::vector<std::string>& fallbacks, std::string& found,
                    std::vector<std::string>& tried) {
  tried.clear();
  if (!dataPath.empty()) {
    tried.push_back(dataPath);
    if (ReadableFileExists(dataPath + kDataMarkerFile)) {
      found = dataPath;
      return true;
    }
  }
  tried.push_back(CurrentFolderName());
  if (ReadableFileExists(kDataMarkerFile)) {
    found.clear();
    return true;
  }
  for (const std::string& folder : fallbacks) {
    tried.push_back(folder);
    if (ReadableFileExists(folder + kDataMarkerFile)) {
      found = folder;
      return true;
    }
  }
  return false;
}
