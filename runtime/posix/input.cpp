// Input files on POSIX: the file of the name asked for, or the one whose name differs from it only
// in case, opened for reading; read and closed.
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "os.hpp"
#include "posix.hpp"

namespace rt::os {

namespace {

bool same_but_case(std::string_view a, std::string_view b) {
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

// The entries beside `name` whose names differ from its own only in the case of their letters
// (A to Z), sorted, each with the name's directory before it.
std::vector<std::string> names_differing_in_case(const std::string& name) {
    std::size_t slash = name.rfind('/');
    std::string dir = slash == std::string::npos ? "" : name.substr(0, slash + 1);
    std::string base = name.substr(dir.size());
    std::vector<std::string> found;
    if (DIR* d = ::opendir(dir.empty() ? "." : dir.c_str())) {
        while (dirent* e = ::readdir(d))
            if (e->d_name != base && same_but_case(e->d_name, base)) found.push_back(dir + e->d_name);
        ::closedir(d);
    }
    std::sort(found.begin(), found.end());
    return found;
}

// A directory, or anything else that is not a regular file, is no input.
void refuse_unless_regular(const struct stat& st, const Message& what) {
    if (S_ISDIR(st.st_mode)) raise(PathFileAccess, {Msg::IsDirectory, {what}});
    if (!S_ISREG(st.st_mode)) raise(PathFileAccess, {Msg::NotRegular, {what}});
}

// The look-alike opened for reading, without waiting: should it have been swapped for something
// else since it was looked at, the open still does not wait for a writer or set a device going.
int open_look_alike(const std::string& path, const Message& what) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) refuse_unless_regular(st, what);
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        ::close(fd);
        refuse_unless_regular(st, what);
        raise(PathFileAccess, {Msg::NotRegular, {what}});
    }
    if (fd >= 0) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

// Whether the runner or root has the entry (not what a link leads to: the link itself).
bool runners(const struct stat& st) { return st.st_uid == ::geteuid() || st.st_uid == 0; }

// A stranger's input, as a report names it: whose it is.
[[noreturn]] void refuse_strangers(const std::string& path, uid_t owner) {
    const struct passwd* user = ::getpwuid(owner);
    Message whose = user ? Message(user->pw_name) : Message(Msg::UserNumber, {numeral(owner)});
    raise(PermissionDenied, {Msg::StrangersInput, {rt::name(path), whose}});
}

// In a folder that others can write, what a stranger put there is passed over: it could be there
// for the run to read in place of the runner's own. The first one met is remembered, to be named
// should nothing else be found.
struct Strangers {
    bool shared = false;
    std::string first;
    uid_t owner = 0;

    explicit Strangers(const std::string& name) {
        struct stat dir {};
        shared = ::stat(directory_of(name).c_str(), &dir) == 0 && others_can_write(dir);
    }
    // Whether path is a stranger's, and so not to be read.
    bool passes_over(const std::string& path) {
        struct stat st {};
        if (!shared || ::lstat(path.c_str(), &st) != 0 || runners(st)) return false;
        if (first.empty()) first = path, owner = st.st_uid;
        return true;
    }
};

}  // namespace

// A file copied from Windows keeps the case it had there, where PHOTO.DAT and photo.dat name
// the same file: where the exact name is missing (or is a link that leads nowhere, or a
// stranger's), the one file whose name differs from it only in case is read instead. Between two
// or more there is no telling which was meant. Only a regular file is taken for the one meant: a
// FIFO or a device that merely has a similar name is not opened at all, lest the open wait for a
// writer or set a device going.
File open_input(const std::string& name, std::string& read_as) {
    Message what = rt::name(name);  // the file opened, as reports name it
    read_as = name;
    Strangers strangers(name);
    int fd = strangers.passes_over(name) ? -1 : ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 && (errno == ENOENT || !strangers.first.empty())) {
        std::vector<std::string> others = names_differing_in_case(name);
        std::erase_if(others, [&](const std::string& other) { return strangers.passes_over(other); });
        if (others.size() > 1) {
            std::vector<Message> listed;
            for (const std::string& other : others) listed.push_back(rt::name(other));
            raise(FileNotFound, {Msg::MissingWithLookAlikes,
                                 {what, numeral(static_cast<long long>(others.size())), {Msg::List, listed}}});
        }
        if (others.size() == 1) {
            read_as = others[0];
            what = {Msg::ForName, {rt::name(others[0]), rt::name(name)}};
            fd = open_look_alike(others[0], what);
        } else if (!strangers.first.empty()) {
            refuse_strangers(strangers.first, strangers.owner);
        } else {
            errno = ENOENT;
        }
    }
    if (fd < 0) {
        int err = errno;
        raise_system(error_for_errno(err, PathFileAccess), Msg::Opening, {what}, err);
    }
    // The very entry checked: one a stranger put in its place meanwhile is not read either.
    if (strangers.passes_over(read_as)) {
        ::close(fd);
        refuse_strangers(strangers.first, strangers.owner);
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        raise(PathFileAccess, {Msg::IsDirectory, {what}});
    }
    return File(fd);
}

std::size_t read(File file, char* buffer, std::size_t size, const std::string& name) {
    for (;;) {
        ssize_t n = ::read(file.descriptor(), buffer, size);
        if (n >= 0) return static_cast<std::size_t>(n);
        int err = errno;
        if (err != EINTR) raise_system(DeviceIO, Msg::Reading, {rt::name(name)}, err);
    }
}

void close(File file) noexcept {
    if (file) ::close(file.descriptor());
}

}  // namespace rt::os
