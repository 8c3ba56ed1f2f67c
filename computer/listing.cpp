#include "listing.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "files.hpp"

namespace computer {

namespace {

using rt::Value;

// The divisors of n > 0 in ascending order: trial division by 2, 3, 5 and a wheel of the numbers
// prime to 30, up to the square root of what is left; then every product of the prime powers.
std::vector<std::int64_t> divisors_of(std::uint32_t n) {
    std::vector<std::pair<std::uint32_t, int>> factors;
    auto take = [&](std::uint32_t p) {
        int e = 0;
        while (n % p == 0) n /= p, ++e;
        if (e) factors.emplace_back(p, e);
    };
    take(2), take(3), take(5);
    static const std::uint32_t gaps[8] = {4, 2, 4, 2, 4, 6, 2, 6};
    for (std::uint32_t p = 7, g = 0; std::uint64_t{p} * p <= n; p += gaps[g], g = (g + 1) & 7) take(p);
    if (n > 1) factors.emplace_back(n, 1);

    std::vector<std::int64_t> divisors{1};
    for (auto [p, e] : factors) {
        std::size_t count = divisors.size();
        std::int64_t power = 1;
        for (int i = 0; i < e; ++i) {
            power *= p;
            for (std::size_t j = 0; j < count; ++j) divisors.push_back(divisors[j] * power);
        }
    }
    std::sort(divisors.begin(), divisors.end());
    return divisors;
}

// Collects lines and hands them to the sink in large pieces. Its owner flushes it before
// returning: a write that fails there is reported like any other, which a destructor could not.
class Lines {
  public:
    explicit Lines(LineSink& sink) : sink_(sink), line_end_(rt::line_end()) {}
    void counter(double c) { end_line(rt::format_double(room(), c)); }
    // A line of sign, the integer v and a fixed suffix (a counter's fraction digits).
    void counter(bool negative, std::uint32_t v, std::string_view suffix) {
        char* p = room();
        if (negative) *p++ = '-';
        p = std::to_chars(p, p + 16, v).ptr;
        std::memcpy(p, suffix.data(), suffix.size());
        end_line(p + suffix.size());
    }
    void flush() {
        if (used_) sink_.write(std::string_view(buffer_, used_));
        used_ = 0;
    }

  private:
    static constexpr std::size_t capacity = 1 << 16;
    static constexpr std::size_t longest_line = 64;
    char* room() {
        if (used_ > capacity - longest_line) flush();
        return buffer_ + used_;
    }
    void end_line(char* end) {
        end = std::copy(line_end_.begin(), line_end_.end(), end);  // as print_line ends it
        used_ = static_cast<std::size_t>(end - buffer_);
    }
    LineSink& sink_;
    const std::string_view line_end_;  // asked once: every line ends alike
    char buffer_[capacity];
    std::size_t used_ = 0;
};

// The counters c, c + 1, ..., c + n of a run are all exact Doubles, so they share one fractional
// part. Returns how many steps from c are certainly exact: a whole c stays whole below 2^53; a
// c of -1 or less moves toward 0 into ever finer spacing; a c of 1 or more keeps its spacing up
// to the next power of two. Any other step is taken as the loop takes it, by a Double sum.
double exact_steps(double c) {
    if (c == std::floor(c)) return 9007199254740992.0;
    if (c <= -1.0) return std::floor(-c);
    if (c >= 1.0) {
        int e = 0;
        std::frexp(c, &e);  // c lies in [2^(e-1), 2^e)
        return std::ceil(std::ldexp(1.0, e) - c) - 1.0;
    }
    return 0.0;
}

// The steps k (0 to n) at which the run's counter c + k, of integer part floor0 + k and fraction
// frac, rounds (halves to even) to d: with a fraction below one half, the counter d + frac; above
// one half, d - 1 + frac; of exactly one half, both d - 1/2 and d + 1/2 where d is even.
void counters_rounding_to(std::int64_t d, double floor0, double frac, std::int64_t n, std::int64_t ks[2], int& count) {
    std::int64_t f0 = static_cast<std::int64_t>(floor0);
    count = 0;
    auto keep = [&](std::int64_t k) {
        if (k >= 0 && k <= n) ks[count++] = k;
    };
    if (frac < 0.5) {
        keep(d - f0);
    } else if (frac > 0.5) {
        keep(d - f0 - 1);
    } else if (d % 2 == 0) {
        keep(d - f0 - 1);
        keep(d - f0);
    }
}

// Every counter c + k of a run, k from 0 to n, that does not round to 0; for a loop whose M
// rounds to 0, which every other counter divides. Each line is the integer part of the counter's
// size and a suffix that depends only on the run's fraction and the integer's digit count, so
// the text of one counter per digit count is worked out and the rest are copied from it.
void every_counter(double c, std::int64_t n, Lines& lines) {
    for (std::int64_t k = 0; k <= n;) {
        double x = c + static_cast<double>(k);
        double size = std::fabs(x);
        if (size < 1.0) {  // the integer part is 0: few such counters, each formatted in full
            if (size > 0.5) lines.counter(x);
            ++k;
            continue;
        }
        bool negative = x < 0;
        std::uint32_t whole = static_cast<std::uint32_t>(std::floor(size));
        // The counters from k on whose integer parts have as many digits as this one's.
        std::uint32_t low = 1;
        while (low <= whole / 10) low *= 10;
        std::uint64_t high = std::uint64_t{low} * 10 - 1;
        std::int64_t last = negative ? k + (whole - low) : k + static_cast<std::int64_t>(high - whole);
        last = std::min(last, n);
        char text[32];
        char* end = rt::format_double(text, size);
        char* point = std::find(text, end, '.');
        std::uint32_t shown = 0;
        std::from_chars(text, point, shown);
        std::uint32_t carry = shown - whole;  // 1 where the fraction rounds up to a whole
        std::string suffix(point, end);
        for (; k <= last; ++k) {
            double size_k = std::fabs(c + static_cast<double>(k));
            lines.counter(negative, static_cast<std::uint32_t>(size_k) + carry, suffix);
        }
    }
}

// The signed divisors of m, in ascending order; none for 0.
std::vector<std::int64_t> signed_divisors(std::int32_t m) {
    std::vector<std::int64_t> divisors;
    if (m == 0) return divisors;
    std::vector<std::int64_t> positive = divisors_of(static_cast<std::uint32_t>(std::abs(std::int64_t{m})));
    for (auto it = positive.rbegin(); it != positive.rend(); ++it) divisors.push_back(-*it);
    divisors.insert(divisors.end(), positive.begin(), positive.end());
    return divisors;
}

// The counters c, c + 1, ..., c + n that divide m (a run of exact steps), in order.
void list_run(double c, double n, std::int32_t m, const std::vector<std::int64_t>& divisors, Lines& lines) {
    std::int64_t steps = static_cast<std::int64_t>(n);
    if (m == 0) {
        every_counter(c, steps, lines);
        return;
    }
    double floor0 = std::floor(c), frac = c - floor0;
    double lowest = std::nearbyint(c), highest = std::nearbyint(c + n);
    auto first = std::lower_bound(divisors.begin(), divisors.end(), static_cast<std::int64_t>(lowest));
    for (auto d = first; d != divisors.end() && *d <= static_cast<std::int64_t>(highest); ++d) {
        std::int64_t ks[2];
        int count = 0;
        counters_rounding_to(*d, floor0, frac, steps, ks, count);
        for (int i = 0; i < count; ++i) lines.counter(c + static_cast<double>(ks[i]));
    }
}

}  // namespace

void list_divisor_counters(const Value& K, const Value& M, LineSink& out) {
    if (rt::less_than(M, K)) return;  // the body never runs
    // The first pass rounds M, then the counter: beyond the 32-bit range is the overflow error.
    // Later counters lie between the first and M, so they are in range too.
    std::int32_t m = rt::to_32bit(M);
    rt::to_32bit(K);
    const std::vector<std::int64_t> divisors = signed_divisors(m);

    Lines lines(out);
    const double end = rt::to_double(M);
    double c = rt::to_double(K);  // an Empty K counts as 0, then 0 + 1
    while (c <= end) {
        // The run c, c + 1, ..., c + n: exact steps, up to the last counter not past the end.
        double exact = exact_steps(c);
        double n = std::clamp(std::floor(end - c), 0.0, exact);
        while (n > 0 && c + n > end) n -= 1;
        while (n < exact && c + (n + 1) <= end) n += 1;
        list_run(c, n, m, divisors, lines);
        c = (c + n) + 1.0;  // the loop's own Double sum, which may round
    }
    lines.flush();
}

}  // namespace computer
