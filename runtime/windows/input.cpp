// Input files on Windows: opened for reading and read. The system itself finds a name whatever the
// case of its letters: the name given is the file's.
#include <memory>

#include "windows.hpp"

namespace rt::os {

File open_input(const std::string& name) {
    std::wstring w = system_path(wide(name));
    DWORD attributes = ::GetFileAttributesW(w.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        raise(PathFileAccess, {Msg::IsDirectory, {rt::name(name)}});
    auto open = std::make_unique<Open>();
    open->name = name;
    open->handle =
        ::CreateFileW(w.c_str(), GENERIC_READ, share_all, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (open->handle == INVALID_HANDLE_VALUE) {
        DWORD err = ::GetLastError();
        raise_system(error_for_code(err, PathFileAccess), Msg::Opening, {rt::name(name)}, err);
    }
    return File(open.release());
}

std::size_t read(const File& file, char* buffer, std::size_t size) {
    DWORD got = 0;
    if (!::ReadFile(handle(file), buffer, static_cast<DWORD>(size), &got, nullptr)) {
        DWORD err = ::GetLastError();
        if (err == ERROR_BROKEN_PIPE || err == ERROR_HANDLE_EOF) return 0;
        raise_system(DeviceIO, Msg::Reading, {rt::name(file.name())}, err);
    }
    return got;
}

}  // namespace rt::os
