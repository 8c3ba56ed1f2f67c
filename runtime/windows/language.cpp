// The user's language on Windows: the UI language Windows gives the user, and the program's
// translations, built into it from the same catalogs (po/) as Linux's, one resource a language
// (a .mo file, as msgfmt makes it for gettext).
#include <cstdint>
#include <cstring>

#include "windows.hpp"

namespace rt::os {

namespace {

// The catalog's name for a UI language, as gettext names the languages; null for one without.
const char* catalog_of(LANGID language) {
    switch (PRIMARYLANGID(language)) {
        case LANG_GERMAN: return "de";
        case LANG_SPANISH: return "es";
        case LANG_FRENCH: return "fr";
        case LANG_ITALIAN: return "it";
        case LANG_JAPANESE: return "ja";
        case LANG_RUSSIAN: return "ru";
        case LANG_PORTUGUESE: return SUBLANGID(language) == SUBLANG_PORTUGUESE_BRAZILIAN ? "pt_BR" : nullptr;
        case LANG_CHINESE: return SUBLANGID(language) == SUBLANG_CHINESE_SIMPLIFIED ? "zh_CN" : nullptr;
        default: return nullptr;
    }
}

// The catalog chosen: its bytes, as the resource holds them for the life of the program.
const unsigned char* catalog = nullptr;
LANGID catalog_language = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
std::uint32_t catalog_size = 0;
bool swapped = false;  // its numbers in the other byte order than this machine's

std::uint32_t number_at(std::uint32_t at) {
    std::uint32_t n = 0;
    if (at > catalog_size || catalog_size - at < 4) return 0;
    std::memcpy(&n, catalog + at, 4);
    return swapped ? __builtin_bswap32(n) : n;
}

// The string of entry i of the table at `table` (originals or translations); null where the
// catalog does not hold a whole one there.
const char* string_at(std::uint32_t table, std::uint32_t i) {
    std::uint32_t length = number_at(table + 8 * i), at = number_at(table + 8 * i + 4);
    if (at >= catalog_size || catalog_size - at <= length || catalog[at + length] != '\0') return nullptr;
    return reinterpret_cast<const char*>(catalog + at);
}

}  // namespace

void choose_language() {
    LANGID language = ::GetUserDefaultUILanguage();
    const char* name = catalog_of(language);
    HRSRC found = name ? ::FindResourceA(nullptr, name, MAKEINTRESOURCEA(10)) : nullptr;  // RT_RCDATA
    HGLOBAL loaded = found ? ::LoadResource(nullptr, found) : nullptr;
    if (!loaded) return;
    catalog = static_cast<const unsigned char*>(::LockResource(loaded));
    catalog_size = ::SizeofResource(nullptr, found);
    std::uint32_t magic = number_at(0);
    swapped = magic == 0xde120495u;
    if (magic != 0x950412deu && !swapped) catalog = nullptr;
    if (catalog) catalog_language = language;
}

LANGID words_language() { return catalog_language; }

// The originals are sorted, as msgfmt writes them: found by halves.
const char* translation(const char* english) {
    if (!catalog) return english;
    std::uint32_t count = number_at(8), originals = number_at(12), translations = number_at(16);
    std::uint32_t low = 0, high = count;
    while (low < high) {
        std::uint32_t middle = low + (high - low) / 2;
        const char* original = string_at(originals, middle);
        if (!original) return english;
        int order = std::strcmp(english, original);
        if (order == 0) {
            const char* translated = string_at(translations, middle);
            return translated && *translated ? translated : english;
        }
        if (order < 0) {
            high = middle;
        } else {
            low = middle + 1;
        }
    }
    return english;
}

}  // namespace rt::os
