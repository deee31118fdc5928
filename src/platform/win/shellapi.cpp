// Shell launch stand-in built on posix_spawn, with the working folder set by the spawn's own
// file action so that no shell and no fork of this (possibly large) process is involved.
#include "platform/win/shellapi.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

std::vector<std::string> SplitParameters(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  bool quoted = false;
  for (char c : text) {
    if (c == '"') {
      quoted = !quoted;
      inWord = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(word);
  return words;
}

HINSTANCE ResultForErrno(int error) {
  switch (error) {
    case ENOENT: return SE_ERR_FNF;
    case EACCES:
    case EPERM: return SE_ERR_ACCESSDENIED;
    case ENOEXEC: return SE_ERR_NOASSOC;
    default: return SE_ERR_OOM;
  }
}

}  // namespace

HINSTANCE ShellExecuteA(HWND, const char* operation, const char* file, const char* parameters, const char* directory,
                        int) {
  if (operation != nullptr && std::strcmp(operation, "open") != 0) return SE_ERR_NOASSOC;
  if (file == nullptr || *file == '\0') return SE_ERR_FNF;
  std::string folder = directory ? directory : "";
  struct stat info {};
  if (!folder.empty() && (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))) return SE_ERR_PNF;
  std::string program = file;
  if (program.front() != '/' && !folder.empty()) program = folder + "/" + program;
  if (stat(program.c_str(), &info) != 0) return SE_ERR_FNF;
  if (!S_ISREG(info.st_mode)) return SE_ERR_ACCESSDENIED;

  std::vector<std::string> words = SplitParameters(parameters ? parameters : "");
  words.insert(words.begin(), file);
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  pid_t child = 0;
  // After the change of folder the child runs the program by its path as seen from there.
  std::string pathInChild = folder.empty() || program.front() == '/' ? program : std::string(file);
  if (pathInChild.find('/') == std::string::npos) pathInChild = "./" + pathInChild;
  int error = posix_spawn(&child, pathInChild.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) return ResultForErrno(error);
  std::thread([child] {
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return kShellExecuteSuccess;
}
