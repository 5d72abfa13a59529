#include "platform/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

void MappedFileCloser::operator()(MappedFile* file) const {
  if (file->data != nullptr) munmap(const_cast<uint8_t*>(file->data), file->size);
  if (file->fd >= 0) close(file->fd);
  delete file;
}

MappedFilePtr MapFileReadOnly(const char* path, std::string* reason) {
  MappedFilePtr file(new MappedFile);
  file->fd = open(path, O_RDONLY | O_CLOEXEC);
  if (file->fd < 0) {
    *reason = std::string("cannot open: ") + std::strerror(errno);
    return nullptr;
  }
  struct stat info;
  if (fstat(file->fd, &info) != 0) {
    *reason = std::string("cannot read its size: ") + std::strerror(errno);
    return nullptr;
  }
  if (!S_ISREG(info.st_mode)) {
    *reason = "not a regular file";
    return nullptr;
  }
  file->size = static_cast<size_t>(info.st_size);
  if (file->size == 0) return file;
  void* view = mmap(nullptr, file->size, PROT_READ, MAP_PRIVATE, file->fd, 0);
  if (view == MAP_FAILED) {
    *reason = std::string("cannot map into memory: ") + std::strerror(errno);
    return nullptr;
  }
  file->data = static_cast<const uint8_t*>(view);
  return file;
}
