// Run-time errors: each has a number and a message; raising one unwinds to the
// start-up code, which reports it on one line and ends the program with that number.
#pragma once

#include <exception>
#include <string>

#include "error_list.hpp"
#include "messages.hpp"

namespace rt {

// The run-time errors by name, each its number (error_list.hpp).
enum Error : int {
#define TRIO_ERROR_NUMBER(name, number, english) name = number,
    TRIO_ERRORS(TRIO_ERROR_NUMBER)
#undef TRIO_ERROR_NUMBER
};

// The name of a run-time error, by its number: a number of no error listed has a name of its own.
Msg error_name(int number);

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
