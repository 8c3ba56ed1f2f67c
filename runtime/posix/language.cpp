// The user's language on POSIX: the messages' category alone taken from the environment, as gettext
// reads it, and this program's translations found beside the program, as it is installed or built.
#include <libintl.h>

#include <climits>
#include <clocale>
#include <cstdlib>

#include "os.hpp"
#include "posix.hpp"

#ifndef TRIO_LOCALE_DIR
#define TRIO_LOCALE_DIR "/usr/local/share/locale"  // where the translations are installed
#endif

namespace rt::os {

namespace {

constexpr const char* domain = "trio";

// The translations' folder: share/locale beside the program's bin, as every installation and the
// build tree have it, else the one the program was installed for. A folder someone else could
// write is passed over, as for the display module: their words would be the program's.
std::string translations_folder() {
    std::string dir = program_directory();
    char real[PATH_MAX];
    if (!dir.empty() && ::realpath((dir + "/../share/locale").c_str(), real) &&
        untrusted_link_on_the_way(dir + "/../share/locale").empty() && place_distrusted(real).empty())
        return real;
    return TRIO_LOCALE_DIR;
}

// The language of the catalog gettext found among the user's (its header says), or empty.
std::string catalog_language() {
    std::string header = ::dgettext(domain, "");
    std::size_t at = header.find("Language: ");
    if (at == std::string::npos) return "";
    at += 10;
    return header.substr(at, header.find('\n', at) - at);
}

}  // namespace

void choose_language() {
    if (!std::setlocale(LC_MESSAGES, "")) return;  // a locale the system lacks: English
    std::string folder = translations_folder();
    ::bindtextdomain(domain, folder.c_str());
    // The characters' category stays C: the catalogs are given in UTF-8 whatever it says, and so
    // are the system's own words for an error (the C library's catalog) and the toolkit's.
    ::bind_textdomain_codeset(domain, "UTF-8");
    ::bind_textdomain_codeset("libc", "UTF-8");
    // The system's words and the toolkit's in the language of the line around them: the one this
    // program has a catalog of, first among the user's (LANGUAGE=nl:fr gives French throughout);
    // English where it has none of theirs.
    std::string language = catalog_language();
    ::setenv("LANGUAGE", language.empty() ? "C" : language.c_str(), 1);
}

const char* translation(const char* english) { return ::dgettext(domain, english); }

}  // namespace rt::os
