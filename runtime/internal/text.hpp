// Text in UTF-8, the programs' own encoding: its characters decoded and encoded, and text from
// outside (a name, a field) shown so that a line reads as it is stored. The one home of UTF-8.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace rt {

// The UTF-8 character at text[i]: its length, with its code point in cp; 0 where the bytes there
// are not one (a stray or missing continuation byte, an overlong form, a surrogate, past U+10FFFF).
std::size_t utf8_at(std::string_view text, std::size_t i, char32_t& cp);
// The character c (at most U+10FFFF, no surrogate) as UTF-8 at out; returns the end.
char* append_utf8(char* out, char32_t c);

// Text from outside as a report shows it: as the user wrote it, where it is UTF-8 that prints; a
// byte that is no UTF-8 or a control of one byte as \xHH, a character that would reorder or hide
// the text around it or a control of two as \uHHHH (\UHHHHHHHH beyond U+FFFF), and a backslash as
// \\, so that a report is always one line that reads as it is stored.
std::string escaped(std::string_view text);
// Whether text shows as it reads: nothing in it that escaped() would change but a backslash.
bool shows_as_it_reads(std::string_view text);
// Whether text is blank: nothing in it but spaces (of any width, as Unicode's space separators).
bool is_blank(std::string_view text);
// The first count characters of text (a byte that is no UTF-8 counting as one), or all of it.
std::string_view first_characters(std::string_view text, std::size_t count);

}  // namespace rt
