// Value: the dynamically typed value every variable of the programs holds,
// with the arithmetic, comparison and conversion rules that act on it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "messages.hpp"

namespace rt {

// Ranked: a sum or product takes the higher rank of its operands (Empty ranks lowest).
enum class Kind : std::uint8_t { Empty, Integer, Long, Double, String };

struct Text {
    std::string text;
    friend bool operator==(const Text&, const Text&) = default;
};

// Where a Value read from a file came from, so that an error it meets can name its field: the
// field's number and the file's name as read (kept for the life of the program).
struct Origin {
    const std::string* file = nullptr;
    std::uint32_t field = 0;
    explicit operator bool() const { return file != nullptr; }
};

// The field `field` of the file named `file`; and that field, as a report names it.
Origin field_origin(const std::string& file, std::uint32_t field);
Message field_of(const Origin& origin);

class Value {
  public:
    Value() = default;  // Empty
    static Value integer(std::int16_t v) { return Value(Repr(std::in_place_index<1>, v)); }
    static Value long_(std::int32_t v) { return Value(Repr(std::in_place_index<2>, v)); }
    static Value double_(double v) { return Value(Repr(std::in_place_index<3>, v)); }
    static Value string(std::string text) { return Value(Repr(std::in_place_index<4>, Text{std::move(text)})); }

    Kind kind() const { return static_cast<Kind>(repr_.index()); }
    bool is_empty() const { return kind() == Kind::Empty; }

    // Accessors for the kind at hand (checked by std::get).
    std::int16_t as_integer() const { return std::get<1>(repr_); }
    std::int32_t as_long() const { return std::get<2>(repr_); }
    double as_double() const { return std::get<3>(repr_); }
    const Text& as_text() const { return std::get<4>(repr_); }

    // Where it was read from; none for a Value the program made.
    const Origin& origin() const { return origin_; }
    Value& from(Origin origin) {
        origin_ = origin;
        return *this;
    }

    // Same kind, same contents, wherever each came from.
    friend bool operator==(const Value& a, const Value& b) { return a.repr_ == b.repr_; }

  private:
    using Repr = std::variant<std::monostate, std::int16_t, std::int32_t, double, Text>;
    explicit Value(Repr r) : repr_(std::move(r)) {}
    Repr repr_;
    Origin origin_;
};

inline Value Integer(std::int16_t v) { return Value::integer(v); }
inline Value Long(std::int32_t v) { return Value::long_(v); }
inline Value Double(double v) { return Value::double_(v); }
inline Value String(std::string text) { return Value::string(std::move(text)); }

// Arithmetic, each rule in one place.
Value add(const Value& a, const Value& b);
Value multiply(const Value& a, const Value& b);
Value divide(const Value& a, const Value& b);
Value remainder(const Value& a, const Value& b);

// Numeric comparisons (Empty counts as 0; a String is a type mismatch).
bool less_than(const Value& a, const Value& b);
bool equal(const Value& a, const Value& b);

// Conversions: halves to even, out of range is the overflow error.
std::int16_t to_16bit(const Value& v);
std::int32_t to_32bit(const Value& v);
std::int16_t double_to_16bit(double d);
std::int32_t double_to_32bit(double d);

// The numeric value of v as a Double (Empty is 0).
double to_double(const Value& v);

// Power and square root of Doubles.
double power(double base, double exponent);
double square_root(double d);

// A 16-bit difference, as tallage's tables take it; outside -32768 to 32767 is the overflow error.
std::int16_t subtract_16bit(std::int16_t a, std::int16_t b);

// Number text: Integer and Long in plain decimal, Double as "%.15g" with
// negative zero as "0", a String as it stands, Empty as nothing.
// Appends to out; returns the characters written.
std::size_t append_text(std::string& out, const Value& v);
std::string to_text(const Value& v);
// Writes the text of a Double into buf (at least 32 chars); returns the end.
char* format_double(char* buf, double d);

// Reads a field's text as a number if it has a number's form, else as a String; the Value keeps
// its origin. A whole number is an Integer if it fits 16 bits, a Long if 32, else a Double.
Value parse_field(std::string_view text, Origin origin = {});

}  // namespace rt
