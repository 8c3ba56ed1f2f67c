// Field syntax: separators, Empty fields, blank lines, quotes, line ends and the end of the file.
#include <gtest/gtest.h>

#include "errors.hpp"
#include "fields.hpp"

using namespace rt;

namespace {

// Reads every field of text; each shown as its text, Empty as "<>", a String in quotes.
std::string fields_of(const std::string& text) {
    FieldReader reader(std::string_view(text), "f");
    std::string out;
    for (;;) {
        Value v;
        try {
            v = reader.next();
        } catch (const RuntimeError& e) {
            if (e.number() != InputPastEnd) out += "error " + std::to_string(e.number());
            return out;
        }
        if (!out.empty()) out += '|';
        if (v.is_empty()) {
            out += "<>";
        } else if (v.kind() == Kind::String) {
            out += '"' + v.as_text().text + '"';
        } else {
            out += to_text(v);
        }
    }
}

struct SyntaxCase {
    const char* name;
    std::string text;
    std::string fields;
};

void PrintTo(const SyntaxCase& c, std::ostream* os) { *os << c.name; }

class FieldSyntax : public ::testing::TestWithParam<SyntaxCase> {};

TEST_P(FieldSyntax, SplitsAsSettled) { EXPECT_EQ(fields_of(GetParam().text), GetParam().fields); }

INSTANTIATE_TEST_SUITE_P(
    Syntax, FieldSyntax,
    ::testing::Values(
        SyntaxCase{"Commas", "1,2,3", "1|2|3"},
        SyntaxCase{"LineEnds", "1\n2\n3\n", "1|2|3"},
        SyntaxCase{"CrLf", "1\r\n2\r\n3\r\n", "1|2|3"},
        SyntaxCase{"LoneCr", "1\r2\r3", "1|2|3"},
        SyntaxCase{"BlanksAroundComma", " 1 ,\t2 , 3 ", "1|2|3"},
        SyntaxCase{"BlanksAlone", "1 2\t\t3", "1|2|3"},
        SyntaxCase{"DoubleComma", "1,,3", "1|<>|3"},
        SyntaxCase{"CommaBeforeLineEnd", "1,\n2", "1|<>|2"},
        SyntaxCase{"CommaBeforeEnd", "1,", "1|<>"},
        SyntaxCase{"LineStartsWithComma", ",2", "<>|2"},
        SyntaxCase{"LoneComma", ",", "<>|<>"},
        SyntaxCase{"BlankLinesSkipped", "\n\n1\n  \n\t\n2\r\n\r\n", "1|2"},
        SyntaxCase{"CommaThenBlanksThenComma", "1,  ,3", "1|<>|3"},
        SyntaxCase{"Quoted", "\" a, b \",2", "\" a, b \"|2"},
        SyntaxCase{"QuotedNumberIsString", "\"12\"", "\"12\""},
        SyntaxCase{"QuotedEmpty", "\"\",1", "\"\"|1"},
        SyntaxCase{"UnclosedQuote", "\"abc", "\"abc\""},
        SyntaxCase{"QuoteThenBlanksThenField", "\"a\" 5", "\"a\"|5"},
        SyntaxCase{"TextIsString", "abc,1.5e2", "\"abc\"|150"},
        SyntaxCase{"LocaleDecimalComma", "1,5", "1|5"},
        SyntaxCase{"NulInField", std::string("1\0002,3", 5), "\"1" + std::string(1, '\0') + "2\"|3"},
        SyntaxCase{"EmptyFile", "", ""},
        SyntaxCase{"OnlyBlanks", "  \n \r\n", ""},
        SyntaxCase{"NoLineEndAtEnd", "7", "7"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FieldReader, RefusesFieldsOverOneMebibyte) {
    std::string big(max_field_bytes + 1, '7');
    EXPECT_EQ(fields_of(big), "error 13");
    EXPECT_EQ(fields_of(std::string(max_field_bytes, 'x')).size(), max_field_bytes + 2);  // a String, in quotes
    EXPECT_EQ(fields_of(std::string(max_field_bytes, '7')), "error 6");  // a number past the largest Double
}

TEST(FieldReader, PastTheEndNamesTheField) {
    FieldReader reader(std::string_view("1,2"), "PHOTO.DAT");
    reader.next();
    reader.next();
    try {
        reader.next();
        FAIL();
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.number(), InputPastEnd);
        EXPECT_STREQ(e.what(), "Input past end of file: PHOTO.DAT ends before field 3");
    }
}

}  // namespace
