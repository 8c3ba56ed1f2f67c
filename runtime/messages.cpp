// The catalog: each message's sentence in English, the source of every translation, and the one
// function that puts a message in words.
#include "messages.hpp"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "text.hpp"

// Marks a sentence for the translations' template (xgettext --keyword=N_); it stays as it is here.
#define N_(text) text

namespace rt {

namespace {

// Each message's sentence, in English. A placeholder {name} stands for a part; the parts are given
// in the order their placeholders first appear here.
const char* english(Msg id) {
    switch (id) {
        case Msg::Text:
        case Msg::Name:
        case Msg::Count: return "";
        // TRANSLATORS: what stands between the items of a list ("A, B")
        case Msg::List: return N_(", ");

        case Msg::Line: return "{program}: {message}";
        // TRANSLATORS: the report of an error that ends the program; {error} is its name, with what it
        // concerns after a colon ("Overflow: ...")
        case Msg::Report: return N_("run-time error {number}: {error}");
        case Msg::ErrorWithDetail: return N_("{error}: {detail}");

#define TRIO_ERROR_ENGLISH(name, number, english) \
    case Msg::name: return english;
            TRIO_ERRORS(TRIO_ERROR_ENGLISH)
#undef TRIO_ERROR_ENGLISH
        case Msg::OtherError: return N_("Application-defined or object-defined error");

        // TRANSLATORS: what stopped the program, after its name ("photo: interrupted (SIGINT)");
        // {signal} is the signal's or key's name (SIGINT, Ctrl+C), as it stands
        case Msg::Interrupted: return N_("interrupted ({signal})");
        case Msg::Terminated: return N_("terminated ({signal})");
        case Msg::HungUp: return N_("hung up ({signal})");
        case Msg::Quit: return N_("quit ({signal})");
        case Msg::AlarmClock: return N_("alarm clock ({signal})");
        case Msg::UserSignal: return N_("user signal {n} ({signal})");
        case Msg::VirtualTimer: return N_("virtual timer expired ({signal})");
        case Msg::ProfilingTimer: return N_("profiling timer expired ({signal})");
        case Msg::CpuLimit: return N_("CPU time limit exceeded ({signal})");
        case Msg::Pollable: return N_("I/O possible ({signal})");
        case Msg::PowerFailure: return N_("power failure ({signal})");
        case Msg::StackFault: return N_("stack fault ({signal})");
        case Msg::Aborted: return N_("aborted ({signal})");
        case Msg::BusError: return N_("bus error ({signal})");
        case Msg::ArithmeticFault: return N_("arithmetic exception ({signal})");
        case Msg::IllegalInstruction: return N_("illegal instruction ({signal})");
        case Msg::SegmentationFault: return N_("segmentation fault ({signal})");
        case Msg::BadSystemCall: return N_("bad system call ({signal})");
        case Msg::TraceTrap: return N_("trace trap ({signal})");
        case Msg::RealTimeSignal: return N_("real-time signal {n} (SIGRTMIN+{n})");
        case Msg::OtherSignal: return N_("stopped by a signal");
        case Msg::ConsoleClosed: return N_("stopped (the console was closed)");

        // TRANSLATORS: what the program was doing when the system refused; {reason} is the system's
        // own words, in the user's language ("No such file or directory")
        case Msg::Opening: return N_("opening {file}: {reason}");
        case Msg::OpeningDirectoryOf: return N_("opening the directory of {file}: {reason}");
        case Msg::OpeningAgain: return N_("opening {file} again: {reason}");
        case Msg::Reading: return N_("reading {file}: {reason}");
        case Msg::ReadingLink: return N_("reading the link {file}: {reason}");
        case Msg::Writing: return N_("writing {file}: {reason}");
        case Msg::Syncing: return N_("syncing {file}: {reason}");
        case Msg::CreatingIn: return N_("creating {file} (in {directory}): {reason}");
        case Msg::CreatingAs: return N_("creating {file} (as {temporary}): {reason}");
        case Msg::NamingAs: return N_("naming {file} (as {temporary}): {reason}");
        case Msg::Replacing: return N_("replacing {file}: {reason}");
        case Msg::HeldOpen: return N_("replacing {file}: {busy} is held open by another program: {reason}");
        case Msg::FindingTarget: return N_("finding the file {file} leads to: {reason}");
        case Msg::Examining: return N_("examining {file}: {reason}");
        case Msg::WritingPrompt: return N_("writing the prompt to standard output: {reason}");
        case Msg::NotConfirmed:
            return N_(
                "{file} is in place, but the system could not confirm it is on the disk (syncing its directory: "
                "{reason})");

        // TRANSLATORS: where the system has no words of its own for an error, its code
        case Msg::SystemErrorCode: return N_("error {code}");

        // TRANSLATORS: a file read in place of the one named, as its name differs only in case:
        // "photo.dat (for PHOTO.DAT)"
        case Msg::ForName: return N_("{file} (for {name})");
        case Msg::LeadsTo: return N_("{name} leads to {path}");
        // TRANSLATORS: the temporary file a result is written to before it takes the result's name
        case Msg::ItsTemporary: return N_("its temporary {temporary}");
        case Msg::MissingWithLookAlikes:
            return N_("{file} is missing, and {count} files differ from it only in case: {files}");
        case Msg::IsDirectory: return N_("{file} is a directory");
        case Msg::LeadsToDirectory: return N_("{name} leads to {path}, which is a directory");
        case Msg::NotRegular: return N_("{file} is not a regular file");
        case Msg::LeadsToNotRegular: return N_("{name} leads to {path}, which is not a regular file");
        case Msg::NotWritable: return N_("{file} is not writable");
        case Msg::LeadsToNotWritable: return N_("{name} leads to {path}, which is not writable");
        case Msg::StrangersLink:
            return N_("{file} is a link of another user in a directory others can write; not followed");
        case Msg::LeadsToStrangersLink:
            return N_(
                "{name} leads to {path}, which is a link of another user in a directory others can write; not "
                "followed");
        case Msg::TooManyLinks: return N_("{file} leads through more than {count} links");
        // TRANSLATORS: {owner} is a user's name, or "user 1001" (the next message)
        case Msg::StrangersInput: return N_("{file} belongs to {owner}, in a directory others can write; not read");
        case Msg::UserNumber: return N_("user {uid}");
        case Msg::AppendOnlyDirectory:
            return N_(
                "{file} cannot be written: its directory lets no file in it be renamed or removed (it is "
                "append-only or immutable)");
        case Msg::TemporaryPathTooLong: return N_("the path of the temporary for {file} would be too long");
        case Msg::FileNumberOutside: return N_("file number {number} is outside 1 to {last}");
        case Msg::FileNumberOpen: return N_("file number {number} is already open");
        case Msg::FileNumberNotForReading: return N_("file number {number} is not open for reading");
        case Msg::FileNumberNotForWriting: return N_("file number {number} is not open for writing");

        // TRANSLATORS: a field of an input file, counted from 1: "field 2 of PHOTO.DAT"
        case Msg::FieldOf: return N_("field {field} of {file}");
        case Msg::FieldTooLong: return N_("{field} is longer than 1 MiB");
        case Msg::EndsBeforeField: return N_("{file} ends before field {field}");
        case Msg::Utf16Cut: return N_("{file} is UTF-16 that ends in the middle of a character");
        case Msg::Utf16Unpaired: return N_("{file} is UTF-16 with an unpaired surrogate");
        // TRANSLATORS: "Double" and "String" are the names of kinds of value, kept as they are
        case Msg::FieldNotANumber: return N_("{field} is \"{text}\", not a number");
        case Msg::StringNotANumber: return N_("the String \"{text}\" is not a number");
        case Msg::FieldBeyondDouble: return N_("{field} is beyond the largest Double");
        case Msg::NumberBeyondDouble: return N_("{text} is beyond the largest Double");

        case Msg::SumBeyondDouble: return N_("the sum is beyond the largest Double");
        case Msg::ProductBeyondDouble: return N_("the product is beyond the largest Double");
        case Msg::QuotientBeyondDouble: return N_("the quotient is beyond the largest Double");
        case Msg::PowerBeyondDouble: return N_("the power is beyond the largest Double");
        case Msg::QuotientByZero: return N_("the divisor of a quotient is 0");
        case Msg::RemainderByZero: return N_("the divisor of a remainder is 0");
        case Msg::Beyond32: return N_("{value} is beyond the 32-bit range");
        case Msg::FieldBeyond32: return N_("{field}: {value} is beyond the 32-bit range");
        case Msg::Beyond16: return N_("{value} is beyond the 16-bit range");
        case Msg::FieldBeyond16: return N_("{field}: {value} is beyond the 16-bit range");
        case Msg::DifferenceBeyond16: return N_("{left} - {right} is beyond the 16-bit range");
        case Msg::NoPower: return N_("{base} to the power {exponent} has no value");
        case Msg::NoSquareRoot: return N_("{value} has no real square root");
        case Msg::IndexOutside: return N_("index {index} of {table} is outside 0 to {last}");
        case Msg::FirstIndexOutside: return N_("first index {index} of {table} is outside 0 to {last}");
        case Msg::SecondIndexOutside: return N_("second index {index} of {table} is outside 0 to {last}");
        case Msg::TableTooLarge: return N_("the table {table} of {count} entries does not fit in memory");
        case Msg::TableBlockTooLarge: return N_("the table {table} does not fit in memory");

        case Msg::AccessibilityBusSilent:
            return N_(
                "the accessibility bus at {address} does not answer; screen readers will not read the box or "
                "the window");
        // TRANSLATORS: why nothing can be shown; followed by "; the box is not shown" or the like
        case Msg::NoDisplayWanted: return N_("no display (neither WAYLAND_DISPLAY nor DISPLAY is set)");
        case Msg::NoWindowLibraries: return N_("this build has no window libraries (GTK and X11)");
        case Msg::ModuleNotUsed: return N_("the display module {file} is not used: {why}");
        case Msg::ModuleNotLoaded: return N_("the display module {file} cannot be loaded");
        case Msg::IsAnotherUsers: return N_("{file} is another user's");
        case Msg::WritableByOthers: return N_("{file} can be written by others");
        case Msg::CannotBeFollowed: return N_("{file} cannot be followed");
        case Msg::NoNullDevice:
            return N_("no display: standard error cannot be kept from the window libraries (no /dev/null)");
        case Msg::DisplayNotOpened: return N_("no display can be opened at {display}");
        case Msg::DisplaysNotOpened: return N_("no display can be opened at {wayland} or {x}");
        // TRANSLATORS: a display that answers, but too slowly or too much to ever be done
        case Msg::DisplayTooSlow: return N_("the display {display} did not finish answering within a minute");
        case Msg::NoWindowSystem: return N_("the window system ({library}) cannot be loaded");
        case Msg::NoWindowHere: return N_("no window can be made here");
        // TRANSLATORS: the line at the top of tallage's window: "tallage.sol: 9,999 lines, sum 56"
        case Msg::ResultSummary: return N_("{file}: {lines} lines, sum {sum}");
        // TRANSLATORS: what a screen reader says of tallage's window after its caption:
        // "points read: 4; distances from point 0: 5, 10, 13; sum 56; tallage.sol written"
        case Msg::ResultDescription:
            return N_("points read: {count}; distances from point 0: {distances}; sum {sum}; {file} written");
        // TRANSLATORS: what stands between each three digits of a large number ("9,999")
        case Msg::ThousandsSeparator: return N_(",");
        case Msg::BoxNotShown: return N_("{why}; the box is not shown");
        // TRANSLATORS: {caption} is the window's caption, Form1
        case Msg::WindowNotShown: return N_("{why}; the window {caption} is not shown");
        case Msg::BoxLost: return N_("the display went away; the box is closed");
        case Msg::WindowLost: return N_("the display went away; the window {caption} is closed");
        case Msg::ReportBoxLost: return N_("the display went away; the box with the report is closed");
    }
    return "";
}

// The placeholder that opens at text[i] ("{file}": a name of letters and underscores in braces),
// its name into name; its length, or 0 where the brace opens none (it is then text).
std::size_t placeholder_at(std::string_view text, std::size_t i, std::string_view& name) {
    if (text[i] != '{') return 0;
    std::size_t end = i + 1;
    auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; };
    while (end < text.size() && letter(text[end])) ++end;
    if (end == i + 1 || end == text.size() || text[end] != '}') return 0;
    name = text.substr(i + 1, end - i - 1);
    return end - i + 1;
}

// A sentence's placeholders, each as often as it stands there, in order of their names.
std::vector<std::string_view> placeholders(std::string_view text) {
    std::vector<std::string_view> names;
    std::string_view name;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (placeholder_at(text, i, name)) names.push_back(name);
    std::sort(names.begin(), names.end());
    return names;
}

// The catalog's translations, as the system has them (set_translation).
std::atomic<const char* (*)(const char*)> translate{nullptr};

// The sentence as it is shown: in the user's language, where its translation is whole, shows as
// it reads and has the English sentence's placeholders, each as often (a catalog can drop no part
// of a report, its error's number and name among them, nor add one); else in English. A line of
// the program's keeps its English frame in every language, as scripts and people find a program's
// lines by its name and a colon.
const char* sentence(Msg id) {
    const char* source = english(id);
    if (id == Msg::Line || !*source) return source;
    auto lookup = translate.load();
    const char* translated = lookup ? lookup(source) : source;
    if (!translated || translated == source || is_blank(translated) || !shows_as_it_reads(translated)) return source;
    return placeholders(translated) == placeholders(source) ? translated : source;
}

// Which part a placeholder stands for: the place of its name among the English sentence's
// placeholders, in the order they first appear there; -1 for a name it has not.
int part_index(std::string_view source, std::string_view placeholder) {
    std::string_view seen[16];
    int count = 0;
    for (std::size_t i = 0; i < source.size(); ++i) {
        std::string_view name;
        if (!placeholder_at(source, i, name)) continue;
        int index = 0;
        while (index < count && seen[index] != name) ++index;
        if (name == placeholder) return index;
        if (index == count && count < 16) seen[count++] = name;
    }
    return -1;
}

// Calls out(text) for each stretch of the sentence shown, and part(name) for each placeholder the
// English sentence has too; anything else, a brace that opens none included, is text.
template <class Out, class Part>
void fill(std::string_view shown, std::string_view source, Out out, Part part) {
    std::size_t from = 0;
    for (std::size_t i = 0; i < shown.size(); ++i) {
        std::string_view name;
        std::size_t length = placeholder_at(shown, i, name);
        if (!length || part_index(source, name) < 0) continue;
        out(shown.substr(from, i - from));
        part(name);
        from = i + length;
        i = from - 1;
    }
    out(shown.substr(from));
}

// The sentences a stop's handler fills, made ready by prepare_stop_words.
std::atomic<const char*> prepared[static_cast<std::size_t>(Msg::Count)];

}  // namespace

Message name(std::string text) {
    Message m(std::move(text));
    m.id_ = Msg::Name;
    return m;
}

Message numeral(long long n) { return Message(std::to_string(n)); }

Message grouped(long long n) {
    std::string digits = std::to_string(n < 0 ? -n : n), shown;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) shown += sentence(Msg::ThousandsSeparator);
        shown += digits[i];
    }
    return Message((n < 0 ? "-" : "") + shown);
}

std::string words(const Message& message) {
    switch (message.id()) {
        case Msg::Text: return message.text();
        case Msg::Name: return escaped(message.text());
        case Msg::List: {
            std::string list;
            for (const Message& item : message.parts()) list += (list.empty() ? "" : sentence(Msg::List)) + words(item);
            return list;
        }
        default: break;
    }
    std::string out;
    const auto& parts = message.parts();
    const char* source = english(message.id());
    fill(
        sentence(message.id()), source, [&](std::string_view text) { out += text; },
        [&](std::string_view placeholder) {
            auto i = static_cast<std::size_t>(part_index(source, placeholder));
            if (i < parts.size()) out += words(parts[i]);
        });
    return out;
}

void set_translation(const char* (*lookup)(const char* english)) { translate = lookup; }

void prepare_stop_words() {
    prepared[static_cast<std::size_t>(Msg::Line)] = sentence(Msg::Line);
    for (auto id = static_cast<std::size_t>(Msg::Interrupted); id <= static_cast<std::size_t>(Msg::ConsoleClosed); ++id)
        prepared[id] = sentence(static_cast<Msg>(id));
}

std::size_t words_now(char* buffer, std::size_t room, Msg id, std::initializer_list<NamedPart> parts) {
    std::size_t n = 0;
    auto out = [&](std::string_view text) {
        for (char c : text)
            if (n < room) buffer[n++] = c;
    };
    const char* shown = prepared[static_cast<std::size_t>(id)];
    fill(shown ? shown : english(id), english(id), out, [&](std::string_view placeholder) {
        for (const NamedPart& part : parts)
            if (placeholder == part.name) out(part.text);
    });
    return n;
}

}  // namespace rt
