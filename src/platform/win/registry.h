// Registry stand-in: one INI file per key under the user's configuration folder, sections for
// sub-keys, every value stored as text. The folder is $KLV_CONFIG_DIR when set (tests use this),
// else ${XDG_CONFIG_HOME:-$HOME/.config}/kalvor. A file that cannot be read or is not a settings
// file (a NUL byte, over 1 MiB) reads as empty (defaults) and is never rewritten. A write changes
// only the line of its value, so comments and lines the reader skips survive; it goes to a fresh
// temporary file renamed over the old one (through a symbolic link to the file it names), so a
// crash never leaves a half-written file; and writers in other threads and processes take turns,
// so none loses another's values. One object belongs to one thread.
#pragma once

#include <map>
#include <string>

class TRegIniFile {
 public:
  // Opens the key, e.g. "Software\\Kalvor_Soft"; the file is created on the first write.
  explicit TRegIniFile(const std::string& key);

  std::string ReadString(const std::string& section, const std::string& name, const std::string& defaultValue) const;
  // A value that is absent or is not a whole decimal number reads as `defaultValue`.
  int ReadInteger(const std::string& section, const std::string& name, int defaultValue) const;
  // Stores the value in the file now on disk and rereads it; throws KlvError naming the file when the
  // file is refused (see above), the value would take it past 1 MiB, or it cannot be written.
  void WriteString(const std::string& section, const std::string& name, const std::string& value);
  // Stored as decimal text ("-4").
  void WriteInteger(const std::string& section, const std::string& name, int value);

  // The file that holds this key.
  const std::string& FileName() const { return fileName_; }

 private:
  std::string fileName_;
  std::map<std::string, std::map<std::string, std::string>> sections_;
};

// While set, writes change only the opened key in memory and never the file: a saver embedded in a
// host's window (one process per monitor) writes nothing.
void SetRegistryReadOnly(bool readOnly);
