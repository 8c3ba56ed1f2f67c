// Streaming field reader: splits a text file into fields and reads each as a Value.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "value.hpp"

namespace rt {

// A field longer than this is refused (type mismatch), so memory stays bounded on any input.
inline constexpr std::size_t max_field_bytes = 1 << 20;

class FieldReader {
  public:
    // Reads from an open file descriptor, which the reader then owns.
    FieldReader(int fd, std::string name);
    // Reads from text in memory (for tests and tools).
    FieldReader(std::string_view text, std::string name);
    ~FieldReader();
    FieldReader(const FieldReader&) = delete;
    FieldReader& operator=(const FieldReader&) = delete;

    // The next field: a number, Empty or a String. Past the last field: input past end of file.
    Value next();
    // "field N of NAME" for the field read last.
    std::string origin() const;

  private:
    enum class State { LineStart, AfterComma, AfterField };
    static constexpr int end_of_file = -1;

    int peek();
    void skip_blanks();
    bool at_line_end();
    void take_line_end();
    Value take_field();
    void keep(std::string& text, char c);
    void refill();

    int fd_ = -1;
    std::string name_;
    std::vector<char> buffer_;
    std::size_t pos_ = 0;
    std::size_t len_ = 0;
    bool eof_ = false;
    State state_ = State::LineStart;
    std::size_t fields_ = 0;
};

}  // namespace rt
