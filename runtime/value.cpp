#include "value.hpp"

#include <fast_float/fast_float.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <functional>
#include <limits>
#include <set>

#include "errors.hpp"
#include "text.hpp"

namespace rt {

namespace {

bool fits_16bit(std::int64_t v) { return v >= INT16_MIN && v <= INT16_MAX; }
bool fits_32bit(std::int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; }

// A String in arithmetic, a comparison or a conversion names itself, and the field it was read from.
[[noreturn]] void string_is_not_a_number(const Value& v) {
    const std::string& text = v.as_text().text;
    std::string shown(first_characters(text, 40));
    if (shown.size() < text.size()) shown += "...";
    if (v.origin()) raise(TypeMismatch, {Msg::FieldNotANumber, {field_of(v.origin()), name(shown)}});
    raise(TypeMismatch, {Msg::StringNotANumber, {name(shown)}});
}

// The kind a sum or product is worked in: the higher-ranked operand's, Empty counting as Integer.
Kind working_kind(const Value& a, const Value& b) {
    if (a.kind() == Kind::String) string_is_not_a_number(a);
    if (b.kind() == Kind::String) string_is_not_a_number(b);
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
double finite_or_overflow(double r, Msg beyond) {
    if (!std::isfinite(r)) raise(Overflow, beyond);
    return r;
}

// Sums and products widen one step instead of overflowing: each is worked in the wider operand's
// kind (Integer, Long, Double), and a result past that kind's range is given in the next one.
template <class Op>
Value widened(const Value& a, const Value& b, Op op, Msg beyond_double) {
    switch (working_kind(a, b)) {
        case Kind::Integer: {
            std::int32_t r = op(std::int32_t{whole(a)}, std::int32_t{whole(b)});
            return fits_16bit(r) ? Integer(static_cast<std::int16_t>(r)) : Long(r);
        }
        case Kind::Long: {
            std::int64_t r = op(std::int64_t{whole(a)}, std::int64_t{whole(b)});
            return fits_32bit(r) ? Long(static_cast<std::int32_t>(r)) : Double(static_cast<double>(r));
        }
        default: return Double(finite_or_overflow(op(to_double(a), to_double(b)), beyond_double));
    }
}

// A conversion out of range: the value, and the field it was read from.
[[noreturn]] void beyond_range(const Value& v, Msg plain, Msg of_field) {
    if (v.origin()) raise(Overflow, {of_field, {field_of(v.origin()), to_text(v)}});
    raise(Overflow, {plain, {to_text(v)}});
}

// A Double rounded halves to even (the FPU's default rounding), if it lies within lowest to highest.
bool rounded_within(double d, double lowest, double highest, double& r) {
    r = std::nearbyint(d);
    return r >= lowest && r <= highest;
}

}  // namespace

Origin field_origin(const std::string& file, std::uint32_t field) {
    static std::set<std::string> files;  // a program reads a file or two: kept for its life
    return Origin{&*files.insert(file).first, field};
}

Message field_of(const Origin& origin) {
    return {Msg::FieldOf, {numeral(origin.field), name(origin.file ? *origin.file : std::string())}};
}

double to_double(const Value& v) {
    switch (v.kind()) {
        case Kind::Empty: return 0.0;
        case Kind::Integer: return v.as_integer();
        case Kind::Long: return v.as_long();
        case Kind::Double: return v.as_double();
        case Kind::String: string_is_not_a_number(v);
    }
    return 0.0;
}

Value add(const Value& a, const Value& b) { return widened(a, b, std::plus<>(), Msg::SumBeyondDouble); }

Value multiply(const Value& a, const Value& b) { return widened(a, b, std::multiplies<>(), Msg::ProductBeyondDouble); }

// A quotient is always a Double; dividing by 0 (0 by 0 included) is the division-by-zero error.
Value divide(const Value& a, const Value& b) {
    double divisor = to_double(b);
    double dividend = to_double(a);
    if (divisor == 0.0) raise(DivisionByZero, Msg::QuotientByZero);
    return Double(finite_or_overflow(dividend / divisor, Msg::QuotientBeyondDouble));
}

// Both operands are rounded to 32-bit integers (halves to even) first; the result has the left operand's sign.
Value remainder(const Value& a, const Value& b) {
    std::int32_t dividend = to_32bit(a);
    std::int32_t divisor = to_32bit(b);
    if (divisor == 0) raise(DivisionByZero, Msg::RemainderByZero);
    std::int32_t r = divisor == -1 ? 0 : dividend % divisor;  // INT32_MIN % -1 is 0, not a trap
    if (working_kind(a, b) == Kind::Integer) return Integer(static_cast<std::int16_t>(r));
    return Long(r);
}

// Comparisons are numeric: every Integer and Long is exact as a Double.
bool less_than(const Value& a, const Value& b) { return to_double(a) < to_double(b); }
bool equal(const Value& a, const Value& b) { return to_double(a) == to_double(b); }

// Conversion to whole numbers rounds halves to even, then checks the range.
std::int32_t double_to_32bit(double d) { return to_32bit(Double(d)); }
std::int16_t double_to_16bit(double d) { return to_16bit(Double(d)); }

std::int32_t to_32bit(const Value& v) {
    if (v.kind() == Kind::String) string_is_not_a_number(v);
    if (v.kind() != Kind::Double) return whole(v);
    double r = 0.0;
    if (!rounded_within(v.as_double(), -2147483648.0, 2147483647.0, r))
        beyond_range(v, Msg::Beyond32, Msg::FieldBeyond32);
    return static_cast<std::int32_t>(r);
}

std::int16_t to_16bit(const Value& v) {
    if (v.kind() == Kind::String) string_is_not_a_number(v);
    double r = v.kind() == Kind::Double ? 0.0 : whole(v);
    if (v.kind() == Kind::Double ? !rounded_within(v.as_double(), -32768.0, 32767.0, r) : !fits_16bit(whole(v)))
        beyond_range(v, Msg::Beyond16, Msg::FieldBeyond16);
    return static_cast<std::int16_t>(r);
}

std::int16_t subtract_16bit(std::int16_t a, std::int16_t b) {
    int d = a - b;
    if (!fits_16bit(d)) raise(Overflow, {Msg::DifferenceBeyond16, {numeral(a), numeral(b)}});
    return static_cast<std::int16_t>(d);
}

// No power or root yields an infinity or a NaN: those are the overflow and invalid-argument errors.
double power(double base, double exponent) {
    // A square is one exact-as-rounded product, as pow gives it, at a fraction of pow's cost.
    double r = exponent == 2.0 ? base * base : std::pow(base, exponent);
    if (std::isnan(r) || (base == 0.0 && exponent < 0.0))
        raise(InvalidCall, {Msg::NoPower, {to_text(Double(base)), to_text(Double(exponent))}});
    return finite_or_overflow(r, Msg::PowerBeyondDouble);
}

double square_root(double d) {
    if (d < 0.0) raise(InvalidCall, {Msg::NoSquareRoot, {to_text(Double(d))}});
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
            if (t[i] != '0')
                significant = true;
            else
                --exponent;
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

// A field's text as a number, or as a String where it has no number's form.
Value read_number(std::string_view text, Origin origin) {
    bool whole = false;
    if (!has_number_form(text, whole)) return Value::string(std::string(text));
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
    if (out_of_range && beyond_largest_double(digits)) {
        if (origin) raise(Overflow, {Msg::FieldBeyondDouble, {field_of(origin)}});
        raise(Overflow, {Msg::NumberBeyondDouble, {name(std::string(text))}});
    }
    if (out_of_range) return Double(text[0] == '-' ? -0.0 : 0.0);
    if (ec != std::errc{} || end != digits.data() + digits.size()) {
        return Value::string(std::string(text));
    }
    return Double(d);
}

}  // namespace

Value parse_field(std::string_view text, Origin origin) {
    Value v = read_number(text, origin);
    return v.from(origin);
}

}  // namespace rt
