// Registry stand-in: one INI file per key under the user's configuration folder, sections for
// sub-keys, every value stored as text. The folder is $KLV_CONFIG_DIR when set (tests use this),
// else ${XDG_CONFIG_HOME:-$HOME/.config}/kalvor. Writes go to a temporary file renamed over the old
// one, so a crash never leaves a half-written file; a malformed file reads as empty (defaults).
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
  void WriteString(const std::string& section, const std::string& name, const std::string& value);
  // Stored as decimal text ("-4").
  void WriteInteger(const std::string& section, const std::string& name, int value);

  // The file that holds this key.
  const std::string& FileName() const { return fileName_; }

 private:
  void Save() const;

  std::string fileName_;
  std::map<std::string, std::map<std::string, std::string>> sections_;
};

// While set, writes change only the opened key in memory and never the file: a saver embedded in a
// host's window (one process per monitor) writes nothing.
void SetRegistryReadOnly(bool readOnly);
