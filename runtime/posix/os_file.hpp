// A file open for reading or writing, as POSIX has it: a descriptor, and the file's name as
// reports give it.
#pragma once

#include <string>
#include <utility>

namespace rt::os {

class File {
  public:
    File() = default;
    explicit File(int descriptor, std::string name = {}) : fd_(descriptor), name_(std::move(name)) {}
    int descriptor() const { return fd_; }
    const std::string& name() const { return name_; }
    explicit operator bool() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
    std::string name_;
};

}  // namespace rt::os
