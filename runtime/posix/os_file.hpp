// A file open for reading or writing, as POSIX has it: a descriptor.
#pragma once

namespace rt::os {

class File {
  public:
    File() = default;
    explicit File(int descriptor) : fd_(descriptor) {}
    int descriptor() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

}  // namespace rt::os
