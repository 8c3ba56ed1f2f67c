// Text in UTF-8, the programs' own encoding: characters decoded and encoded, and text from
// outside shown so that it reads as it is stored.
#include "text.hpp"

namespace rt {

std::size_t utf8_at(std::string_view text, std::size_t i, char32_t& cp) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char lead = byte(i);
    std::size_t length = lead < 0x80                   ? 1
                         : lead >= 0xc2 && lead < 0xe0 ? 2
                         : lead >= 0xe0 && lead < 0xf0 ? 3
                         : lead >= 0xf0 && lead < 0xf5 ? 4
                                                       : 0;
    if (length == 0 || i + length > text.size()) return 0;
    cp = length == 1 ? lead : lead & (0x7f >> length);
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xc0) != 0x80) return 0;
        cp = cp << 6 | (byte(i + k) & 0x3f);
    }
    static const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < least[length] || (cp >= 0xd800 && cp <= 0xdfff) || cp > 0x10ffff) return 0;
    return length;
}

char* append_utf8(char* out, char32_t c) {
    if (c < 0x80) {
        *out++ = static_cast<char>(c);
    } else if (c < 0x800) {
        *out++ = static_cast<char>(0xc0 | c >> 6);
        *out++ = static_cast<char>(0x80 | (c & 0x3f));
    } else if (c < 0x10000) {
        *out++ = static_cast<char>(0xe0 | c >> 12);
        *out++ = static_cast<char>(0x80 | (c >> 6 & 0x3f));
        *out++ = static_cast<char>(0x80 | (c & 0x3f));
    } else {
        *out++ = static_cast<char>(0xf0 | c >> 18);
        *out++ = static_cast<char>(0x80 | (c >> 12 & 0x3f));
        *out++ = static_cast<char>(0x80 | (c >> 6 & 0x3f));
        *out++ = static_cast<char>(0x80 | (c & 0x3f));
    }
    return out;
}

namespace {

// Whether a character would harm a line: a control (C0, DEL, C1), or one that reorders or hides
// the text around it: the bidirectional marks, embeddings, overrides and isolates, the line and
// paragraph separators, and every character Unicode says a reader does not see (its default
// ignorables: the zero-width ones, the soft hyphen, the byte-order mark, variation selectors,
// fillers, tags) or that formats text unseen (the interlinear annotation marks).
bool harms_a_line(char32_t cp) {
    static const char32_t unseen[][2] = {
        {0x00ad, 0x00ad},   {0x034f, 0x034f},   {0x061c, 0x061c}, {0x115f, 0x1160}, {0x17b4, 0x17b5},
        {0x180b, 0x180f},   {0x200b, 0x200f},   {0x2028, 0x202e}, {0x2060, 0x206f}, {0x3164, 0x3164},
        {0xfe00, 0xfe0f},   {0xfeff, 0xfeff},   {0xffa0, 0xffa0}, {0xfff0, 0xfffb}, {0x1bca0, 0x1bca3},
        {0x1d173, 0x1d17a}, {0xe0000, 0xe0fff},
    };
    if (cp < 0x20 || (cp >= 0x7f && cp <= 0x9f)) return true;
    for (const auto& range : unseen)
        if (cp >= range[0] && cp <= range[1]) return true;
    return false;
}

const char hex[] = "0123456789abcdef";

}  // namespace

std::string escaped(std::string_view text) {
    std::string shown;
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp = 0;
        std::size_t length = utf8_at(text, i, cp);
        if (text[i] == '\\') {
            shown += "\\\\";
        } else if (length == 0 || (harms_a_line(cp) && cp < 0x80)) {  // a byte: \xHH
            auto b = static_cast<unsigned char>(text[i]);
            shown += {'\\', 'x', hex[b >> 4], hex[b & 15]};
            length = 1;
        } else if (harms_a_line(cp) && cp <= 0xffff) {  // a character: \uHHHH
            shown += {'\\', 'u', hex[cp >> 12 & 15], hex[cp >> 8 & 15], hex[cp >> 4 & 15], hex[cp & 15]};
        } else if (harms_a_line(cp)) {  // beyond the first plane: \UHHHHHHHH
            shown += "\\U";
            for (int shift = 28; shift >= 0; shift -= 4) shown += hex[cp >> shift & 15];
        } else {
            shown.append(text, i, length);
        }
        i += length ? length : 1;
    }
    return shown;
}

std::string_view first_characters(std::string_view text, std::size_t count) {
    std::size_t i = 0;
    for (; i < text.size() && count > 0; --count) {
        char32_t cp = 0;
        std::size_t length = utf8_at(text, i, cp);
        i += length ? length : 1;
    }
    return text.substr(0, i);
}

bool is_blank(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp = 0;
        std::size_t length = utf8_at(text, i, cp);
        bool space = length && (cp == 0x20 || cp == 0xa0 || cp == 0x1680 || (cp >= 0x2000 && cp <= 0x200a) ||
                                cp == 0x202f || cp == 0x205f || cp == 0x3000);
        if (!space) return false;
        i += length;
    }
    return true;
}

bool shows_as_it_reads(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp = 0;
        std::size_t length = utf8_at(text, i, cp);
        if (length == 0 || harms_a_line(cp)) return false;
        i += length;
    }
    return true;
}

}  // namespace rt
