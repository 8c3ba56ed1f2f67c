// The Value rules: widening at each boundary, rounding halves to even, remainders, comparisons,
// conversions, counted loops and number text.
#include "value.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "errors.hpp"
#include "loop.hpp"

using namespace rt;

namespace {

// The error number an operation raises, or 0.
int error_of(const std::function<void()>& f) {
    try {
        f();
    } catch (const RuntimeError& e) {
        return e.number();
    }
    return 0;
}

const double max_double = std::numeric_limits<double>::max();

struct ArithCase {
    const char* name;
    Value (*op)(const Value&, const Value&);
    Value a, b, expected;
};

void PrintTo(const ArithCase& c, std::ostream* os) { *os << c.name; }

class Arithmetic : public ::testing::TestWithParam<ArithCase> {};

TEST_P(Arithmetic, GivesKindAndValue) {
    const ArithCase& c = GetParam();
    EXPECT_EQ(c.op(c.a, c.b), c.expected) << to_text(c.op(c.a, c.b));
}

INSTANTIATE_TEST_SUITE_P(
    Rules, Arithmetic,
    ::testing::Values(ArithCase{"IntegerSum", add, Integer(1), Integer(2), Integer(3)},
                      ArithCase{"IntegerSumAtTop", add, Integer(32766), Integer(1), Integer(32767)},
                      ArithCase{"IntegerSumWidensToLong", add, Integer(32767), Integer(1), Long(32768)},
                      ArithCase{"IntegerSumWidensBelow", add, Integer(-32768), Integer(-1), Long(-32769)},
                      ArithCase{"LongSumStaysLong", add, Long(2147483646), Integer(1), Long(2147483647)},
                      ArithCase{"LongSumWidensToDouble", add, Long(2147483647), Integer(1), Double(2147483648.0)},
                      ArithCase{"LongSumWidensBelow", add, Long(-2147483647 - 1), Long(-1), Double(-2147483649.0)},
                      ArithCase{"LongSumNarrowResultStaysLong", add, Long(40000), Long(-39999), Long(1)},
                      ArithCase{"EmptyPlusEmptyIsInteger0", add, Value(), Value(), Integer(0)},
                      ArithCase{"EmptyCountsAs0", add, Value(), Integer(5), Integer(5)},
                      ArithCase{"EmptyPlusDouble", add, Value(), Double(0.5), Double(0.5)},
                      ArithCase{"DoubleSum", add, Double(0.1), Integer(1), Double(1.1)},
                      ArithCase{"IntegerProduct", multiply, Integer(181), Integer(181), Integer(32761)},
                      ArithCase{"IntegerProductWidens", multiply, Integer(182), Integer(182), Long(33124)},
                      ArithCase{"IntegerProductAtBottom", multiply, Integer(-32768), Integer(1), Integer(-32768)},
                      ArithCase{"IntegerProductNegativeWidens", multiply, Integer(-32768), Integer(-1), Long(32768)},
                      ArithCase{"LongProductWidensToDouble", multiply, Long(65536), Long(32768), Double(2147483648.0)},
                      ArithCase{"LongProductAtBottomStaysLong", multiply, Long(65536), Integer(-32768),
                                Long(-2147483647 - 1)},
                      ArithCase{"LongProductAtTop", multiply, Long(46341), Long(46340), Long(2147441940)},
                      ArithCase{"DoublingPast32Bits", multiply, Long(1073741824), Integer(2), Double(2147483648.0)},
                      ArithCase{"EmptyProduct", multiply, Value(), Integer(7), Integer(0)},
                      ArithCase{"QuotientIsDouble", divide, Integer(6), Integer(3), Double(2.0)},
                      ArithCase{"QuotientOfEmpty", divide, Value(), Integer(3), Double(0.0)},
                      ArithCase{"RemainderRoundsHalvesToEven", remainder, Double(12.5), Double(2.5), Long(0)},
                      ArithCase{"RemainderRoundsBoth", remainder, Double(13.5), Double(4.5), Long(2)},
                      ArithCase{"RemainderLeftSignNegative", remainder, Integer(-7), Integer(3), Integer(-1)},
                      ArithCase{"RemainderLeftSignPositive", remainder, Integer(7), Integer(-3), Integer(1)},
                      ArithCase{"RemainderMinByMinusOne", remainder, Long(-2147483647 - 1), Integer(-1), Long(0)},
                      ArithCase{"RemainderOfEmpty", remainder, Value(), Integer(5), Integer(0)},
                      ArithCase{"RemainderLargeDouble", remainder, Double(2147483647.4), Integer(10), Long(7)}),
    [](const auto& info) { return std::string(info.param.name); });

struct ErrorCase {
    const char* name;
    std::function<void()> op;
    int expected;
};

void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.name; }

class Errors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(Errors, RaisesTheRightNumber) { EXPECT_EQ(error_of(GetParam().op), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Rules, Errors,
    ::testing::Values(
        ErrorCase{"ProductPastLargestDouble", [] { multiply(Double(max_double), Integer(2)); }, Overflow},
        ErrorCase{"SumPastLargestDouble", [] { add(Double(max_double), Double(max_double)); }, Overflow},
        ErrorCase{"QuotientPastLargestDouble", [] { divide(Double(max_double), Double(0.5)); }, Overflow},
        ErrorCase{"DivideByZero", [] { divide(Integer(1), Integer(0)); }, DivisionByZero},
        ErrorCase{"ZeroByZero", [] { divide(Integer(0), Value()); }, DivisionByZero},
        ErrorCase{"RemainderByZero", [] { remainder(Integer(5), Integer(0)); }, DivisionByZero},
        ErrorCase{"RemainderByHalfRoundsToZero", [] { remainder(Integer(5), Double(0.5)); }, DivisionByZero},
        ErrorCase{"RemainderByMinusHalf", [] { remainder(Integer(5), Double(-0.5)); }, DivisionByZero},
        ErrorCase{"RemainderLeftPast32Bits", [] { remainder(Double(2147483647.5), Integer(1)); }, Overflow},
        ErrorCase{"RemainderRightPast32Bits", [] { remainder(Integer(1), Double(-2147483648.6)); }, Overflow},
        ErrorCase{"StringInSum", [] { add(String("a"), Integer(1)); }, TypeMismatch},
        ErrorCase{"StringInProduct", [] { multiply(Integer(1), String("1")); }, TypeMismatch},
        ErrorCase{"StringInComparison", [] { less_than(String("a"), Integer(1)); }, TypeMismatch},
        ErrorCase{"StringInEquality", [] { equal(Integer(1), String("1")); }, TypeMismatch},
        ErrorCase{"StringTo16Bit", [] { to_16bit(String("x")); }, TypeMismatch},
        ErrorCase{"To16BitHalfAboveTop", [] { to_16bit(Double(32767.5)); }, Overflow},
        ErrorCase{"To16BitBelow", [] { to_16bit(Double(-32768.6)); }, Overflow},
        ErrorCase{"LongTo16Bit", [] { to_16bit(Long(32768)); }, Overflow},
        ErrorCase{"To32BitHalfAboveTop", [] { to_32bit(Double(2147483647.5)); }, Overflow},
        ErrorCase{"SquareRootOfNegative", [] { square_root(-1.0); }, InvalidCall},
        ErrorCase{"PowerPastLargest", [] { power(1e200, 2.0); }, Overflow},
        ErrorCase{"PowerOfNegativeFraction", [] { power(-8.0, 0.5); }, InvalidCall},
        ErrorCase{"PowerOfZeroToMinusOne", [] { power(0.0, -1.0); }, InvalidCall}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Conversion, RoundsHalvesToEven) {
    struct {
        double in;
        int expected;
    } cases[] = {{0.5, 0},           {1.5, 2},    {2.5, 2},    {-0.5, 0},        {-1.5, -2},
                 {-2.5, -2},         {0.4999, 0}, {0.5001, 1}, {32766.5, 32766}, {32767.4, 32767},
                 {-32768.5, -32768}, {12.5, 12},  {13.5, 14}};
    for (auto c : cases) {
        EXPECT_EQ(double_to_16bit(c.in), c.expected) << c.in;
        EXPECT_EQ(to_32bit(Double(c.in)), c.expected) << c.in;
    }
    EXPECT_EQ(to_32bit(Double(-2147483648.5)), INT32_MIN);
    EXPECT_EQ(to_32bit(Double(2147483646.5)), 2147483646);
    EXPECT_EQ(to_16bit(Value()), 0);
    EXPECT_EQ(to_16bit(Long(-32768)), -32768);
}

TEST(Comparison, IsNumericAcrossKinds) {
    EXPECT_TRUE(equal(Value(), Integer(0)));
    EXPECT_TRUE(equal(Integer(7), Double(7.0)));
    EXPECT_TRUE(equal(Long(40000), Double(40000.0)));
    EXPECT_TRUE(less_than(Long(2147483647), Double(2147483647.5)));
    EXPECT_FALSE(less_than(Double(2147483647.0), Long(2147483647)));
    EXPECT_TRUE(less_than(Integer(-1), Value()));
    EXPECT_FALSE(equal(Double(0.1), Integer(0)));
}

TEST(Power, SquaresAndRoots) {
    EXPECT_EQ(power(3.0, 2.0), 9.0);
    EXPECT_EQ(power(-30000.0, 2.0), 9e8);
    EXPECT_EQ(square_root(25.0), 5.0);
    EXPECT_EQ(square_root(0.0), 0.0);
}

// Runs a counted loop and lists its counters' texts and kinds.
std::string counters(Value start, Value end, Value step = Integer(1), int limit = 10) {
    std::string out;
    Value i;
    int n = 0;
    for (CountedLoop loop(i, start, end, step); loop.running() && n < limit; loop.next(), ++n) {
        out += to_text(i);
        out += "EILDS"[static_cast<int>(i.kind())];
        out += ' ';
    }
    return out;
}

TEST(CountedLoop, CountersAndKinds) {
    EXPECT_EQ(counters(Integer(1), Integer(3)), "1I 2I 3I ");
    EXPECT_EQ(counters(Integer(32766), Long(32769)), "32766I 32767I 32768L 32769L ");
    EXPECT_EQ(counters(Long(2147483646), Double(2147483649.0)), "2147483646L 2147483647L 2147483648D 2147483649D ");
    EXPECT_EQ(counters(Double(1.5), Integer(4)), "1.5D 2.5D 3.5D ");
    EXPECT_EQ(counters(Double(0.1), Integer(3)), "0.1D 1.1D 2.1D ");
    EXPECT_EQ(counters(Integer(3), Integer(1)), "");
    EXPECT_EQ(counters(Integer(1), Double(2.5)), "1I 2I ");
    EXPECT_EQ(counters(Integer(3), Integer(1), Integer(-1)), "3I 2I 1I ");
    EXPECT_EQ(counters(Integer(3), Integer(1), Integer(0)), "");  // a step of 0 counts upward
    EXPECT_EQ(counters(Value(), Integer(1)), "E 1I ");            // an Empty start is Empty, then 0 + 1
    EXPECT_EQ(counters(Integer(1), Value()), "");
}

TEST(CountedLoop, TakesEndAndStepOnce) {
    Value i, end = Integer(3);
    int runs = 0;
    for (CountedLoop loop(i, Integer(1), end); loop.running(); loop.next()) {
        end = Integer(100);
        ++runs;
    }
    EXPECT_EQ(runs, 3);
}

TEST(NumberText, FollowsTheFormats) {
    struct {
        Value v;
        const char* text;
    } cases[] = {
        {Integer(-32768), "-32768"},
        {Long(2147483647), "2147483647"},
        {Double(1000.0), "1000"},
        {Double(-0.0), "0"},
        {Double(0.1), "0.1"},
        {Double(1.0 / 3), "0.333333333333333"},
        {Double(1e20), "1e+20"},
        {Double(1e15), "1e+15"},
        {Double(123456789012345.0), "123456789012345"},
        {Double(1e-5), "1e-05"},
        {Double(0.0001), "0.0001"},
        {Double(2.5), "2.5"},
        {Double(-1.5e-300), "-1.5e-300"},
        {Value(), ""},
        {String(" a b "), " a b "},
    };
    for (auto& c : cases) EXPECT_EQ(to_text(c.v), c.text);
}

TEST(FieldKinds, ByTheirForm) {
    struct {
        const char* text;
        Value expected;
    } cases[] = {
        {"0", Integer(0)},
        {"-32768", Integer(-32768)},
        {"32767", Integer(32767)},
        {"32768", Long(32768)},
        {"-32769", Long(-32769)},
        {"+12", Integer(12)},
        {"2147483647", Long(2147483647)},
        {"-2147483648", Long(-2147483647 - 1)},
        {"2147483648", Double(2147483648.0)},
        {"99999999999999999999999", Double(1e23)},
        {"749172067250578e15", Double(749172067250578e15)},  // the nearest Double, however the C++ library reads it
        {"1.0", Double(1.0)},
        {"2.54", Double(2.54)},
        {"1e3", Double(1000.0)},
        {"-1.5E-2", Double(-0.015)},
        {".5", Double(0.5)},
        {"5.", Double(5.0)},
        {"1e-400", Double(0.0)},
        {"1000e-327", Double(0.0)},  // nearer zero than the smallest Double, by the digits before the exponent
        {"3e-324", Double(4.9406564584124654e-324)},  // the smallest Double, not zero
        {"0.001e311", Double(1e308)},
        {"abc", String("abc")},
        {"1,5", String("1,5")},
        {"0x10", String("0x10")},
        {"inf", String("inf")},
        {"nan", String("nan")},
        {"1e", String("1e")},
        {"-", String("-")},
        {".", String(".")},
        {"1.2.3", String("1.2.3")},
        {"1d3", String("1d3")},
    };
    for (auto& c : cases) {
        Value v = parse_field(c.text);
        EXPECT_EQ(v.kind(), c.expected.kind()) << c.text;
        if (v.kind() == Kind::String) {
            EXPECT_EQ(v.as_text().text, c.text);
        } else {
            EXPECT_EQ(v, c.expected) << c.text;
        }
    }
    for (const char* t : {"1e309", "-1e99999999999999999999", "123456789e301", "0.01e311", "1.8e308"}) {
        EXPECT_EQ(error_of([t] { parse_field(t); }), Overflow) << t;
    }
    EXPECT_TRUE(std::signbit(parse_field("-1e-999").as_double()));
}

}  // namespace
