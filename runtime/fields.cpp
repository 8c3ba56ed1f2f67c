#include "fields.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "errors.hpp"

namespace rt {

FieldReader::FieldReader(int fd, std::string name) : fd_(fd), name_(std::move(name)), buffer_(64 * 1024) {}

FieldReader::FieldReader(std::string_view text, std::string name)
    : name_(std::move(name)), buffer_(text.begin(), text.end()), len_(text.size()), eof_(true) {}

FieldReader::~FieldReader() {
    if (fd_ >= 0) ::close(fd_);
}

std::string FieldReader::origin() const { return "field " + std::to_string(fields_) + " of " + name_; }

void FieldReader::refill() {
    pos_ = len_ = 0;
    if (eof_) return;
    for (;;) {
        ssize_t n = ::read(fd_, buffer_.data(), buffer_.size());
        if (n > 0) {
            len_ = static_cast<std::size_t>(n);
            return;
        }
        if (n == 0) {
            eof_ = true;
            return;
        }
        if (errno != EINTR) raise(DeviceIO, "reading " + name_ + ": " + std::strerror(errno));
    }
}

int FieldReader::peek() {
    if (pos_ == len_) refill();
    return pos_ < len_ ? static_cast<unsigned char>(buffer_[pos_]) : end_of_file;
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
        raise(TypeMismatch, origin() + " is longer than 1 MiB");
    }
    text += c;
}

// A quoted field is a String, blanks kept, up to the closing quote; an unquoted one runs up
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
    if (quoted) return Value::string(std::move(text), origin());
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
    if (peek() == end_of_file) raise(InputPastEnd, name_ + " ends before field " + std::to_string(fields_ + 1));
    return take_field();
}

}  // namespace rt
