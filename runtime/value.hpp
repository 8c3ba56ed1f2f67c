// Value: the dynamically typed value every variable of the programs holds,
// with the arithmetic, comparison and conversion rules that act on it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace rt {

// Ranked: a sum or product takes the higher rank of its operands (Empty ranks lowest).
enum class Kind : std::uint8_t { Empty, Integer, Long, Double, String };

// A String keeps where it came from, so that a type mismatch can name the field.
struct Text {
    std::string text;
    std::string origin;  // e.g. "field 2 of PHOTO.DAT"; empty for Strings made in code
    friend bool operator==(const Text& a, const Text& b) { return a.text == b.text; }
};

class Value {
  public:
    Value() = default;  // Empty
    static Value integer(std::int16_t v) { return Value(Repr(std::in_place_index<1>, v)); }
    static Value long_(std::int32_t v) { return Value(Repr(std::in_place_index<2>, v)); }
    static Value double_(double v) { return Value(Repr(std::in_place_index<3>, v)); }
    static Value string(std::string text, std::string origin = {}) {
        return Value(Repr(std::in_place_index<4>, Text{std::move(text), std::move(origin)}));
    }

    Kind kind() const { return static_cast<Kind>(repr_.index()); }
    bool is_empty() const { return kind() == Kind::Empty; }

    // Accessors for the kind at hand (checked by std::get).
    std::int16_t as_integer() const { return std::get<1>(repr_); }
    std::int32_t as_long() const { return std::get<2>(repr_); }
    double as_double() const { return std::get<3>(repr_); }
    const Text& as_text() const { return std::get<4>(repr_); }

    friend bool operator==(const Value&, const Value&) = default;  // same kind, same contents

  private:
    using Repr = std::variant<std::monostate, std::int16_t, std::int32_t, double, Text>;
    explicit Value(Repr r) : repr_(std::move(r)) {}
    Repr repr_;
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

// Number text: Integer and Long in plain decimal, Double as "%.15g" with
// negative zero as "0", a String as it stands, Empty as nothing.
// Appends to out; returns the characters written.
std::size_t append_text(std::string& out, const Value& v);
std::string to_text(const Value& v);
// Writes the text of a Double into buf (at least 32 chars); returns the end.
char* format_double(char* buf, double d);

// Reads a field's text as a number if it has a number's form, else as a String.
// A whole number is an Integer if it fits 16 bits, a Long if 32, else a Double.
Value parse_field(std::string_view text, std::string origin);

}  // namespace rt
