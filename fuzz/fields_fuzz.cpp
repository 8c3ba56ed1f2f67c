// Fuzz target: reads fields from arbitrary bytes, then feeds them to every Value operation and to
// the divisor listing. Any crash, leak or sanitizer report is a fault; so is an operation that
// yields an infinity or a NaN instead of an error, number text that is not a number, or a
// listing that differs from the counted loop written the literal way.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "errors.hpp"
#include "fields.hpp"
#include "listing.hpp"
#include "literal_loop.hpp"
#include "loop.hpp"

using namespace rt;

namespace {

void require(bool ok) {
    if (!ok) std::abort();
}

void check_number(const Value& v) {
    if (v.kind() == Kind::String) return;
    if (v.kind() == Kind::Double) require(std::isfinite(v.as_double()));
    std::string text = to_text(v);
    require(text.find("inf") == std::string::npos && text.find("nan") == std::string::npos);
}

template <class F>
void attempt(F f) {
    try {
        f();
    } catch (const RuntimeError& e) {
        require(e.number() > 0 && e.number() < 256 && !words(error_name(e.number())).empty());
    }
}

struct Collect : computer::LineSink {
    std::string text;
    void write(std::string_view t) override { text += t; }
};

// The listing against the literal loop, where the loop is short enough to run.
void compare_listings(const Value& K, const Value& M) {
    if (K.kind() == Kind::String || M.kind() == Kind::String) return;
    double k = to_double(K), m = to_double(M);
    if (!(m - k < 20000) || std::fabs(k) > 1e10) return;
    Collect fast;
    std::string slow;
    int fast_error = 0, slow_error = 0;
    try {
        computer::list_divisor_counters(K, M, fast);
    } catch (const RuntimeError& e) {
        fast_error = e.number();
    }
    try {
        reference::literal_divisor_loop(K, M, [&](const std::string& line) { slow += line; });
    } catch (const RuntimeError& e) {
        slow_error = e.number();
    }
    require(fast_error == slow_error && fast.text == slow);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FieldReader reader(std::string_view(reinterpret_cast<const char*>(data), size), "fuzz");
    std::vector<Value> values;
    attempt([&] {
        while (values.size() < 32) values.push_back(reader.next());
    });
    for (const Value& v : values) {
        attempt([&] { check_number(v); });
        attempt([&] { to_16bit(v); });
        attempt([&] { to_32bit(v); });
        attempt([&] { require(square_root(to_double(v)) >= 0); });
        attempt([&] { check_number(Double(power(to_double(v), 2.0))); });
    }
    for (std::size_t i = 0; i + 1 < values.size(); ++i) {
        const Value &a = values[i], &b = values[i + 1];
        attempt([&] { check_number(add(a, b)); });
        attempt([&] { check_number(multiply(a, b)); });
        attempt([&] { check_number(divide(a, b)); });
        attempt([&] { check_number(remainder(a, b)); });
        attempt([&] { require(less_than(a, b) != less_than(b, a) || equal(a, b)); });
        attempt([&] {
            Value counter;
            int passes = 0;
            for (CountedLoop loop(counter, a, b); loop.running() && passes < 100; loop.next(), ++passes)
                check_number(counter);
        });
        if (i < 4) compare_listings(a, b);
    }
    return 0;
}
