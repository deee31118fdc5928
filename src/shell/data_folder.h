// Where the saver finds its data: the DataPath setting, else the current folder, else the folder
// the install put the data in, else the folder beside the program (which also makes a build tree
// run). Every check is a plain "is this file there and readable" that never throws, whatever the
// path (a symlink loop, a name longer than the system allows).
#pragma once

#include <string>
#include <vector>

// The file whose presence marks a data folder.
constexpr char kDataMarkerFile[] = "meta.bmp";

// True when `path` names a regular file (after links) that this process may read; false for
// anything else, including paths that cannot be resolved.
bool ReadableFileExists(const std::string& path) noexcept;

// The folders after the DataPath setting and the current folder, as prefixes ending in '/': the
// installed data folder compiled into the program, then "<program folder>/../share/kalvor/" and
// "<program folder>/data/" (the build tree). `programPath` is the running program's file (empty:
// none beside it).
std::vector<std::string> FallbackDataFolders(const std::string& programPath);

// The running program's own file ("/proc/self/exe"), or empty when it cannot be read.
std::string RunningProgramPath();

// The first of `dataPath` (a prefix as stored, empty meaning the current folder), the current
// folder ("") and each of `fallbacks` that holds a readable kDataMarkerFile, as the prefix to put
// before file names. `tried` receives every folder looked at, in order, as a user would read it.
// False when none holds it.
bool FindDataFolder(const std::string& dataPath, const std::vector<std::string>& fallbacks, std::string& found,
                    std::vector<std::string>& tried);
