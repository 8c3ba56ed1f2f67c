// The trust rules on POSIX, which results and the display module both follow: no link, file or
// folder that someone else could have planted or changed decides where a result goes or which
// code is loaded.
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <climits>

#include "posix.hpp"

namespace rt::os {

namespace {

// Whether another user has the group as their own first group, which its member list does not
// show. The user database is read as far as it lists its users (a networked directory lists none
// where it does not enumerate them), and only so far: past a bound in entries or time, the group
// is taken as shared, so that a directory of very many users cannot make every run slow.
bool another_users_first_group(gid_t gid, uid_t me) {
    constexpr int most_entries = 20000;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    bool another = false;
    ::setpwent();
    for (int n = 1; const struct passwd* user = ::getpwent(); ++n) {
        if ((user->pw_gid == gid && user->pw_uid != me) || n >= most_entries ||
            (n % 64 == 0 && std::chrono::steady_clock::now() > until)) {
            another = true;
            break;
        }
    }
    ::endpwent();
    return another;
}

// Whether the group is the runner's own and theirs alone: named after them, with no members listed
// but them, and no one else's first group, as the group each user gets of their own is (where
// users' files are then made group-writable, as Debian 13 makes them, such a bit lets no one else
// write). Asked once a run, and only where a group's write bit is met.
bool own_private_group(gid_t gid) {
    if (gid != ::getegid()) return false;
    static const bool is_private = [] {
        const struct passwd* me = ::getpwuid(::geteuid());
        if (!me) return false;
        std::string my_name = me->pw_name;
        const struct group* group = ::getgrgid(::getegid());
        bool named_mine = group && group->gr_name == my_name &&
                          (!group->gr_mem[0] || (group->gr_mem[0] == my_name && !group->gr_mem[1]));
        return named_mine && !another_users_first_group(::getegid(), ::geteuid());
    }();
    return is_private;
}

}  // namespace

// With an access list, the group bits are its mask: where they grant no write, no entry of the
// list does; where they do, the list says who.
bool others_can_write(const struct stat& st, const std::string& path) {
    if (st.st_mode & S_IWOTH) return true;
    if (!(st.st_mode & S_IWGRP)) return false;
    if (!own_private_group(st.st_gid)) return true;
    return list_lets_others_write(path, st, own_private_group);
}

// A link is trusted where it is the runner's or root's, or stands in a directory of theirs that no
// one else can write. A group's directory, sticky or not, and another user's own are others'.
// (The system's own guard, protected_symlinks, never sees the links followed here, and is off on
// some systems.)
bool link_is_trusted(const struct stat& link, const struct stat& dir, const std::string& dir_path) {
    uid_t me = ::geteuid();
    if (link.st_uid == me || link.st_uid == 0) return true;
    return (dir.st_uid == me || dir.st_uid == 0) && !others_can_write(dir, dir_path);
}

// The display module may be loaded, or the translations read, where it is root's or the runner's
// and no one else can write it; so is the folder it is in; and so is every folder above, up to /,
// but that one others can write may be sticky (as /tmp is), as no one can rename or remove what is
// not theirs there. Anyone else could put code of theirs in its place and have it run as the
// runner, or words of theirs in the program's reports (as OpenSSH holds the files it trusts).
Message place_distrusted(const std::string& real) {
    uid_t me = ::geteuid();
    struct stat st {};
    auto whose = [&](const std::string& path, bool own_folder) -> Message {
        if (st.st_uid != 0 && st.st_uid != me) return {Msg::IsAnotherUsers, {name(path)}};
        if (others_can_write(st, path) && (own_folder || !(st.st_mode & S_ISVTX)))
            return {Msg::WritableByOthers, {name(path)}};
        return {};
    };
    if (::stat(real.c_str(), &st) != 0 || !(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)))
        return {Msg::NotRegular, {name(real)}};
    Message why = whose(real, true);
    for (std::string dir = real; why.empty() && dir != "/";) {
        bool own_folder = dir == real;
        dir = directory_of(dir);
        if (::stat(dir.c_str(), &st) != 0) return {Msg::Examining, {name(dir), system_words(errno)}};
        why = whose(dir, own_folder);
    }
    return why;
}

// Each link met on the way to the module is held to the rule for results' links, lest someone
// else choose which file of root's is run.
Message untrusted_link_on_the_way(const std::string& path) {
    std::vector<std::string> todo;
    push_front(todo, path);
    std::string at = "/";  // the folder reached, with no link in its path
    int links = 0;
    while (!todo.empty()) {
        std::string part = todo.back();
        todo.pop_back();
        if (part == ".") continue;
        if (part == "..") {
            at = directory_of(at);
            continue;
        }
        std::string entry = at;
        if (entry != "/") entry += '/';
        entry += part;
        struct stat st {};
        struct stat dir {};
        if (::lstat(entry.c_str(), &st) != 0) return {};  // what is missing is not loaded anyway
        if (!S_ISLNK(st.st_mode)) {
            at = entry;
            continue;
        }
        if (::stat(at.c_str(), &dir) != 0 || !link_is_trusted(st, dir, at)) return {Msg::StrangersLink, {name(entry)}};
        char target[PATH_MAX];
        ssize_t n = ::readlink(entry.c_str(), target, sizeof target);
        if (++links > max_links || n <= 0 || n >= static_cast<ssize_t>(sizeof target))
            return {Msg::CannotBeFollowed, {name(entry)}};
        if (target[0] == '/') at.assign(1, '/');  // (not = "/", which GCC 12 warns of falsely)
        push_front(todo, std::string(target, static_cast<std::size_t>(n)));
    }
    return {};
}

}  // namespace rt::os
