// What the POSIX files share: the system's words and error numbers, paths, descriptors, files closed.
#include "posix.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "os.hpp"

namespace rt::os {

std::string system_words(int err) { return std::strerror(err); }

int error_for_errno(int err, int otherwise) {
    switch (err) {
        case ENOENT: return FileNotFound;
        case EACCES:
        case EPERM:
        case EROFS: return PermissionDenied;
        case ENOSPC:
        case EDQUOT: return DiskFull;
        case EISDIR:
        case ENOTDIR:
        case ELOOP:
        case ENAMETOOLONG: return PathFileAccess;
        case ENOMEM: return OutOfMemory;
        default: return otherwise;
    }
}

std::string directory_of(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string base_of(const std::string& path) { return path.substr(path.rfind('/') + 1); }

std::string fd_path(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// Any file, input or result, closes the same way.
void close(File& file) noexcept {
    if (file) ::close(file.descriptor());
    file = File();
}

std::string program_directory() {
    char path[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0 || path[0] != '/') return "";
    return directory_of(std::string(path, static_cast<std::size_t>(n)));
}

void push_front(std::vector<std::string>& todo, const std::string& path) {
    std::vector<std::string> parts;
    for (std::size_t at = 0; at <= path.size();) {
        std::size_t slash = std::min(path.find('/', at), path.size());
        if (slash > at) parts.push_back(path.substr(at, slash - at));
        at = slash + 1;
    }
    todo.insert(todo.end(), parts.rbegin(), parts.rend());
}

void Descriptor::reset(int other) {
    if (fd >= 0) ::close(fd);
    fd = other;
}

}  // namespace rt::os
