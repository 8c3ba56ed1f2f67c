// What the POSIX files share: the system's words and error numbers, paths, descriptors held for a
// scope, standard error as the program has it, and the trust rules (trust.cpp).
#pragma once

#include <sys/stat.h>

#include <string>
#include <utility>
#include <vector>

#include "errors.hpp"

namespace rt::os {

// The system's own words for an error number.
std::string system_words(int err);
// The run-time error for a failed open, create or rename, by errno.
int error_for_errno(int err, int otherwise);
// A failure of the system's, with what was being done and the names involved before its words.
[[noreturn]] inline void raise_system(int number, Msg doing, std::vector<Message> parts, int err) {
    parts.emplace_back(system_words(err));
    raise(number, {doing, std::move(parts)});
}

std::string directory_of(const std::string& path);
// A path by which the file open at fd is reached, whatever it was opened as (through /proc).
std::string fd_path(int fd);
std::string base_of(const std::string& path);
// The directory the program itself was started from, as the system tells it (an absolute path);
// empty where the system does not say (no /proc, as in some chroots and containers).
std::string program_directory();

// A path's components, in order, ahead of those still to be walked (todo holds the next one last).
void push_front(std::vector<std::string>& todo, const std::string& path);
#ifdef SYMLOOP_MAX
inline constexpr int max_links = SYMLOOP_MAX;
#else
inline constexpr int max_links = 40;  // as Linux itself follows at most
#endif

// A descriptor closed at the end of its scope, unless it is handed on.
struct Descriptor {
    int fd = -1;
    explicit Descriptor(int fd_) : fd(fd_) {}
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    void reset(int other = -1);
    int release() { return std::exchange(fd, -1); }
};

// Standard error as the program has it (streams.cpp). While a display is open, descriptor 2 is
// /dev/null and the program's own lines go to a copy kept of it.
int error_descriptor();
// Descriptor 2 to /dev/null, the program's standard error kept; false where that cannot be done,
// and nothing is changed.
bool keep_standard_error();
// Descriptor 2 the program's own again; safe where a signal handler runs.
void give_back_standard_error();

// The trust rules (trust.cpp): who could have planted a link or a file.
// Whether anyone but the owner could write the file or folder at path, which st describes: others,
// a group not the runner's alone, or a user or group its access list names.
bool others_can_write(const struct stat& st, const std::string& path);
// Whether the access list of the file or folder at path (st its mode and group) lets anyone write
// but the runner, root and the groups runners_alone tells are the runner's alone; false where it
// has none (access_lists.cpp).
bool list_lets_others_write(const std::string& path, const struct stat& st, bool (*runners_alone)(gid_t));
// The access list of the file at path (its permission bits, where it has no list of its own) onto
// the file open at to, in place of any it has; false where that cannot be done.
bool copy_access_list(const std::string& from, int to);
// Whether no one but the runner (and root) could have planted the link or changed it, in the
// directory at dir_path.
bool link_is_trusted(const struct stat& link, const struct stat& dir, const std::string& dir_path);
// Why the file or folder at its real path (the display module, the translations' folder) is not to
// be used, or an empty message where it may be.
Message place_distrusted(const std::string& real);
// Why a link on the way to path (an absolute one) is not to be followed to it, or empty.
Message untrusted_link_on_the_way(const std::string& path);

}  // namespace rt::os
