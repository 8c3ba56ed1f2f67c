// Run-time errors: each has a number and a message; raising one unwinds to the
// start-up code, which reports it on one line and ends the program with that number.
#pragma once

#include <exception>
#include <string>

#include "messages.hpp"

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

class RuntimeError : public std::exception {
  public:
    RuntimeError(int number, Message detail);
    int number() const { return number_; }
    // What the error concerns (a file, a field, an operation), in words; may be empty.
    const std::string& concerns() const { return concerns_; }
    // The error's name, with what it concerns where it says.
    Message error() const;
    // The same, in words.
    const char* what() const noexcept override { return text_.c_str(); }

  private:
    int number_;
    Message detail_;
    std::string concerns_;
    std::string text_;
};

[[noreturn]] void raise(int number, Message detail = {});

}  // namespace rt
