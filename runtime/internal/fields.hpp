// Streaming field reader: splits a text file into fields and reads each as a Value. The text is
// bytes (a UTF-8 byte-order mark at the start skipped), or UTF-16 where a UTF-16 byte-order mark
// starts it, decoded as it streams; a Ctrl-Z byte ends it wherever it stands.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "os.hpp"
#include "value.hpp"

namespace rt {

// A field longer than this is refused (type mismatch), so memory stays bounded on any input.
inline constexpr std::size_t max_field_bytes = 1 << 20;

class FieldReader {
  public:
    // Reads from an open file, which the reader then owns.
    explicit FieldReader(os::File file);
    // Reads from text in memory (for tests and tools).
    FieldReader(std::string_view text, std::string name);
    ~FieldReader();
    FieldReader(const FieldReader&) = delete;
    FieldReader& operator=(const FieldReader&) = delete;

    // The next field: a number, Empty or a String. Past the last field: input past end of file.
    Value next();
    // The field read last.
    Origin origin() const;

  private:
    enum class State { LineStart, AfterComma, AfterField };
    enum class Encoding { Unknown, Bytes, Utf16le, Utf16be };
    static constexpr int end_of_file = -1;
    static constexpr int end_of_file_mark = 0x1a;  // Ctrl-Z

    int peek();
    void skip_blanks();
    bool at_line_end();
    void take_line_end();
    Value take_field();
    void keep(std::string& text, char c);
    void refill();
    std::size_t read_raw(char* into, std::size_t size);
    void detect_encoding();
    void decode_utf16();
    std::size_t utf16_character(std::size_t i, unsigned& c);

    os::File file_;
    std::string memory_;  // the text, for a reader over text in memory
    std::size_t memory_pos_ = 0;
    std::string name_;
    const std::string* source_;  // the name, as Values read here keep it
    Encoding encoding_ = Encoding::Unknown;
    std::vector<char> buffer_;  // text as bytes, decoded where it was UTF-16
    std::size_t pos_ = 0;
    std::size_t len_ = 0;
    std::vector<char> raw_;  // UTF-16 bytes read but not decoded yet
    std::size_t raw_len_ = 0;
    Msg fault_ = Msg::Text;  // where decoding stopped at a fault: its report, for when the reader gets there
    bool eof_ = false;       // nothing more to read
    bool ended_ = false;     // an end-of-file mark was met
    State state_ = State::LineStart;
    std::size_t fields_ = 0;
};

}  // namespace rt
