// Field syntax: separators, Empty fields, blank lines, quotes, line ends and the end of the file;
// byte-order marks and UTF-16, the end-of-file mark, quoted numbers, and how a field is reported.
#include "fields.hpp"

#include <gtest/gtest.h>

#include "errors.hpp"
#include "utf16.hpp"

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
            if (e.number() != InputPastEnd) out += (out.empty() ? "" : "|") + ("error " + std::to_string(e.number()));
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
        SyntaxCase{"Commas", "1,2,3", "1|2|3"}, SyntaxCase{"LineEnds", "1\n2\n3\n", "1|2|3"},
        SyntaxCase{"CrLf", "1\r\n2\r\n3\r\n", "1|2|3"}, SyntaxCase{"LoneCr", "1\r2\r3", "1|2|3"},
        SyntaxCase{"BlanksAroundComma", " 1 ,\t2 , 3 ", "1|2|3"}, SyntaxCase{"BlanksAlone", "1 2\t\t3", "1|2|3"},
        SyntaxCase{"DoubleComma", "1,,3", "1|<>|3"}, SyntaxCase{"CommaBeforeLineEnd", "1,\n2", "1|<>|2"},
        SyntaxCase{"CommaBeforeEnd", "1,", "1|<>"}, SyntaxCase{"LineStartsWithComma", ",2", "<>|2"},
        SyntaxCase{"LoneComma", ",", "<>|<>"}, SyntaxCase{"BlankLinesSkipped", "\n\n1\n  \n\t\n2\r\n\r\n", "1|2"},
        SyntaxCase{"CommaThenBlanksThenComma", "1,  ,3", "1|<>|3"},
        SyntaxCase{"Quoted", "\" a, b \",2", "\" a, b \"|2"},
        SyntaxCase{"QuotedNumberIsANumber", "\"12\",\"-2.5e1\"", "12|-25"},
        SyntaxCase{"QuotedBlanksAroundNumberIsString", "\" 12\",\"1 \"", "\" 12\"|\"1 \""},
        SyntaxCase{"QuotedNumberAndMore", "\"1\"2", "1|2"}, SyntaxCase{"QuotedEmpty", "\"\",1", "\"\"|1"},
        SyntaxCase{"UnclosedQuote", "\"abc", "\"abc\""}, SyntaxCase{"QuoteThenBlanksThenField", "\"a\" 5", "\"a\"|5"},
        SyntaxCase{"TextIsString", "abc,1.5e2", "\"abc\"|150"}, SyntaxCase{"LocaleDecimalComma", "1,5", "1|5"},
        SyntaxCase{"NulInField", std::string("1\0002,3", 5), "\"1" + std::string(1, '\0') + "2\"|3"},
        SyntaxCase{"EmptyFile", "", ""}, SyntaxCase{"OnlyBlanks", "  \n \r\n", ""},
        SyntaxCase{"NoLineEndAtEnd", "7", "7"},
        SyntaxCase{"Utf8MarkSkipped",
                   "\xef\xbb\xbf"
                   "7,8",
                   "7|8"},
        SyntaxCase{"Utf8MarkOnlyAtTheStart",
                   "7,\xef\xbb\xbf"
                   "8",
                   "7|\"\xef\xbb\xbf"
                   "8\""},
        SyntaxCase{"Utf8MarkAlone", "\xef\xbb\xbf", ""},
        SyntaxCase{"Utf8MarkCutShortIsText",
                   "\xef\xbb"
                   "7,8",
                   "\"\xef\xbb"
                   "7\"|8"},
        SyntaxCase{"Utf16LittleEndian", test::utf16(u"7,2.54\r\n\"x\",1000\r\n"), "7|2.54|\"x\"|1000"},
        SyntaxCase{"Utf16BigEndian", test::utf16(u"7,2.54\n1000", false), "7|2.54|1000"},
        SyntaxCase{"Utf16BeyondAscii", test::utf16(u"\u00e9\u20ac,\xd83d\xde00,5"),
                   "\"\xc3\xa9\xe2\x82\xac\"|\"\xf0\x9f\x98\x80\"|5"},
        SyntaxCase{"Utf16MarkAlone", test::utf16(u""), ""},
        SyntaxCase{"Utf16OneBufferOfMoreText", test::utf16(std::u16string(30000, u'\u20ac') + u",7"),
                   "\"" +
                       [] {
                           std::string e;
                           for (int i = 0; i < 30000; ++i) e += "\xe2\x82\xac";
                           return e;
                       }() +
                       "\"|7"},
        SyntaxCase{
            "Utf16OverManyBuffers",
            test::utf16(std::u16string(100000, u'\u20ac') + u",7,\xd83d\xde00," + std::u16string(100000, u' ') + u"8"),
            "\"" +
                [] {
                    std::string e;
                    for (int i = 0; i < 100000; ++i) e += "\xe2\x82\xac";
                    return e;
                }() +
                "\"|7|\"\xf0\x9f\x98\x80\"|8"},
        SyntaxCase{"Utf16OddByteAtEnd", test::utf16(u"7,8") + "\x38", "7|error 13"},
        SyntaxCase{"Utf16LoneLowSurrogate", test::utf16(u"7,\xdc00"), "7|error 13"},
        SyntaxCase{"Utf16HighSurrogateWithoutPartner", test::utf16(u"7,\xd800x"), "7|error 13"},
        SyntaxCase{"Utf16HighSurrogateAtEnd", test::utf16(u"7,\xd800"), "7|error 13"},
        SyntaxCase{"Utf16FaultFarOn", test::utf16(u"7," + std::u16string(70000, u' ') + u"\xdc00"), "7|error 13"},
        SyntaxCase{"Utf16EndOfFileMark", test::utf16(u"7,8\x1a,9"), "7|8"},
        SyntaxCase{"Utf16EndOfFileMarkThenFault", test::utf16(u"7,8\x1a\xdc00"), "7|8"},
        SyntaxCase{"Utf16EndOfFileMarkAsOneByte", test::utf16(u"7,8") + "\x1a", "7|8"},
        SyntaxCase{"EndOfFileMarkAfterLastNumber", "7,1000\x1a", "7|1000"},
        SyntaxCase{"EndOfFileMarkMidFile",
                   "1,2\x1a"
                   "3,4",
                   "1|2"},
        SyntaxCase{"EndOfFileMarkInQuotes",
                   "\"ab\x1a"
                   "cd\",5",
                   "\"ab\""},
        SyntaxCase{"EndOfFileMarkAfterComma", "1,\x1a", "1|<>"},
        SyntaxCase{"EndOfFileMarkAtStart",
                   "\x1a"
                   "1,2",
                   ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FieldReader, RefusesFieldsOverOneMebibyte) {
    std::string big(max_field_bytes + 1, '7');
    EXPECT_EQ(fields_of(big), "error 13");
    EXPECT_EQ(fields_of(std::string(max_field_bytes, 'x')).size(), max_field_bytes + 2);  // a String, in quotes
    EXPECT_EQ(fields_of(std::string(max_field_bytes, '7')), "error 6");  // a number past the largest Double
}

// A quoted number is the very Value its unquoted text is, of the same kind.
TEST(FieldReader, QuotedNumbersAreTheirUnquotedValues) {
    for (std::string t :
         {"7", "-32768", "32768", "-2147483648", "2147483648", "2.54", "1e3", ".5", "+5", "-0", "1e-400"}) {
        EXPECT_EQ(FieldReader(std::string_view("\"" + t + "\""), "f").next(),
                  FieldReader(std::string_view(t), "f").next())
            << t;
    }
    EXPECT_THROW(FieldReader(std::string_view("\"1e400\""), "f").next(), RuntimeError);
}

// A field that is no number is reported as the user wrote it, UTF-8 that prints included, but
// unambiguously and on one line: a backslash doubled; a byte that is no UTF-8 (stray, cut short,
// overlong, a surrogate) or a one-byte control as \xHH; a C1 control, and a character that
// reorders or hides the text around it, as \uHHHH. Forty characters are shown, not forty bytes.
TEST(FieldReader, ReportsAFieldUnambiguously) {
    auto repeat = [](const std::string& text, int times) {
        std::string all;
        while (times-- > 0) all += text;
        return all;
    };
    struct {
        std::string text, shown;
    } cases[] = {{"a\\x41", "a\\\\x41"},
                 {"a\x01", "a\\x01"},
                 {"\\", "\\\\"},
                 {"\"q\"", "q"},
                 {"caf\xc3\xa9-\xe6\x97\xa5\xe6\x9c\xac-\xf0\x9f\x93\xb7",
                  "caf\xc3\xa9-\xe6\x97\xa5\xe6\x9c\xac-\xf0\x9f\x93\xb7"},
                 {"a\x7f\xc2\x85", "a\\x7f\\u0085"},
                 {"a\xff\xfe", "a\\xff\\xfe"},
                 {"\xc0\xaf\xed\xa0\x80\xf4\x90\x80\x80", "\\xc0\\xaf\\xed\\xa0\\x80\\xf4\\x90\\x80\\x80"},
                 {"x\xe2\x80", "x\\xe2\\x80"},
                 {"ab\xe2\x80\xae"
                  "cd\xe2\x81\xa6\xe2\x80\x8b\xe2\x80\xa8\xef\xbb\xbf\xd8\x9c",
                  "ab\\u202ecd\\u2066\\u200b\\u2028\\ufeff\\u061c"},
                 {"1\xe2\x81\xa0"
                  "0\xc2\xad\xf3\xa0\x81\x81",
                  "1\\u2060"
                  "0\\u00ad\\U000e0041"},
                 {repeat("\xc3\xa9", 41), repeat("\xc3\xa9", 40) + "..."}};
    for (auto& c : cases) {
        FieldReader reader(std::string_view(c.text), "PHOTO.DAT");
        try {
            to_double(reader.next());
            ADD_FAILURE() << c.text;
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.concerns(), "field 1 of PHOTO.DAT is \"" + c.shown + "\", not a number");
        }
    }
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
