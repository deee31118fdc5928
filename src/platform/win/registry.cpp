// Registry stand-in: the INI file behind one key, its location, its text encoding and its safe
// rewrite.
//
// File layout: "[section]" lines open a section, "name=value" lines inside a section hold values.
// Names and values are trimmed of surrounding blanks when read. Bytes that would break a line or
// be trimmed are written as escapes, so every string reads back exactly: "\\" is a backslash,
// "\xHH" is the byte HH; any other backslash stands for itself, so hand-written Windows-style paths
// keep their backslashes. Lines starting with ';' or '#' are comments. A line that fits none of
// these, or a value line before the first valid section, is skipped when read; a file that cannot
// be read, holds a NUL byte or is larger than 1 MiB reads as empty.
//
// A write changes one line of the file as it is on disk (or adds a line, or a section) and keeps
// every other line byte for byte: comments, lines the reader skips, the order of sections. A file
// the reader refuses is never rewritten. Writers of one file take turns through an flock on
// "<file>.lock" and re-read the file under the lock, so concurrent writers keep each other's values.
#include "platform/win/registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/error.h"
#include "platform/win/winstate.h"

namespace {

using Sections = std::map<std::string, std::map<std::string, std::string>>;

constexpr size_t kMaxFileBytes = 1 << 20;
// Symbolic links followed from the settings file to the file it stands for, as many as the kernel follows.
constexpr int kMaxLinkHops = 40;
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
    bool keep =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
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

// What one line of the file is to the reader.
struct Line {
  enum Kind { Other, Header, BrokenHeader, Value } kind = Other;
  std::string name;  // decoded section name (Header) or value name (Value)
  std::string value;
};

Line ClassifyLine(std::string text) {
  if (!text.empty() && text.back() == '\r') text.pop_back();
  const std::string trimmed = Trim(text);
  if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '#') return Line{};
  if (trimmed.front() == '[') {
    if (trimmed.back() != ']' || trimmed.size() < 2) return Line{Line::BrokenHeader, {}, {}};
    return Line{Line::Header, Decode(Trim(trimmed.substr(1, trimmed.size() - 2))), {}};
  }
  const size_t equals = trimmed.find('=');
  if (equals == std::string::npos) return Line{};
  return Line{Line::Value, Decode(Trim(trimmed.substr(0, equals))), Decode(Trim(trimmed.substr(equals + 1)))};
}

bool Blank(const std::string& line) { return line.find_first_not_of(" \t\r") == std::string::npos; }

bool OpensSection(const Line& line) { return line.kind == Line::Header || line.kind == Line::BrokenHeader; }

// The file's lines without their '\n'; a last line without one is still a line.
std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

Sections Parse(const std::string& text) {
  Sections sections;
  // A malformed header leaves the following values without a section, so they are skipped rather
  // than credited to the section before it.
  std::map<std::string, std::string>* current = nullptr;
  for (const std::string& raw : SplitLines(text)) {
    const Line line = ClassifyLine(raw);
    if (OpensSection(line)) current = line.kind == Line::Header ? &sections[line.name] : nullptr;
    // As with Windows profile files, the first of two equal names wins.
    if (line.kind == Line::Value && current != nullptr) current->emplace(line.name, line.value);
  }
  return sections;
}

// `text` with `section`'s value `name` set to `value`: the line the reader takes the value from is
// replaced; else the value goes after the last line of the first section of that name; else a new
// section goes at the end. Every other line stays as it was.
std::string WithValue(const std::string& text, const std::string& section, const std::string& name,
                      const std::string& value) {
  std::vector<std::string> lines = SplitLines(text);
  // A Windows line end ("\r\n") stays one, and a new line takes the line end of the line above it.
  auto lineEndOf = [&lines](size_t i) { return i < lines.size() && lines[i].ends_with('\r') ? "\r" : ""; };
  const std::string valueLine = Encode(name, true) + "=" + Encode(value, false);
  bool inSection = false;
  size_t firstHeader = lines.size();
  size_t found = lines.size();
  for (size_t i = 0; i < lines.size() && found == lines.size(); ++i) {
    const Line line = ClassifyLine(lines[i]);
    if (OpensSection(line)) inSection = line.kind == Line::Header && line.name == section;
    if (inSection && firstHeader == lines.size()) firstHeader = i;
    if (inSection && line.kind == Line::Value && line.name == name) found = i;
  }
  if (found < lines.size()) {
    lines[found] = valueLine + lineEndOf(found);
  } else if (firstHeader < lines.size()) {
    // Below the section's last line that is not blank, so blank lines between sections stay put.
    size_t insertAt = firstHeader + 1;
    for (size_t i = firstHeader + 1; i < lines.size() && !OpensSection(ClassifyLine(lines[i])); ++i)
      if (!Blank(lines[i])) insertAt = i + 1;
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), valueLine + lineEndOf(insertAt - 1));
  } else {
    const std::string lineEnd = lineEndOf(lines.size() - 1);
    if (!lines.empty() && !Blank(lines.back())) lines.push_back(lineEnd);
    lines.push_back("[" + Encode(section, true) + "]" + lineEnd);
    lines.push_back(valueLine + lineEnd);
  }
  std::string out;
  for (const std::string& line : lines) out += line + "\n";
  return out;
}

// The settings file's text, or why the reader refuses it. A missing file is an empty one.
struct FileText {
  enum Status { Ok, Unreadable, TooLarge, HasNul } status = Ok;
  std::string text;
  int error = 0;  // errno, for Unreadable
};

FileText ReadFileText(const std::string& fileName) {
  FileText result;
  const int fd = open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno != ENOENT) result = FileText{FileText::Unreadable, {}, errno};
    return result;
  }
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      result = FileText{FileText::Unreadable, {}, errno};
      break;
    }
    if (n == 0) break;
    result.text.append(buffer, static_cast<size_t>(n));
    if (result.text.size() > kMaxFileBytes) {
      result = FileText{FileText::TooLarge, {}, 0};
      break;
    }
  }
  close(fd);
  if (result.status == FileText::Ok && result.text.find('\0') != std::string::npos)
    result = FileText{FileText::HasNul, {}, 0};
  return result;
}

Sections Load(const std::string& fileName) {
  const FileText file = ReadFileText(fileName);
  return file.status == FileText::Ok ? Parse(file.text) : Sections{};
}

// Why a file the reader refuses is left alone, as the error a write raises.
KlvError RefusedFile(const std::string& fileName, const FileText& file) {
  const std::string kept = "; it is left as it is and the value is not stored";
  switch (file.status) {
    case FileText::TooLarge:
      return KlvError(KlvErrorKind::Capacity, fileName, "larger than 1 MiB, not a settings file" + kept);
    case FileText::HasNul: return KlvError(KlvErrorKind::BadFormat, fileName, "holds a NUL byte, not text" + kept);
    default:
      return KlvError(KlvErrorKind::FileOpen, fileName,
                      std::string("cannot be read: ") + std::strerror(file.error) + kept);
  }
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a write replaces: the settings file itself, or the file its chain of symbolic links
// ends at (which need not exist yet), so the link stays a link.
std::string LinkTarget(const std::string& fileName) {
  std::string path = fileName;
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    std::vector<char> target(static_cast<size_t>(info.st_size > 0 ? info.st_size : 255) + 1);
    const ssize_t n = readlink(path.c_str(), target.data(), target.size());
    if (n < 0 || static_cast<size_t>(n) >= target.size())
      throw KlvError(KlvErrorKind::FileOpen, fileName, "cannot follow its symbolic link " + path);
    const std::string next(target.data(), static_cast<size_t>(n));
    path = next.front() == '/' ? next : FolderOf(path) + "/" + next;
  }
  throw KlvError(KlvErrorKind::FileOpen, fileName, "too many symbolic links");
}

// Makes the folders on the way to `fileName`.
void MakeFolders(const std::string& fileName) {
  const std::string folder = FolderOf(fileName);
  for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    std::string prefix = folder.substr(0, slash);
    if (mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST)
      throw KlvError(KlvErrorKind::FileOpen, fileName,
                     "cannot create the folder " + prefix + ": " + std::strerror(errno));
    if (slash == std::string::npos) return;
  }
}

// An exclusive flock on "<file>.lock", held for its lifetime. The lock file stays: removing it
// would let a later writer lock a new file while an earlier one still holds the old.
class WriterLock {
 public:
  WriterLock(const std::string& target, const std::string& fileName) {
    const std::string lockName = target + ".lock";
    fd_ = open(lockName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0)
      throw KlvError(KlvErrorKind::FileOpen, fileName,
                     "cannot open the lock file " + lockName + ": " + std::strerror(errno));
    while (flock(fd_, LOCK_EX) != 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      close(fd_);
      throw KlvError(KlvErrorKind::FileOpen, fileName, "cannot lock " + lockName + ": " + std::strerror(error));
    }
  }
  ~WriterLock() { close(fd_); }
  WriterLock(const WriterLock&) = delete;
  WriterLock& operator=(const WriterLock&) = delete;

 private:
  int fd_ = -1;
};

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

// Writes a uniquely named file beside `target` and renames it over `target`: readers and a crash
// see either the old or the new file, never a part of one. The new file keeps the old one's
// permissions.
void WriteAtomically(const std::string& target, const std::string& fileName, const std::string& text) {
  std::string temp = target + ".tmp.XXXXXX";
  const int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) throw KlvError(KlvErrorKind::FileOpen, fileName, std::string("cannot write: ") + std::strerror(errno));
  struct stat old {};
  bool written =
      (stat(target.c_str(), &old) != 0 || fchmod(fd, old.st_mode & 07777) == 0) && WriteAll(fd, text) && fsync(fd) == 0;
  int savedErrno = errno;
  written = close(fd) == 0 && written;
  if (!written || rename(temp.c_str(), target.c_str()) != 0) {
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
  // An embedded saver (one of several, one per monitor) keeps what it would store to itself.
  if (WinState().registryReadOnly) {
    sections_[section][name] = value;
    return;
  }
  MakeFolders(fileName_);
  const std::string target = LinkTarget(fileName_);
  const WriterLock lock(target, fileName_);
  // The file as it is now, under the lock: values other writers stored since this key was opened
  // are kept.
  const FileText file = ReadFileText(target);
  if (file.status != FileText::Ok) throw RefusedFile(fileName_, file);
  const std::string text = WithValue(file.text, section, name, value);
  if (text.size() > kMaxFileBytes)
    throw KlvError(KlvErrorKind::Capacity, fileName_, "the value would make the file larger than 1 MiB; not stored");
  WriteAtomically(target, fileName_, text);
  sections_ = Parse(text);
}

void TRegIniFile::WriteInteger(const std::string& section, const std::string& name, int value) {
  WriteString(section, name, std::to_string(value));
}

void SetRegistryReadOnly(bool readOnly) { WinState().registryReadOnly = readOnly; }
