// The command-line frame the tools share: "--help" or "-h" anywhere prints the tool's usage on
// standard output (status 0); a bad command line or any failure prints "tool: problem" on
// standard error (status 1), a bad command line with the usage after it.
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "platform/error.h"

namespace klvtools {

[[noreturn]] inline void UsageError(const std::string& problem, const char* usage) {
  throw KlvError(KlvErrorKind::OutOfRange, "command line", problem + "\n" + usage);
}

// `text` as a decimal whole number from `low` to `high`; a usage error for anything else.
inline long long WholeNumber(const std::string& text, const std::string& option, long long low, long long high,
                             const char* usage) {
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || *end != 0 || errno != 0 || value < low || value > high)
    UsageError("bad value '" + text + "' for " + option, usage);
  return value;
}

inline bool AsksForHelp(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) return true;
  return false;
}

// Runs `run` (which parses the command line and does the work) inside the shared frame.
template <typename Run>
int RunTool(const char* name, const char* usage, int argc, char** argv, Run run) {
  if (AsksForHelp(argc, argv)) {
    std::printf("%s\n", usage);
    return 0;
  }
  try {
    return run();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", name, e.what());
    return 1;
  }
}

}  // namespace klvtools
