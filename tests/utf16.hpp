// Text as UTF-16 with its byte-order mark, for the tests of files saved that way.
#pragma once

#include <string>
#include <string_view>

namespace test {

// Little- or big-endian; a character above U+FFFF is given as its two surrogates.
inline std::string utf16(std::u16string_view text, bool little = true) {
    std::string out = little ? "\xff\xfe" : "\xfe\xff";
    for (char16_t u : text) {
        char lo = static_cast<char>(u & 0xff), hi = static_cast<char>(u >> 8);
        out += little ? lo : hi;
        out += little ? hi : lo;
    }
    return out;
}

}  // namespace test
