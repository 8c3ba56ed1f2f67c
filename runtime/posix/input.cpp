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
        std::string folder = directory_of(name);
        shared = ::stat(folder.c_str(), &dir) == 0 && others_can_write(dir, folder);
    }
    // Whether path is a stranger's, and so not to be read.
    bool passes_over(const std::string& path) {
        struct stat st {};
        return shared && ::lstat(path.c_str(), &st) == 0 && !runners(st) && note(path, st);
    }
    bool note(const std::string& path, const struct stat& st) {
        if (first.empty()) first = path, owner = st.st_uid;
        return true;
    }
    // The file at path, opened for reading in a folder others can write: a file, not a link, is
    // taken as it was opened (no link followed, no FIFO waited on), its owner read from the very
    // file opened; a link, where it is the runner's, is followed, and taken where it and what it
    // led to are still the same after. Anything a stranger put there, or swapped in meanwhile, is
    // not read: -1, noted; where there is nothing, -1 with errno ENOENT.
    int open(const std::string& path) {
        int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        struct stat link {
        }, opened{}, now{};
        bool is_link = fd < 0 && errno == ELOOP && ::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
        if (is_link) {
            if (!runners(link)) return note(path, link), -1;
            fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        }
        if (fd < 0) return -1;
        bool same = ::fstat(fd, &opened) == 0;
        if (is_link)
            same = same && ::lstat(path.c_str(), &now) == 0 && now.st_ino == link.st_ino && now.st_dev == link.st_dev &&
                   ::stat(path.c_str(), &now) == 0 && now.st_ino == opened.st_ino && now.st_dev == opened.st_dev;
        if (!same || (!is_link && !runners(opened))) {
            ::close(fd);
            note(path, is_link ? link : opened);
            errno = EACCES;
            return -1;
        }
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        return fd;
    }
};

// The look-alike opened for reading, without waiting: should it have been swapped for something
// else since it was looked at, the open still does not wait for a writer or set a device going;
// in a folder others can write, as strangers open it.
int open_look_alike(const std::string& path, const Message& what, Strangers& strangers) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) refuse_unless_regular(st, what);
    int fd = strangers.shared ? strangers.open(path) : ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        ::close(fd);
        refuse_unless_regular(st, what);
        raise(PathFileAccess, {Msg::NotRegular, {what}});
    }
    if (fd >= 0) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

}  // namespace

// A file copied from Windows keeps the case it had there, where PHOTO.DAT and photo.dat name
// the same file: where the exact name is missing (or is a link that leads nowhere, or a
// stranger's), the one file whose name differs from it only in case is read instead. Between two
// or more there is no telling which was meant. Only a regular file is taken for the one meant: a
// FIFO or a device that merely has a similar name is not opened at all, lest the open wait for a
// writer or set a device going.
File open_input(const std::string& name) {
    Message what = rt::name(name);  // the file opened, as reports name it
    std::string read_as = name;
    Strangers strangers(name);
    int fd = strangers.shared ? strangers.open(name) : ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
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
            fd = open_look_alike(others[0], what, strangers);
        }
        if (fd < 0 && !strangers.first.empty()) refuse_strangers(strangers.first, strangers.owner);
        if (others.empty()) errno = ENOENT;
    }
    if (fd < 0) {
        int err = errno;
        raise_system(error_for_errno(err, PathFileAccess), Msg::Opening, {what}, err);
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && (S_ISDIR(st.st_mode) || (strangers.shared && !S_ISREG(st.st_mode)))) {
        ::close(fd);
        refuse_unless_regular(st, what);
    }
    return File(fd, std::move(read_as));
}

std::size_t read(const File& file, char* buffer, std::size_t size) {
    for (;;) {
        ssize_t n = ::read(file.descriptor(), buffer, size);
        if (n >= 0) return static_cast<std::size_t>(n);
        int err = errno;
        if (err != EINTR) raise_system(DeviceIO, Msg::Reading, {rt::name(file.name())}, err);
    }
}

}  // namespace rt::os
