// Numbered files: opened by name in the current directory under a small number, read
// field by field or written line by line, closed one by one or all at the end.
//
// A result file is written to a temporary file beside it and renamed over its name when it
// is closed, when the program ends, or before the program waits for the user; writes after
// that go on in place. A run-time error or a stopping signal removes the temporary file, so an
// earlier result stays exactly as it was and no result is ever left half-written.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "value.hpp"

namespace rt {

void open_input(int number, const std::string& name);
void open_output(int number, const std::string& name);
void close(int number);

// The next field of an input file, as a Value or (for 16-bit targets) converted as to-16-bit.
Value read_field(int number);
std::int16_t read_16bit_field(int number);

inline void input_one(int number, Value& target) { target = read_field(number); }
inline void input_one(int number, std::int16_t& target) { target = read_16bit_field(number); }

// Fills its targets in order from the next fields of file `number`.
template <class... Targets>
void input(int number, Targets&... targets) {
    (input_one(number, targets), ...);
}

// How a line of a result ends on this system: LF on Linux, CR LF on Windows.
std::string_view line_end();

// Appends text to a result file as it stands.
void write_text(int number, std::string_view text);

inline void print_item(std::string& line, const Value& v) { append_text(line, v); }
inline void print_item(std::string& line, std::string_view s) { line += s; }
inline void print_item(std::string& line, std::int16_t v) { append_text(line, Integer(v)); }

// Writes its items in order with nothing between them, then ends the line as the system does.
template <class... Items>
void print_line(int number, const Items&... items) {
    static std::string line;
    line.clear();
    (print_item(line, items), ...);
    line += line_end();
    write_text(number, line);
}

// Every result file written so far complete under its own name.
void commit_results();
// Ending the program: every file closed, result files complete.
void close_all();
// After a run-time error: temporary files removed, earlier results left as they were.
void abandon_all() noexcept;
// Removes temporary files from a signal handler (async-signal-safe).
void remove_temporaries_now() noexcept;

}  // namespace rt
