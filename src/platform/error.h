// The one error type for bad input from outside (model files, bitmaps, the height map, the INI
// file, the command line) and for refused operations. Every throw names the file and the problem;
// tests check the kind, never the wording.
#pragma once

#include <stdexcept>
#include <string>

enum class KlvErrorKind {
  FileOpen,     // the file cannot be opened or read
  ShortFile,    // the file ends before what its headers promise
  BadFormat,    // a signature, header size, bit depth or compression the reader does not handle
  OutOfRange,   // a size, count, index or depth outside what the data model allows
  Capacity,     // an append or allocation beyond a fixed capacity
  Unsupported,  // a valid request this implementation does not serve
};

class KlvError : public std::runtime_error {
 public:
  KlvError(KlvErrorKind kind, const std::string& file, const std::string& problem)
      : std::runtime_error(file.empty() ? problem : file + ": " + problem), kind_(kind), file_(file) {}

  KlvErrorKind kind() const { return kind_; }
  const std::string& file() const { return file_; }

 private:
  KlvErrorKind kind_;
  std::string file_;
};
