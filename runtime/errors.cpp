#include "errors.hpp"

namespace rt {

const char* error_message(int number) {
    switch (number) {
        case InvalidCall: return "Invalid procedure call or argument";
        case Overflow: return "Overflow";
        case OutOfMemory: return "Out of memory";
        case SubscriptOutOfRange: return "Subscript out of range";
        case DivisionByZero: return "Division by zero";
        case TypeMismatch: return "Type mismatch";
        case FileNotFound: return "File not found";
        case DeviceIO: return "Device I/O error";
        case DiskFull: return "Disk full";
        case InputPastEnd: return "Input past end of file";
        case PermissionDenied: return "Permission denied";
        case PathFileAccess: return "Path/File access error";
        default: return "Application-defined or object-defined error";
    }
}

RuntimeError::RuntimeError(int number, std::string concerns)
    : number_(number), concerns_(std::move(concerns)), text_(error_message(number)) {
    if (!concerns_.empty()) text_ += ": " + concerns_;
}

void raise(int number, std::string concerns) { throw RuntimeError(number, std::move(concerns)); }

std::string escaped(std::string_view text) {
    static const char hex[] = "0123456789abcdef";
    std::string shown;
    for (unsigned char c : text) {
        if (c == '\\') {
            shown += "\\\\";
        } else if (c >= 0x20 && c < 0x7f) {
            shown += static_cast<char>(c);
        } else {
            shown += "\\x";
            shown += hex[c >> 4];
            shown += hex[c & 15];
        }
    }
    return shown;
}

}  // namespace rt
