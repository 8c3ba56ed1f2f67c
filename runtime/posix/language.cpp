// The user's language on POSIX: the messages' category alone taken from the environment, as gettext
// reads it, and this program's translations found beside the program, as it is installed or built.
#include <dirent.h>
#include <langinfo.h>
#include <libintl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <clocale>
#include <cstdlib>
#include <cstring>

#include "os.hpp"
#include "posix.hpp"

#ifndef TRIO_LOCALE_DIR
#define TRIO_LOCALE_DIR "/usr/local/share/locale"  // where the translations are installed
#endif

namespace rt::os {

namespace {

constexpr const char* domain = "trio";
bool translating = false;  // the program's catalogs bound, from a folder the trust rules allow

// Whether the runner or root has every folder of a language's catalogs under folder, and no one
// else can write them, nor the catalogs themselves (a folder that is not there has none).
bool catalogs_kept(const std::string& folder) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) return true;
    auto kept = [](const std::string& path) {
        struct stat entry {};
        return ::lstat(path.c_str(), &entry) != 0 ||
               ((entry.st_uid == ::geteuid() || entry.st_uid == 0) && !others_can_write(entry, path));
    };
    DIR* d = ::opendir(folder.c_str());
    if (!d) return false;
    bool all = true;
    while (dirent* e = ::readdir(d)) {
        std::string language = folder + "/" + e->d_name;
        if (e->d_name[0] == '.') continue;
        all = all && kept(language) && kept(language + "/LC_MESSAGES") && kept(language + "/LC_MESSAGES/trio.mo");
    }
    ::closedir(d);
    return all;
}

// The translations' folder: share/locale beside the program's bin, as every installation and the
// build tree have it, else the one the program was installed for; empty where neither may be used.
// A folder someone else could write, or a language's folder or catalog in it, is passed over, as
// for the display module: their words would be the program's.
std::string translations_folder() {
    std::string dir = program_directory();
    for (const std::string& place :
         {dir.empty() ? std::string() : dir + "/../share/locale", std::string(TRIO_LOCALE_DIR)}) {
        char real[PATH_MAX];
        if (!place.empty() && place[0] == '/' && ::realpath(place.c_str(), real) &&
            untrusted_link_on_the_way(place).empty() && place_distrusted(real).empty() && catalogs_kept(real))
            return real;
    }
    return "";
}

// Whether the user's characters are UTF-8, which the catalogs are written in: another character
// set (a terminal in ISO 8859-1, say) is given the English, which every one shows right.
bool user_writes_utf8() {
    locale_t user = ::newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
    if (!user) return false;
    bool utf8 = std::strcmp(::nl_langinfo_l(CODESET, user), "UTF-8") == 0;
    ::freelocale(user);
    return utf8;
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
    if (!user_writes_utf8()) {
        ::setenv("LANGUAGE", "C", 1);  // the system's words in English too
        return;
    }
    std::string folder = translations_folder();
    if (folder.empty()) {
        ::setenv("LANGUAGE", "C", 1);  // no catalog of the program's may be read: English throughout
        return;
    }
    ::bindtextdomain(domain, folder.c_str());
    translating = true;
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

const char* translation(const char* english) { return translating ? ::dgettext(domain, english) : english; }

}  // namespace rt::os
