#include "fields.hpp"

#include <algorithm>

#include "errors.hpp"
#include "text.hpp"

namespace rt {

FieldReader::FieldReader(os::File file)
    : file_(std::move(file)), name_(file_.name()), source_(field_origin(name_, 0).file), buffer_(64 * 1024) {}

FieldReader::FieldReader(std::string_view text, std::string name)
    : memory_(text), name_(std::move(name)), source_(field_origin(name_, 0).file), buffer_(64 * 1024) {}

FieldReader::~FieldReader() { os::close(file_); }

Origin FieldReader::origin() const { return Origin{source_, static_cast<std::uint32_t>(fields_)}; }

std::size_t FieldReader::read_raw(char* into, std::size_t size) {
    if (eof_) return 0;
    std::size_t n = 0;
    if (file_) {
        n = os::read(file_, into, size);
    } else {
        n = memory_.copy(into, size, memory_pos_);
        memory_pos_ += n;
    }
    if (n == 0) eof_ = true;
    return n;
}

// The first bytes tell the encoding: a UTF-16 byte-order mark (FF FE little-endian, FE FF
// big-endian) makes it UTF-16; a UTF-8 one (EF BB BF) is skipped; anything else is bytes as they are.
void FieldReader::detect_encoding() {
    while (len_ < 3) {
        std::size_t n = read_raw(buffer_.data() + len_, buffer_.size() - len_);
        if (n == 0) break;
        len_ += n;
    }
    auto starts = [&](std::string_view mark) {
        return std::string_view(buffer_.data(), len_).substr(0, mark.size()) == mark;
    };
    encoding_ = Encoding::Bytes;
    if (starts("\xef\xbb\xbf")) {
        pos_ = 3;
    } else if (starts("\xff\xfe") || starts("\xfe\xff")) {
        encoding_ = buffer_[0] == '\xff' ? Encoding::Utf16le : Encoding::Utf16be;
        raw_.resize(buffer_.size());
        raw_len_ = len_ - 2;
        std::copy(buffer_.data() + 2, buffer_.data() + len_, raw_.data());
        pos_ = len_ = 0;
        decode_utf16();
    }
}

// The character whose UTF-16 units start at raw_[i], into c: the bytes it takes, or 0 where its
// units are not all read yet, or never will be (a high surrogate at the end of the file), or where
// a surrogate has no partner: fault_ then says which.
std::size_t FieldReader::utf16_character(std::size_t i, unsigned& c) {
    bool little = encoding_ == Encoding::Utf16le;
    auto unit = [&](std::size_t at) {
        auto b0 = static_cast<unsigned char>(raw_[at]), b1 = static_cast<unsigned char>(raw_[at + 1]);
        return little ? unsigned(b0 | b1 << 8) : unsigned(b1 | b0 << 8);
    };
    if (i + 1 >= raw_len_) return 0;
    c = unit(i);
    if (c >= 0xdc00 && c <= 0xdfff) {
        fault_ = Msg::Utf16Unpaired;
        return 0;
    }
    if (c < 0xd800 || c > 0xdbff) return 2;
    if (i + 3 >= raw_len_) {  // its partner is not read yet, or never will be
        if (eof_) fault_ = Msg::Utf16Cut;
        return 0;
    }
    unsigned low = unit(i + 2);
    if (low < 0xdc00 || low > 0xdfff) {
        fault_ = Msg::Utf16Unpaired;
        return 0;
    }
    c = 0x10000 + ((c - 0xd800) << 10) + (low - 0xdc00);
    return 4;
}

// Decodes UTF-16 into the buffer as UTF-8, no further than the reader needs: decoding stops at a
// U+001A (the end-of-file mark, as in a byte file) and at a fault, which is raised only once the
// reader reaches it, so that what lies after the last field read is never looked at. A unit cut in
// half or a high surrogate waits for the rest; at the end of the file, or where a surrogate has no
// partner, the text is not UTF-16 after all: a type mismatch. A lone 0x1A byte at the very end is
// that end mark, as copying tools append it.
void FieldReader::decode_utf16() {
    while (len_ == 0) {
        if (fault_ != Msg::Text) raise(TypeMismatch, {fault_, {name(name_)}});
        while (!eof_ && raw_len_ < 4) raw_len_ += read_raw(raw_.data() + raw_len_, raw_.size() - raw_len_);
        if (raw_len_ == 0) return;  // the end
        std::size_t i = 0;
        char* out = buffer_.data();
        char* full = buffer_.data() + buffer_.size() - 4;  // room for the longest character left
        while (out <= full) {
            if (i + 1 == raw_len_ && eof_) {  // a lone byte at the very end
                if (raw_[i] != end_of_file_mark) {
                    fault_ = Msg::Utf16Cut;
                } else {
                    *out++ = end_of_file_mark;
                    ++i;
                }
                break;
            }
            unsigned c = 0;
            std::size_t size = utf16_character(i, c);
            if (size == 0) break;
            i += size;
            out = append_utf8(out, c);
            if (c == end_of_file_mark) break;  // the text ends here: nothing after it is decoded
        }
        std::copy(raw_.data() + i, raw_.data() + raw_len_, raw_.data());  // kept for the next round
        raw_len_ -= i;
        len_ = static_cast<std::size_t>(out - buffer_.data());
    }
}

void FieldReader::refill() {
    pos_ = len_ = 0;
    if (encoding_ == Encoding::Bytes) {
        len_ = read_raw(buffer_.data(), buffer_.size());
    } else {
        decode_utf16();
    }
}

// The next byte of text; the end of the file from an end-of-file mark on.
int FieldReader::peek() {
    if (ended_) return end_of_file;
    if (encoding_ == Encoding::Unknown) detect_encoding();
    if (pos_ == len_) refill();
    if (pos_ == len_) return end_of_file;
    int c = static_cast<unsigned char>(buffer_[pos_]);
    if (c == end_of_file_mark) {
        ended_ = true;
        return end_of_file;
    }
    return c;
}

void FieldReader::skip_blanks() {
    for (int c = peek(); c == ' ' || c == '\t'; c = peek()) ++pos_;
}

bool FieldReader::at_line_end() {
    int c = peek();
    return c == '\n' || c == '\r';
}

// A line ends with LF, CRLF or a lone CR.
void FieldReader::take_line_end() {
    if (peek() == '\r') {
        ++pos_;
        if (peek() == '\n') ++pos_;
    } else {
        ++pos_;
    }
}

void FieldReader::keep(std::string& text, char c) {
    if (text.size() == max_field_bytes) {
        ++fields_;
        raise(TypeMismatch, {Msg::FieldTooLong, {field_of(origin())}});
    }
    text += c;
}

// A quoted field runs, blanks kept, up to the closing quote; an unquoted one runs up
// to a comma, a line end or a blank. Blanks, then a comma or a line end, close the field.
Value FieldReader::take_field() {
    std::string text;
    bool quoted = peek() == '"';
    if (quoted) {
        ++pos_;
        for (int c = peek(); c != '"' && c != end_of_file; c = peek()) keep(text, static_cast<char>(c)), ++pos_;
        if (peek() == '"') ++pos_;
    } else {
        for (int c = peek(); c != end_of_file && c != ',' && c != ' ' && c != '\t' && c != '\n' && c != '\r';
             c = peek())
            keep(text, static_cast<char>(c)), ++pos_;
    }
    ++fields_;
    skip_blanks();
    if (peek() == ',') {
        ++pos_;
        state_ = State::AfterComma;
    } else if (at_line_end()) {
        take_line_end();
        state_ = State::LineStart;
    } else {
        state_ = State::AfterField;  // a run of blanks alone parted this field from the next
    }
    // A quoted field that has a number's form is that number, as some programs quote every field.
    return parse_field(text, origin());
}

// A field is Empty only where a comma stands before it or it starts a line, and a comma,
// a line end or the end of the file follows. Blank lines are skipped.
Value FieldReader::next() {
    skip_blanks();
    if (state_ == State::LineStart) {
        while (at_line_end()) {
            take_line_end();
            skip_blanks();
        }
        if (peek() == ',') {
            ++pos_;
            ++fields_;
            state_ = State::AfterComma;
            return Value();
        }
    } else if (state_ == State::AfterComma) {
        int c = peek();
        if (c == ',' || c == '\n' || c == '\r' || c == end_of_file) {
            if (c == ',') {
                ++pos_;
            } else if (c != end_of_file) {
                take_line_end();
                state_ = State::LineStart;
            } else {
                state_ = State::AfterField;  // the Empty field before the end; then nothing more
            }
            ++fields_;
            return Value();
        }
    }
    if (peek() == end_of_file)
        raise(InputPastEnd, {Msg::EndsBeforeField, {name(name_), numeral(static_cast<long long>(fields_) + 1)}});
    return take_field();
}

}  // namespace rt
