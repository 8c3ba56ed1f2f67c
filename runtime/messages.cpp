// The catalog: each message's sentence in English, the source of every translation, and the one
// function that puts a message in words.
#include "messages.hpp"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "errors.hpp"
#include "os.hpp"

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

        // TRANSLATORS: the names of the run-time errors, each a fixed name of its number (53 is
        // always "File not found"), capitalised as a name
        case Msg::InvalidCall: return N_("Invalid procedure call or argument");
        case Msg::Overflow: return N_("Overflow");
        case Msg::OutOfMemory: return N_("Out of memory");
        case Msg::SubscriptOutOfRange: return N_("Subscript out of range");
        case Msg::DivisionByZero: return N_("Division by zero");
        case Msg::TypeMismatch: return N_("Type mismatch");
        case Msg::FileNotFound: return N_("File not found");
        case Msg::DeviceIO: return N_("Device I/O error");
        case Msg::DiskFull: return N_("Disk full");
        case Msg::InputPastEnd: return N_("Input past end of file");
        case Msg::PermissionDenied: return N_("Permission denied");
        case Msg::PathFileAccess: return N_("Path/File access error");
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

}  // namespace

// Whether text shows as it reads: nothing in it that escaped() would change but a backslash.
bool shows_as_it_reads(std::string_view text);

namespace {

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

// The sentence as it is shown: in the user's language, where its translation is whole, shows as
// it reads and has the English sentence's placeholders, each as often (a catalog can drop no part
// of a report, its error's number and name among them, nor add one); else in English. A line of
// the program's keeps its English frame in every language, as scripts and people find a program's
// lines by its name and a colon.
const char* sentence(Msg id) {
    const char* source = english(id);
    if (id == Msg::Line || !*source) return source;
    const char* translated = os::translation(source);
    if (!translated || translated == source || !translated[std::strspn(translated, " ")] ||
        !shows_as_it_reads(translated))
        return source;
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

Msg error_name(int number) {
    switch (number) {
        case InvalidCall: return Msg::InvalidCall;
        case Overflow: return Msg::Overflow;
        case OutOfMemory: return Msg::OutOfMemory;
        case SubscriptOutOfRange: return Msg::SubscriptOutOfRange;
        case DivisionByZero: return Msg::DivisionByZero;
        case TypeMismatch: return Msg::TypeMismatch;
        case FileNotFound: return Msg::FileNotFound;
        case DeviceIO: return Msg::DeviceIO;
        case DiskFull: return Msg::DiskFull;
        case InputPastEnd: return Msg::InputPastEnd;
        case PermissionDenied: return Msg::PermissionDenied;
        case PathFileAccess: return Msg::PathFileAccess;
        default: return Msg::OtherError;
    }
}

namespace {

// The UTF-8 character at text[i]: its length, with its code point in cp; 0 where the bytes there
// are not one (a stray or missing continuation byte, an overlong form, a surrogate, past U+10FFFF).
std::size_t utf8_at(std::string_view text, std::size_t i, char32_t& cp) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char lead = byte(i);
    std::size_t length = lead < 0x80                   ? 1
                         : lead >= 0xc2 && lead < 0xe0 ? 2
                         : lead >= 0xe0 && lead < 0xf0 ? 3
                         : lead >= 0xf0 && lead < 0xf5 ? 4
                                                       : 0;
    if (length == 0 || i + length > text.size()) return 0;
    cp = length == 1 ? lead : lead & (0x7f >> length);
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xc0) != 0x80) return 0;
        cp = cp << 6 | (byte(i + k) & 0x3f);
    }
    static const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < least[length] || (cp >= 0xd800 && cp <= 0xdfff) || cp > 0x10ffff) return 0;
    return length;
}

// Whether a character would harm a line: a control (C0, DEL, C1), or one that reorders or hides
// the text around it: the bidirectional marks, embeddings, overrides and isolates, the line and
// paragraph separators, and every character Unicode says a reader does not see (its default
// ignorables: the zero-width ones, the soft hyphen, the byte-order mark, variation selectors,
// fillers, tags) or that formats text unseen (the interlinear annotation marks).
bool harms_a_line(char32_t cp) {
    static const char32_t unseen[][2] = {
        {0x00ad, 0x00ad},   {0x034f, 0x034f},   {0x061c, 0x061c}, {0x115f, 0x1160}, {0x17b4, 0x17b5},
        {0x180b, 0x180f},   {0x200b, 0x200f},   {0x2028, 0x202e}, {0x2060, 0x206f}, {0x3164, 0x3164},
        {0xfe00, 0xfe0f},   {0xfeff, 0xfeff},   {0xffa0, 0xffa0}, {0xfff0, 0xfffb}, {0x1bca0, 0x1bca3},
        {0x1d173, 0x1d17a}, {0xe0000, 0xe0fff},
    };
    if (cp < 0x20 || (cp >= 0x7f && cp <= 0x9f)) return true;
    for (const auto& range : unseen)
        if (cp >= range[0] && cp <= range[1]) return true;
    return false;
}

const char hex[] = "0123456789abcdef";

}  // namespace

std::string escaped(std::string_view text) {
    std::string shown;
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp = 0;
        std::size_t length = utf8_at(text, i, cp);
        if (text[i] == '\\') {
            shown += "\\\\";
        } else if (length == 0 || (harms_a_line(cp) && cp < 0x80)) {  // a byte: \xHH
            auto b = static_cast<unsigned char>(text[i]);
            shown += {'\\', 'x', hex[b >> 4], hex[b & 15]};
            length = 1;
        } else if (harms_a_line(cp) && cp <= 0xffff) {  // a character: \uHHHH
            shown += {'\\', 'u', hex[cp >> 12 & 15], hex[cp >> 8 & 15], hex[cp >> 4 & 15], hex[cp & 15]};
        } else if (harms_a_line(cp)) {  // beyond the first plane: \UHHHHHHHH
            shown += "\\U";
            for (int shift = 28; shift >= 0; shift -= 4) shown += hex[cp >> shift & 15];
        } else {
            shown.append(text, i, length);
        }
        i += length ? length : 1;
    }
    return shown;
}

std::string_view first_characters(std::string_view text, std::size_t count) {
    std::size_t i = 0;
    for (; i < text.size() && count > 0; --count) {
        char32_t cp = 0;
        std::size_t length = utf8_at(text, i, cp);
        i += length ? length : 1;
    }
    return text.substr(0, i);
}

bool shows_as_it_reads(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp = 0;
        std::size_t length = utf8_at(text, i, cp);
        if (length == 0 || harms_a_line(cp)) return false;
        i += length;
    }
    return true;
}

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
