// Every run-time error, listed once: its name in the code, its number, and its English name, which a
// report gives after the number ("run-time error 53: File not found"). The Error enum and
// error_name (errors.hpp), the catalog's message for each name (messages.hpp) and its English
// (messages.cpp) are all made from this list, X(Name, number, English name); a name stands in the
// translations' template as the catalog's sentences do (N_).
#pragma once

// TRANSLATORS: the names of the run-time errors, each a fixed name of its number (53 is always
// "File not found"), capitalised as a name
#define TRIO_ERRORS(X)                                          \
    X(InvalidCall, 5, N_("Invalid procedure call or argument")) \
    X(Overflow, 6, N_("Overflow"))                              \
    X(OutOfMemory, 7, N_("Out of memory"))                      \
    X(SubscriptOutOfRange, 9, N_("Subscript out of range"))     \
    X(DivisionByZero, 11, N_("Division by zero"))               \
    X(TypeMismatch, 13, N_("Type mismatch"))                    \
    X(FileNotFound, 53, N_("File not found"))                   \
    X(DeviceIO, 57, N_("Device I/O error"))                     \
    X(DiskFull, 61, N_("Disk full"))                            \
    X(InputPastEnd, 62, N_("Input past end of file"))           \
    X(PermissionDenied, 70, N_("Permission denied"))            \
    X(PathFileAccess, 75, N_("Path/File access error"))
