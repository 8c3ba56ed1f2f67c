// What the Windows files share: text as the system takes it (UTF-16), the system's words and error
// codes, paths of any length, handles held for a scope, and what a File stands for.
#pragma once

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "errors.hpp"
#include "os.hpp"

namespace rt::os {

std::wstring wide(std::string_view text);
std::string narrow(std::wstring_view text);

// The system's own words for an error, on one line, in the language of the program's catalog
// (language.cpp: the user's, or English where the program has no catalog of it); its number
// where it has none.
std::string system_text(DWORD err);
LANGID words_language();
// The run-time error for a failed open, create or move, by the system's error code.
int error_for_code(DWORD err, int otherwise);
// A failure of the system's, with what was being done and the names involved before its words.
[[noreturn]] inline void raise_system(int number, Msg doing, std::vector<Message> parts, DWORD err) {
    parts.emplace_back(system_text(err));
    raise(number, {doing, std::move(parts)});
}

// A path in full, however long, or empty where the system cannot make one of it.
std::wstring full_path(const std::wstring& path);
// Whether a path is in the \\?\ form already.
bool extended(const std::wstring& path);
// A path as the system is to be given it: past MAX_PATH, in full in its \\?\ form.
std::wstring system_path(const std::wstring& path);
// The path of the file a handle is open on, however long; empty, with the system's reason in err.
std::wstring final_path(HANDLE h, DWORD& err);

// A handle closed with its scope.
struct Handle {
    HANDLE h;
    explicit Handle(HANDLE handle) : h(handle) {}
    ~Handle() {
        if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    bool valid() const { return h != INVALID_HANDLE_VALUE; }
};

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// What a File stands for here: a handle and, for a result, what it takes to give the file its
// name, or to remove it, through that handle, so that no other program can take it from under
// this one in between.
struct Open {
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::string name;          // the file's name, as reports give it
    std::wstring temp_system;  // a result's temporary, as the system is given its path
    bool moved = false;        // it has the result's name
    std::wstring named;        // and this is the result's path, as the system is given it
    DWORD flush_error = 0;     // a flush that failed once the result had its name
};

inline HANDLE handle(const File& file) { return file.open()->handle; }

}  // namespace rt::os
