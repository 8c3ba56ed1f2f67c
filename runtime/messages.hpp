// Every sentence the programs show a person, worded once, here: the run-time errors' reports and
// names, the notices, the error box's text, the lines a stop leaves. Code elsewhere says which
// sentence and gives its parts (a file's name, a field's number, the system's own words); no code
// outside messages.cpp joins words into a message. The programs' own texts (computer's "OK", the
// caption "Form1") are theirs, not the catalog's.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "error_list.hpp"

namespace rt {

// Which sentence (or phrase that stands in one, as "field 2 of PHOTO.DAT"): messages.cpp holds each
// in words, with named placeholders ("opening {file}: {reason}").
enum class Msg : unsigned short {
    Text,  // not a sentence: a part that is shown as it stands (a number, the system's own words)
    Name,  // not a sentence: a part from outside (a name, a field's text), shown escaped
    List,  // not a sentence: its parts, one after another, as a list

    // A line of the program's, and a run-time error's report.
    Line,
    Report,
    ErrorWithDetail,

// The run-time errors' names (error_list.hpp), and the name of a number that has none there.
#define TRIO_ERROR_MESSAGE(name, number, english) name,
    TRIO_ERRORS(TRIO_ERROR_MESSAGE)
#undef TRIO_ERROR_MESSAGE
        OtherError,

    // Stops: a signal, or a Windows console's event.
    Interrupted,
    Terminated,
    HungUp,
    Quit,
    AlarmClock,
    UserSignal,
    VirtualTimer,
    ProfilingTimer,
    CpuLimit,
    Pollable,
    PowerFailure,
    StackFault,
    Aborted,
    BusError,
    ArithmeticFault,
    IllegalInstruction,
    SegmentationFault,
    BadSystemCall,
    TraceTrap,
    RealTimeSignal,
    OtherSignal,
    ConsoleClosed,

    // Files: what was being done when the system refused, with its words.
    Opening,
    OpeningDirectoryOf,
    OpeningAgain,
    Reading,
    ReadingLink,
    Writing,
    Syncing,
    CreatingIn,
    CreatingAs,
    NamingAs,
    Replacing,
    HeldOpen,
    FindingTarget,
    Examining,
    WritingPrompt,
    NotConfirmed,
    SystemErrorCode,
    // Files: what a name is, or leads to.
    ForName,
    LeadsTo,
    ItsTemporary,
    MissingWithLookAlikes,
    IsDirectory,
    LeadsToDirectory,
    NotRegular,
    LeadsToNotRegular,
    NotWritable,
    LeadsToNotWritable,
    StrangersLink,
    LeadsToStrangersLink,
    TooManyLinks,
    TemporaryPathTooLong,
    StrangersInput,
    UserNumber,
    AppendOnlyDirectory,
    FileNumberOutside,
    FileNumberOpen,
    FileNumberNotForReading,
    FileNumberNotForWriting,

    // Fields.
    FieldOf,
    FieldTooLong,
    EndsBeforeField,
    Utf16Cut,
    Utf16Unpaired,
    FieldNotANumber,
    StringNotANumber,
    FieldBeyondDouble,
    NumberBeyondDouble,

    // Values and tables.
    SumBeyondDouble,
    ProductBeyondDouble,
    QuotientBeyondDouble,
    PowerBeyondDouble,
    QuotientByZero,
    RemainderByZero,
    Beyond32,
    FieldBeyond32,
    Beyond16,
    FieldBeyond16,
    DifferenceBeyond16,
    NoPower,
    NoSquareRoot,
    IndexOutside,
    FirstIndexOutside,
    SecondIndexOutside,
    TableTooLarge,
    TableBlockTooLarge,

    // The display: why nothing can be shown, and what then.
    AccessibilityBusSilent,
    NoDisplayWanted,
    NoWindowLibraries,
    ModuleNotUsed,
    ModuleNotLoaded,
    IsAnotherUsers,
    WritableByOthers,
    CannotBeFollowed,
    NoNullDevice,
    DisplayNotOpened,
    DisplaysNotOpened,
    DisplayTooSlow,
    NoWindowSystem,
    NoWindowHere,
    ResultSummary,
    ResultDescription,
    ThousandsSeparator,
    BoxNotShown,
    WindowNotShown,
    BoxLost,
    WindowLost,
    ReportBoxLost,

    Count
};

// A message to be put in words: which sentence, and its parts, each a message of its own (a nested
// phrase, or text). Parts go in the order their placeholders first appear in the English sentence;
// a translation may put them in any order.
class Message {
  public:
    Message() = default;  // no message at all
    Message(Msg id, std::vector<Message> parts = {}) : id_(id), parts_(std::move(parts)) {}
    // Text shown as it stands: a number, the system's own words.
    Message(std::string text) : id_(Msg::Text), text_(std::move(text)) {}
    Message(const char* text) : id_(Msg::Text), text_(text) {}

    bool empty() const { return id_ == Msg::Text && text_.empty(); }
    Msg id() const { return id_; }
    const std::vector<Message>& parts() const { return parts_; }
    const std::string& text() const { return text_; }

  private:
    friend Message name(std::string text);
    Msg id_ = Msg::Text;
    std::vector<Message> parts_;
    std::string text_;
};

// Text from outside (a file's name or path, a field's text) as a part: shown escaped.
Message name(std::string text);
// A whole number as a part, in decimal; grouped, with the separator of thousands in the user's
// language ("9,999").
Message numeral(long long n);
Message grouped(long long n);

// The message in words, each placeholder filled: the one place where a message is worded.
std::string words(const Message& message);

// The catalog's sentences in the user's language: lookup(english) gives a sentence's translation,
// or the English one given where there is none. Until it is set, every sentence is in English.
void set_translation(const char* (*lookup)(const char* english));

// For the lines a stop leaves, where allocating is not allowed (in a signal handler): the sentences
// made ready beforehand, then filled into a buffer of the caller's, each part by its placeholder's
// name; words_now returns the bytes written.
void prepare_stop_words();
struct NamedPart {
    const char* name;
    const char* text;
};
std::size_t words_now(char* buffer, std::size_t room, Msg id, std::initializer_list<NamedPart> parts);

}  // namespace rt
