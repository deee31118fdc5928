// Read-only access to the files the loaders read (model files, bitmaps, the height map): opens only
// regular files, reads at offsets, and turns every failure (a folder or device named like the file,
// no permission, an I/O error, memory that cannot be had) into a KlvError naming the file and the
// reason. Nothing here lets a std::ios_failure, filesystem_error or bad_alloc escape.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class TReadOnlyFile {
 public:
  // Opens the file; throws KlvError(FileOpen) when it is missing, unreadable or not a regular file.
  // A FIFO or device is refused without blocking on it.
  explicit TReadOnlyFile(const std::string& fileName);
  ~TReadOnlyFile();
  TReadOnlyFile(const TReadOnlyFile&) = delete;
  TReadOnlyFile& operator=(const TReadOnlyFile&) = delete;

  const std::string& FileName() const { return fileName_; }
  // Length in bytes when the file was opened.
  uint64_t Size() const { return size_; }
  // Reads exactly count bytes at offset; throws KlvError(ShortFile) when the file ends first and
  // KlvError(FileOpen) on a read error. `what` names the part being read in the message.
  void ReadAt(uint64_t offset, void* out, size_t count, const char* what) const;

 private:
  std::string fileName_;
  int fd_ = -1;
  uint64_t size_ = 0;
};

// The whole file; files above maxBytes are refused with KlvError(OutOfRange) before anything is
// read, memory that cannot be had is KlvError(Capacity).
std::vector<uint8_t> ReadWholeFile(const std::string& fileName, uint64_t maxBytes);
