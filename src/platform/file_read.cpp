// Regular files read with pread on a descriptor; the reasons for failures come from errno.
#include "platform/file_read.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "platform/error.h"

namespace {

std::string Reason(const char* action, int error) { return std::string(action) + ": " + std::strerror(error); }

}  // namespace

TReadOnlyFile::TReadOnlyFile(const std::string& fileName) : fileName_(fileName) {
  // O_NONBLOCK keeps a FIFO named like the file from blocking the open; regular files ignore it.
  fd_ = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd_ < 0) throw KlvError(KlvErrorKind::FileOpen, fileName, Reason("cannot open the file", errno));
  struct stat info {};
  if (::fstat(fd_, &info) != 0) {
    const int error = errno;
    ::close(fd_);
    throw KlvError(KlvErrorKind::FileOpen, fileName, Reason("cannot read the file", error));
  }
  if (!S_ISREG(info.st_mode)) {
    ::close(fd_);
    throw KlvError(KlvErrorKind::FileOpen, fileName,
                   S_ISDIR(info.st_mode) ? "is a folder, not a file" : "is not a regular file");
  }
  size_ = static_cast<uint64_t>(info.st_size);
}

TReadOnlyFile::~TReadOnlyFile() { ::close(fd_); }

void TReadOnlyFile::ReadAt(uint64_t offset, void* out, size_t count, const char* what) const {
  if (offset > size_ || count > size_ - offset)
    throw KlvError(KlvErrorKind::ShortFile, fileName_, std::string("file ends inside the ") + what);
  auto* bytes = static_cast<char*>(out);
  while (count > 0) {
    const ssize_t got = ::pread(fd_, bytes, count, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0)
      throw KlvError(KlvErrorKind::FileOpen, fileName_,
                     Reason((std::string("cannot read the ") + what).c_str(), errno));
    if (got == 0) throw KlvError(KlvErrorKind::ShortFile, fileName_, std::string("file ends inside the ") + what);
    bytes += got;
    offset += static_cast<uint64_t>(got);
    count -= static_cast<size_t>(got);
  }
}

std::vector<uint8_t> ReadWholeFile(const std::string& fileName, uint64_t maxBytes) {
  TReadOnlyFile file(fileName);
  if (file.Size() > maxBytes)
    throw KlvError(KlvErrorKind::OutOfRange, fileName,
                   "file of " + std::to_string(file.Size()) + " bytes (at most " + std::to_string(maxBytes) + ")");
  std::vector<uint8_t> bytes;
  try {
    bytes.resize(static_cast<size_t>(file.Size()));
  } catch (const std::bad_alloc&) {
    throw KlvError(KlvErrorKind::Capacity, fileName, "not enough memory to read the file");
  }
  file.ReadAt(0, bytes.data(), bytes.size(), "file");
  return bytes;
}
