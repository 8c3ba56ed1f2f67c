// Run-time errors: each has a number and a message; raising one unwinds to the
// start-up code, which reports it on one line and ends the program with that number.
#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace rt {

enum Error : int {
    InvalidCall = 5,
    Overflow = 6,
    OutOfMemory = 7,
    SubscriptOutOfRange = 9,
    DivisionByZero = 11,
    TypeMismatch = 13,
    FileNotFound = 53,
    DeviceIO = 57,
    DiskFull = 61,
    InputPastEnd = 62,
    PermissionDenied = 70,
    PathFileAccess = 75,
};

// The fixed text of each error number.
const char* error_message(int number);

class RuntimeError : public std::exception {
  public:
    RuntimeError(int number, std::string concerns);
    int number() const { return number_; }
    // What the error concerns (a file, a field, an operation); may be empty.
    const std::string& concerns() const { return concerns_; }
    // "<message>" or "<message>: <concerns>".
    const char* what() const noexcept override { return text_.c_str(); }

  private:
    int number_;
    std::string concerns_;
    std::string text_;
};

[[noreturn]] void raise(int number, std::string concerns = {});

// Text from outside (a field, a file's name or path) as a report shows it: a control or non-ASCII
// byte as \xHH and a backslash as \\, so that a report is always one line and the two cannot be confused.
std::string escaped(std::string_view text);

}  // namespace rt
