// Registry stand-in: the INI file behind one key, its location, its text encoding and its atomic
// rewrite.
//
// File layout: "[section]" lines open a section, "name=value" lines inside a section hold values.
// Names and values are trimmed of surrounding blanks when read. Bytes that would break a line or
// be trimmed are written as escapes, so every string reads back exactly: "\\" is a backslash,
// "\xHH" is the byte HH; any other backslash stands for itself, so hand-written Windows-style paths
// keep their backslashes. Lines starting with ';' or '#' are comments. A line that fits none of
// these, or a value line before the first valid section, is skipped; a file that cannot be read,
// holds a NUL byte or is implausibly large reads as empty.
#include "platform/win/registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/error.h"
#include "platform/win/winstate.h"

namespace {

using Sections = std::map<std::string, std::map<std::string, std::string>>;

constexpr std::streamsize kMaxFileBytes = 1 << 20;
constexpr char kBlanks[] = " \t";

std::string EnvOrEmpty(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

std::string HomeFolder() {
  std::string home = EnvOrEmpty("HOME");
  if (!home.empty()) return home;
  const passwd* entry = getpwuid(getuid());
  return entry && entry->pw_dir ? std::string(entry->pw_dir) : std::string(".");
}

std::string ConfigFolder() {
  std::string folder = EnvOrEmpty("KLV_CONFIG_DIR");
  if (!folder.empty()) return folder;
  std::string xdg = EnvOrEmpty("XDG_CONFIG_HOME");
  // The XDG rules ignore a relative XDG_CONFIG_HOME.
  if (xdg.empty() || xdg.front() != '/') xdg = HomeFolder() + "/.config";
  return xdg + "/kalvor";
}

// "Software\\Kalvor_Soft" -> "Software_Kalvor_Soft.ini": separators and anything outside a
// conservative file-name alphabet become '_'.
std::string FileNameForKey(const std::string& key) {
  std::string name;
  for (char c : key) {
    bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                c == '_' || c == '.';
    name += keep ? c : '_';
  }
  return name + ".ini";
}

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return c - 'A' + 10;
}

// Escapes what the line syntax gives a meaning to: control bytes, backslashes, blanks at either
// end (they would be trimmed) and, in names and section names, the characters '=', '[', ']' and a
// leading comment mark.
std::string Encode(const std::string& text, bool isName) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    bool atEdge = i == 0 || i + 1 == text.size();
    bool special = c < 0x20 || c == 0x7F || (atEdge && c == ' ') ||
                   (isName && (c == '=' || c == '[' || c == ']' || (i == 0 && (c == ';' || c == '#'))));
    if (c == '\\') {
      out += "\\\\";
    } else if (special) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string Decode(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '\\') {
      out += '\\';
      ++i;
    } else if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' && IsHexDigit(text[i + 2]) &&
               IsHexDigit(text[i + 3])) {
      out += static_cast<char>(HexValue(text[i + 2]) * 16 + HexValue(text[i + 3]));
      i += 3;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string Trim(const std::string& text) {
  size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string::npos) return std::string();
  size_t last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

Sections Parse(const std::string& text) {
  Sections sections;
  std::istringstream lines(text);
  std::string line;
  std::map<std::string, std::string>* current = nullptr;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string trimmed = Trim(line);
    if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '#') continue;
    if (trimmed.front() == '[') {
      // A malformed header leaves the following values without a section, so they are skipped
      // rather than credited to the section before it.
      bool closed = trimmed.back() == ']' && trimmed.size() >= 2;
      current = closed ? &sections[Decode(Trim(trimmed.substr(1, trimmed.size() - 2)))] : nullptr;
      continue;
    }
    size_t equals = trimmed.find('=');
    if (current == nullptr || equals == std::string::npos) continue;
    std::string name = Decode(Trim(trimmed.substr(0, equals)));
    // As with Windows profile files, the first of two equal names wins.
    current->emplace(name, Decode(Trim(trimmed.substr(equals + 1))));
  }
  return sections;
}

Sections Load(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  if (!in) return {};
  std::string text;
  char buffer[4096];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    text.append(buffer, static_cast<size_t>(in.gcount()));
    if (static_cast<std::streamsize>(text.size()) > kMaxFileBytes) return {};
  }
  if (in.bad() || text.find('\0') != std::string::npos) return {};
  return Parse(text);
}

std::string Serialise(const Sections& sections) {
  std::string text;
  for (const auto& [section, values] : sections) {
    text += "[" + Encode(section, true) + "]\n";
    for (const auto& [name, value] : values) text += Encode(name, true) + "=" + Encode(value, false) + "\n";
    text += "\n";
  }
  return text;
}

void MakeFolders(const std::string& folder) {
  for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    std::string prefix = folder.substr(0, slash);
    if (mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST)
      throw KlvError(KlvErrorKind::FileOpen, prefix, std::string("cannot create folder: ") + std::strerror(errno));
    if (slash == std::string::npos) return;
  }
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Writes beside the target and renames over it: readers and a crash see either the old or the
// new file, never a part of one.
void WriteAtomically(const std::string& fileName, const std::string& text) {
  std::string temp = fileName + ".tmp." + std::to_string(getpid());
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) throw KlvError(KlvErrorKind::FileOpen, fileName, std::string("cannot write: ") + std::strerror(errno));
  bool written = WriteAll(fd, text) && fsync(fd) == 0;
  int savedErrno = errno;
  written = close(fd) == 0 && written;
  if (!written || rename(temp.c_str(), fileName.c_str()) != 0) {
    if (written) savedErrno = errno;
    unlink(temp.c_str());
    throw KlvError(KlvErrorKind::FileOpen, fileName, std::string("cannot write: ") + std::strerror(savedErrno));
  }
}

}  // namespace

TRegIniFile::TRegIniFile(const std::string& key)
    : fileName_(ConfigFolder() + "/" + FileNameForKey(key)), sections_(Load(fileName_)) {}

std::string TRegIniFile::ReadString(const std::string& section, const std::string& name,
                                    const std::string& defaultValue) const {
  auto values = sections_.find(section);
  if (values == sections_.end()) return defaultValue;
  auto value = values->second.find(name);
  return value == values->second.end() ? defaultValue : value->second;
}

int TRegIniFile::ReadInteger(const std::string& section, const std::string& name, int defaultValue) const {
  std::string text = ReadString(section, name, std::string());
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (first != last && *first == '+') ++first;
  if (first == last || *first == '+') return defaultValue;
  int value = 0;
  auto [end, error] = std::from_chars(first, last, value, 10);
  return error == std::errc() && end == last ? value : defaultValue;
}

void TRegIniFile::WriteString(const std::string& section, const std::string& name, const std::string& value) {
  // Start from the file as it is now, so values another process wrote since the key was opened
  // are kept.
  sections_ = Load(fileName_);
  sections_[section][name] = value;
  Save();
}

void TRegIniFile::WriteInteger(const std::string& section, const std::string& name, int value) {
  WriteString(section, name, std::to_string(value));
}

void TRegIniFile::Save() const {
  if (WinState().registryReadOnly) return;
  MakeFolders(fileName_.substr(0, fileName_.rfind('/')));
  WriteAtomically(fileName_, Serialise(sections_));
}

void SetRegistryReadOnly(bool readOnly) { WinState().registryReadOnly = readOnly; }
