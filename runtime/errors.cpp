#include "errors.hpp"

namespace rt {

RuntimeError::RuntimeError(int number, Message detail)
    : number_(number), detail_(std::move(detail)), concerns_(words(detail_)), text_(words(error())) {}

Message RuntimeError::error() const {
    if (detail_.empty()) return error_name(number_);
    return {Msg::ErrorWithDetail, {error_name(number_), detail_}};
}

void raise(int number, Message detail) { throw RuntimeError(number, std::move(detail)); }

Msg error_name(int number) {
    switch (number) {
#define TRIO_ERROR_NAME(name, number, english) \
    case name: return Msg::name;
        TRIO_ERRORS(TRIO_ERROR_NAME)
#undef TRIO_ERROR_NAME
        default: return Msg::OtherError;
    }
}

}  // namespace rt
