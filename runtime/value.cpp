#include "value.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include <fast_float/fast_float.h>

#include "errors.hpp"

namespace rt {

namespace {

bool fits_16bit(std::int64_t v) { return v >= INT16_MIN && v <= INT16_MAX; }
bool fits_32bit(std::int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; }

// A String in arithmetic, a comparison or a conversion names itself and where it came from.
[[noreturn]] void string_is_not_a_number(const Text& t) {
    std::string shown = escaped(std::string_view(t.text).substr(0, 40));
    if (t.text.size() > 40) shown += "...";
    std::string what = t.origin.empty() ? "the String" : t.origin + " is";
    raise(TypeMismatch, what + " \"" + shown + "\", not a number");
}

// The kind a sum or product is worked in: the higher-ranked operand's, Empty counting as Integer.
Kind working_kind(const Value& a, const Value& b) {
    if (a.kind() == Kind::String) string_is_not_a_number(a.as_text());
    if (b.kind() == Kind::String) string_is_not_a_number(b.as_text());
    return std::max({a.kind(), b.kind(), Kind::Integer});
}

// Empty, Integer and Long as a 32-bit integer.
std::int32_t whole(const Value& v) {
    switch (v.kind()) {
        case Kind::Integer: return v.as_integer();
        case Kind::Long: return v.as_long();
        default: return 0;
    }
}

// A Double result past the largest Double is the overflow error, never an infinity.
double finite_or_overflow(double r, const char* what) {
    if (!std::isfinite(r)) raise(Overflow, what);
    return r;
}

}  // namespace

double to_double(const Value& v) {
    switch (v.kind()) {
        case Kind::Empty: return 0.0;
        case Kind::Integer: return v.as_integer();
        case Kind::Long: return v.as_long();
        case Kind::Double: return v.as_double();
        case Kind::String: string_is_not_a_number(v.as_text());
    }
    return 0.0;
}

// Sums widen one step (Integer, Long, Double) instead of overflowing.
Value add(const Value& a, const Value& b) {
    switch (working_kind(a, b)) {
        case Kind::Integer: {
            std::int32_t s = whole(a) + whole(b);
            return fits_16bit(s) ? Integer(static_cast<std::int16_t>(s)) : Long(s);
        }
        case Kind::Long: {
            std::int64_t s = std::int64_t{whole(a)} + whole(b);
            return fits_32bit(s) ? Long(static_cast<std::int32_t>(s)) : Double(static_cast<double>(s));
        }
        default: return Double(finite_or_overflow(to_double(a) + to_double(b), "sum beyond the largest Double"));
    }
}

// Products widen one step (Integer, Long, Double) instead of overflowing.
Value multiply(const Value& a, const Value& b) {
    switch (working_kind(a, b)) {
        case Kind::Integer: {
            std::int32_t p = whole(a) * whole(b);
            return fits_16bit(p) ? Integer(static_cast<std::int16_t>(p)) : Long(p);
        }
        case Kind::Long: {
            std::int64_t p = std::int64_t{whole(a)} * whole(b);
            return fits_32bit(p) ? Long(static_cast<std::int32_t>(p)) : Double(static_cast<double>(p));
        }
        default:
            return Double(finite_or_overflow(to_double(a) * to_double(b), "product beyond the largest Double"));
    }
}

// A quotient is always a Double; dividing by 0 (0 by 0 included) is the division-by-zero error.
Value divide(const Value& a, const Value& b) {
    double divisor = to_double(b);
    double dividend = to_double(a);
    if (divisor == 0.0) raise(DivisionByZero, "quotient");
    return Double(finite_or_overflow(dividend / divisor, "quotient beyond the largest Double"));
}

// Both operands are rounded to 32-bit integers (halves to even) first; the result has the left operand's sign.
Value remainder(const Value& a, const Value& b) {
    std::int32_t dividend = to_32bit(a);
    std::int32_t divisor = to_32bit(b);
    if (divisor == 0) raise(DivisionByZero, "remainder");
    std::int32_t r = divisor == -1 ? 0 : dividend % divisor;  // INT32_MIN % -1 is 0, not a trap
    if (working_kind(a, b) == Kind::Integer) return Integer(static_cast<std::int16_t>(r));
    return Long(r);
}

// Comparisons are numeric: every Integer and Long is exact as a Double.
bool less_than(const Value& a, const Value& b) { return to_double(a) < to_double(b); }
bool equal(const Value& a, const Value& b) { return to_double(a) == to_double(b); }

// Conversion to whole numbers rounds halves to even (the FPU's default rounding), then checks the range.
std::int32_t double_to_32bit(double d) {
    double r = std::nearbyint(d);
    if (!(r >= -2147483648.0 && r <= 2147483647.0)) raise(Overflow, to_text(Double(d)) + " is beyond the 32-bit range");
    return static_cast<std::int32_t>(r);
}

std::int16_t double_to_16bit(double d) {
    double r = std::nearbyint(d);
    if (!(r >= -32768.0 && r <= 32767.0)) raise(Overflow, to_text(Double(d)) + " is beyond the 16-bit range");
    return static_cast<std::int16_t>(r);
}

std::int32_t to_32bit(const Value& v) {
    if (v.kind() == Kind::Double) return double_to_32bit(v.as_double());
    if (v.kind() == Kind::String) string_is_not_a_number(v.as_text());
    return whole(v);
}

std::int16_t to_16bit(const Value& v) {
    if (v.kind() == Kind::Double) return double_to_16bit(v.as_double());
    if (v.kind() == Kind::String) string_is_not_a_number(v.as_text());
    std::int32_t w = whole(v);
    if (!fits_16bit(w)) raise(Overflow, std::to_string(w) + " is beyond the 16-bit range");
    return static_cast<std::int16_t>(w);
}

// No power or root yields an infinity or a NaN: those are the overflow and invalid-argument errors.
double power(double base, double exponent) {
    // A square is one exact-as-rounded product, as pow gives it, at a fraction of pow's cost.
    double r = exponent == 2.0 ? base * base : std::pow(base, exponent);
    if (std::isnan(r) || (base == 0.0 && exponent < 0.0)) raise(InvalidCall, "power");
    return finite_or_overflow(r, "power beyond the largest Double");
}

double square_root(double d) {
    if (d < 0.0) raise(InvalidCall, "square root of a negative number");
    return std::sqrt(d);
}

char* format_double(char* buf, double d) {
    if (d == 0.0) {  // negative zero prints as "0"
        *buf = '0';
        return buf + 1;
    }
    return std::to_chars(buf, buf + 32, d, std::chars_format::general, 15).ptr;
}

std::size_t append_text(std::string& out, const Value& v) {
    char buf[32];
    char* end = buf;
    switch (v.kind()) {
        case Kind::Empty: return 0;
        case Kind::Integer: end = std::to_chars(buf, buf + sizeof buf, v.as_integer()).ptr; break;
        case Kind::Long: end = std::to_chars(buf, buf + sizeof buf, v.as_long()).ptr; break;
        case Kind::Double: end = format_double(buf, v.as_double()); break;
        case Kind::String: out += v.as_text().text; return v.as_text().text.size();
    }
    out.append(buf, end);
    return static_cast<std::size_t>(end - buf);
}

std::string to_text(const Value& v) {
    std::string s;
    append_text(s, v);
    return s;
}

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Whether text has a number's form: sign, digits, optional "." and digits, optional exponent.
// Sets whole when there is neither a "." nor an exponent.
bool has_number_form(std::string_view t, bool& whole) {
    std::size_t i = 0, n = t.size();
    if (i < n && (t[i] == '+' || t[i] == '-')) ++i;
    std::size_t digits = 0;
    while (i < n && is_digit(t[i])) ++i, ++digits;
    whole = true;
    if (i < n && t[i] == '.') {
        whole = false;
        ++i;
        while (i < n && is_digit(t[i])) ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < n && (t[i] == 'e' || t[i] == 'E')) {
        whole = false;
        ++i;
        if (i < n && (t[i] == '+' || t[i] == '-')) ++i;
        std::size_t exp_digits = 0;
        while (i < n && is_digit(t[i])) ++i, ++exp_digits;
        if (exp_digits == 0) return false;
    }
    return i == n;
}

// Whether a number too large or too small for a Double lies beyond the largest one (else it is
// nearer zero than the smallest): every such number is past 1e308 or under 1e-323, so the decimal
// exponent of its first significant digit says which, whatever the number reader reported.
bool beyond_largest_double(std::string_view t) {
    std::size_t i = 0, n = t.size();
    if (i < n && (t[i] == '+' || t[i] == '-')) ++i;
    std::int64_t exponent = -1;  // of the first significant digit, before the written exponent
    bool significant = false, fraction = false;
    for (; i < n && t[i] != 'e' && t[i] != 'E'; ++i) {
        if (t[i] == '.') {
            fraction = true;
        } else if (!fraction) {
            if (t[i] != '0') significant = true;
            if (significant) ++exponent;
        } else if (!significant) {
            if (t[i] != '0') significant = true;
            else --exponent;
        }
    }
    if (!significant) return false;  // a zero, however written
    std::int64_t written = 0;
    bool negative = false;
    if (i < n) {
        ++i;
        if (i < n && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
        for (; i < n; ++i) written = std::min<std::int64_t>(written * 10 + (t[i] - '0'), INT32_MAX);
    }
    return exponent + (negative ? -written : written) > 0;
}

}  // namespace

Value parse_field(std::string_view text, std::string origin) {
    bool whole = false;
    if (!has_number_form(text, whole)) return Value::string(std::string(text), std::move(origin));
    std::string_view digits = text[0] == '+' ? text.substr(1) : text;
    if (whole) {
        std::int64_t v = 0;
        auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v);
        if (ec == std::errc{} && end == digits.data() + digits.size()) {
            if (fits_16bit(v)) return Integer(static_cast<std::int16_t>(v));
            if (fits_32bit(v)) return Long(static_cast<std::int32_t>(v));
        }
    }
    // fast_float rounds to the nearest Double whatever the number's length. Out of range, its
    // versions differ (an infinity or a zero with no error, or an error with or without them), so
    // the rule is settled here: past the largest Double is an overflow, nearer zero than the
    // smallest is a zero of the number's sign.
    double d = 0.0;
    auto [end, ec] = fast_float::from_chars(digits.data(), digits.data() + digits.size(), d);
    bool out_of_range = ec == std::errc::result_out_of_range || std::isinf(d);
    if (out_of_range && beyond_largest_double(digits)) raise(Overflow, origin + " is beyond the largest Double");
    if (out_of_range) return Double(text[0] == '-' ? -0.0 : 0.0);
    if (ec != std::errc{} || end != digits.data() + digits.size()) {
        return Value::string(std::string(text), std::move(origin));
    }
    return Double(d);
}

}  // namespace rt
