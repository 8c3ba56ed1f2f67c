// The catalog: each sentence of the programs' reports in English, its parts in place; the run-time
// errors' names by their numbers; a part from outside shown escaped, a text as it stands. The
// end-to-end tests name a report by its sentence and parts: its words are checked here, once.
#include "messages.hpp"

#include <gtest/gtest.h>

#include <string_view>

#include "errors.hpp"

using namespace rt;

namespace {

struct Worded {
    Message message;
    const char* english;
};

const Message field_2{Msg::FieldOf, {numeral(2), name("PHOTO.DAT")}};

const Worded sentences[] = {
    {{Msg::Line, {"photo", "terminated (SIGTERM)"}}, "photo: terminated (SIGTERM)"},
    {{Msg::Report, {numeral(62), {Msg::ErrorWithDetail, {error_name(62), {Msg::EndsBeforeField, {"f", "3"}}}}}},
     "run-time error 62: Input past end of file: f ends before field 3"},
    {error_name(5), "Invalid procedure call or argument"},
    {error_name(6), "Overflow"},
    {error_name(7), "Out of memory"},
    {error_name(9), "Subscript out of range"},
    {error_name(11), "Division by zero"},
    {error_name(13), "Type mismatch"},
    {error_name(53), "File not found"},
    {error_name(57), "Device I/O error"},
    {error_name(61), "Disk full"},
    {error_name(62), "Input past end of file"},
    {error_name(70), "Permission denied"},
    {error_name(75), "Path/File access error"},
    {error_name(3), "Application-defined or object-defined error"},
    // Files.
    {{Msg::Opening, {"PHOTO.DAT", "No such file or directory"}}, "opening PHOTO.DAT: No such file or directory"},
    {{Msg::Writing, {"photo.sol", "File too large"}}, "writing photo.sol: File too large"},
    {{Msg::Syncing, {"photo.sol", "Input/output error"}}, "syncing photo.sol: Input/output error"},
    {{Msg::CreatingIn, {"photo.sol", ".", "Permission denied"}}, "creating photo.sol (in .): Permission denied"},
    {{Msg::HeldOpen, {"photo.sol", "busy.sol", "why"}},
     "replacing photo.sol: busy.sol is held open by another program: why"},
    {{Msg::NotConfirmed, {"photo.sol", "Input/output error"}},
     "photo.sol is in place, but the system could not confirm it is on the disk (syncing its directory: "
     "Input/output error)"},
    {{Msg::IsDirectory, {{Msg::ForName, {"photo.dat", "PHOTO.DAT"}}}}, "photo.dat (for PHOTO.DAT) is a directory"},
    {{Msg::NotRegular, {"photo.sol"}}, "photo.sol is not a regular file"},
    {{Msg::NotWritable, {"photo.sol"}}, "photo.sol is not writable"},
    {{Msg::MissingWithLookAlikes, {"PHOTO.DAT", numeral(2), {Msg::List, {"PHOTO.DAt", "photo.dat"}}}},
     "PHOTO.DAT is missing, and 2 files differ from it only in case: PHOTO.DAt, photo.dat"},
    {{Msg::StrangersInput, {"PHOTO.DAT", {Msg::UserNumber, {numeral(1001)}}}},
     "PHOTO.DAT belongs to user 1001, in a directory others can write; not read"},
    {{Msg::AppendOnlyDirectory, {"photo.sol"}},
     "photo.sol cannot be written: its directory lets no file in it be renamed or removed (it is append-only or "
     "immutable)"},
    // Fields: a name from outside escaped, a text as it stands.
    {{Msg::FieldNotANumber, {field_2, name("a\\x41\n")}}, "field 2 of PHOTO.DAT is \"a\\\\x41\\x0a\", not a number"},
    {{Msg::FieldNotANumber, {field_2, "\\x8f..."}}, "field 2 of PHOTO.DAT is \"\\x8f...\", not a number"},
    {{Msg::FieldTooLong, {field_2}}, "field 2 of PHOTO.DAT is longer than 1 MiB"},
    {{Msg::FieldBeyondDouble, {field_2}}, "field 2 of PHOTO.DAT is beyond the largest Double"},
    {{Msg::Utf16Cut, {"f"}}, "f is UTF-16 that ends in the middle of a character"},
    {{Msg::Utf16Unpaired, {"f"}}, "f is UTF-16 with an unpaired surrogate"},
    // Values and tables.
    {Msg::ProductBeyondDouble, "the product is beyond the largest Double"},
    {{Msg::FieldBeyond32, {field_2, numeral(-2147483649)}},
     "field 2 of PHOTO.DAT: -2147483649 is beyond the 32-bit range"},
    {{Msg::FieldBeyond16, {field_2, "32767.5"}}, "field 2 of PHOTO.DAT: 32767.5 is beyond the 16-bit range"},
    {{Msg::Beyond16, {"42426.4068711928"}}, "42426.4068711928 is beyond the 16-bit range"},
    {{Msg::DifferenceBeyond16, {numeral(32767), numeral(-32768)}}, "32767 - -32768 is beyond the 16-bit range"},
    {{Msg::IndexOutside, {numeral(101), "y", numeral(100)}}, "index 101 of y is outside 0 to 100"},
    // Stops.
    {{Msg::Interrupted, {"SIGINT"}}, "interrupted (SIGINT)"},
    {{Msg::Terminated, {"SIGTERM"}}, "terminated (SIGTERM)"},
    {{Msg::Quit, {"SIGQUIT"}}, "quit (SIGQUIT)"},
    {{Msg::UserSignal, {"1", "SIGUSR1"}}, "user signal 1 (SIGUSR1)"},
    {{Msg::RealTimeSignal, {"3"}}, "real-time signal 3 (SIGRTMIN+3)"},
    {{Msg::CpuLimit, {"SIGXCPU"}}, "CPU time limit exceeded (SIGXCPU)"},
    {{Msg::Aborted, {"SIGABRT"}}, "aborted (SIGABRT)"},
};

TEST(Catalog, WordsEachSentence) {
    for (const Worded& s : sentences) EXPECT_EQ(words(s.message), s.english);
}

// A translation is used only where it has the English sentence's parts, each as often, and is not
// blank: a catalog can leave no part of a report out, nor add one.
TEST(Catalog, TakesATranslationOnlyWithItsParts) {
    struct {
        const char* english;
        const char* translated;
        const char* shown;  // the report of error 53 opening PHOTO.DAT ("gone"), so translated
    } rows[] = {
        {"run-time error {number}: {error}", "Fehler {number}: {error}",
         "Fehler 53: File not found: opening PHOTO.DAT: gone"},
        {"run-time error {number}: {error}", "{error} ({number})", "File not found: opening PHOTO.DAT: gone (53)"},
        {"run-time error {number}: {error}", "OK", "run-time error 53: File not found: opening PHOTO.DAT: gone"},
        {"run-time error {number}: {error}", "{number}: {error} {number}",
         "run-time error 53: File not found: opening PHOTO.DAT: gone"},
        {"run-time error {number}: {error}", "{number} {error} {extra}",
         "run-time error 53: File not found: opening PHOTO.DAT: gone"},
        {"File not found", "\u3000", "run-time error 53: File not found: opening PHOTO.DAT: gone"},
        {"opening {file}: {reason}", "beim \u00d6ffnen: {reason}",
         "run-time error 53: File not found: opening PHOTO.DAT: gone"},
    };
    static const char *english = nullptr, *translated = nullptr;
    set_translation([](const char* sentence) { return std::string_view(sentence) == english ? translated : sentence; });
    for (const auto& row : rows) {
        english = row.english, translated = row.translated;
        Message report{Msg::Report,
                       {numeral(53), {Msg::ErrorWithDetail, {error_name(53), {Msg::Opening, {"PHOTO.DAT", "gone"}}}}}};
        EXPECT_EQ(words(report), row.shown) << row.translated;
    }
    set_translation(nullptr);
}

}  // namespace
