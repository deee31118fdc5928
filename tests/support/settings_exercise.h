// One settings file and one write, both taken from a byte string, checked against what the settings
// store promises: a file the reader refuses is left byte for byte; otherwise the value reads back
// exactly, another value reads as before, every line of the old file is still there in its order
// except the one line the value replaced, and no temporary file is left. Shared by the seeded
// randomised test and the libFuzzer harness; both set KLV_CONFIG_DIR to a private folder first.
#pragma once

#include <dirent.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/win/registry.h"

namespace settings_exercise {

constexpr char kKey[] = "Software\\Kalvor_Soft";
constexpr size_t kNameBytes = 5;  // lengths of the section, name and value written, and of another section and name

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (char c : text) {
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

inline std::string ReadWhole(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline size_t EntriesIn(const std::string& folder) {
  size_t entries = 0;
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* entry = readdir(dir)) entries += entry->d_name[0] != '.';
    closedir(dir);
  }
  return entries;
}

// True when `after` is `before` with one line replaced, or with up to three lines (a value line,
// a blank line and a header) put in at one place: what is left of the old lines stays together
// at both ends.
inline bool KeepsTheOldLines(const std::vector<std::string>& before, const std::vector<std::string>& after) {
  if (after.size() < before.size() || after.size() > before.size() + 3) return false;
  size_t prefix = 0;
  while (prefix < before.size() && before[prefix] == after[prefix]) ++prefix;
  size_t suffix = 0;
  while (suffix < before.size() - prefix && before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix])
    ++suffix;
  const size_t kept = prefix + suffix;
  return after.size() == before.size() ? kept + 1 >= before.size() : kept == before.size();
}

// Writes the file and makes the write described by `data`; an empty string when every promise
// held, else what broke.
inline std::string Run(const std::string& folder, const uint8_t* data, size_t size) {
  size_t at = 0;
  auto take = [&](size_t count) {
    std::string out;
    for (; count > 0 && at < size; --count) out += static_cast<char>(data[at++]);
    return out;
  };
  size_t lengths[kNameBytes] = {};
  for (size_t& length : lengths) length = at < size ? data[at++] % 16 : 0;
  const std::string section = take(lengths[0]);
  const std::string name = take(lengths[1]);
  const std::string value = take(lengths[2]);
  const std::string otherSection = take(lengths[3]);
  const std::string otherName = take(lengths[4]);
  const std::string text = take(size);

  const std::string fileName = folder + "/Software_Kalvor_Soft.ini";
  std::ofstream(fileName, std::ios::binary | std::ios::trunc) << text;
  const bool refused = text.find('\0') != std::string::npos;
  const std::string absent =
      "\x01"
      "absent";
  TRegIniFile reg(kKey);
  const std::string otherBefore = reg.ReadString(otherSection, otherName, absent);
  try {
    reg.WriteString(section, name, value);
  } catch (const KlvError& e) {
    if (!refused) return std::string("a plain file was refused: ") + e.what();
    if (ReadWhole(fileName) != text) return "a refused file was changed";
    return std::string();
  }
  if (refused) return "a file with a NUL byte was rewritten";
  const std::string after = ReadWhole(fileName);
  const TRegIniFile again(kKey);
  if (again.ReadString(section, name, absent) != value) return "the value does not read back";
  if (reg.ReadString(section, name, absent) != value) return "the writer does not read its own value";
  if ((otherSection != section || otherName != name) &&
      again.ReadString(otherSection, otherName, absent) != otherBefore)
    return "another value changed";
  if (!KeepsTheOldLines(Lines(text), Lines(after))) return "lines of the old file were lost";
  if (EntriesIn(folder) != 2) return "files besides the settings file and its lock were left";
  return std::string();
}

}  // namespace settings_exercise
