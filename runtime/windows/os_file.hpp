// A file open for reading or writing, as Windows has it here: its handle and its name as reports
// give it, and for a result what it takes to name or remove it through that handle (struct Open,
// windows.hpp).
#pragma once

#include <string>

namespace rt::os {

struct Open;

class File {
  public:
    File() = default;
    explicit File(Open* open) : open_(open) {}
    Open* open() const { return open_; }
    const std::string& name() const;
    explicit operator bool() const { return open_ != nullptr; }

  private:
    Open* open_ = nullptr;
};

}  // namespace rt::os
