#include "files.hpp"

#include <array>
#include <memory>

#include "errors.hpp"
#include "fields.hpp"
#include "os.hpp"

namespace rt {

namespace {

constexpr int max_files = 16;
constexpr std::size_t flush_at = 1 << 20;

// Files to remove should the program stop, where a stop can find them: the temporary result per
// file number.
os::TempPath temporaries[max_files];

// Stops held back for the life of a scope.
struct HoldStops {
    HoldStops() { os::hold_stops(); }
    ~HoldStops() { os::release_stops(); }
};

class OutputFile {
  public:
    OutputFile(int number, std::string name) : number_(number), name_(std::move(name)) {
        buffer_.reserve(64 * 1024);  // before the file: nothing after it may throw
        place_ = os::resolve_result(name_);
        try {
            HoldStops hold;  // no file is made without being noted
            file_ = os::create_beside(place_, temporaries[number_], name_);
        } catch (...) {
            os::close(place_.directory);
            throw;
        }
    }

    void write(std::string_view text) {
        buffer_ += text;
        if (buffer_.size() >= flush_at) flush();
    }

    void flush() {
        std::string data;
        data.swap(buffer_);  // emptied whether or not the write succeeds
        os::write(file_, data, name_);
        data.clear();
        buffer_.swap(data);
    }

    // The result complete under its own name, synced before it is moved there so that a power
    // loss leaves the earlier result or this one, whole, and given the earlier one's owner and mode
    // as they stand at the move; later writes go on in place.
    void commit() {
        flush();
        if (committed_) return;
        os::sync(file_, name_);
        {
            HoldStops hold;
            os::replace(file_, temporaries[number_], place_, name_);
            committed_ = true;
            temporaries[number_].clear();
        }
        // Past the move there is no going back to the earlier result: its failure says so.
        os::sync_directory(place_, name_);
    }

    void close() {
        commit();
        release();
    }

    // Removed while still open, so that the system may remove it through its own handle (on
    // Windows, even while another program reads it).
    void abandon() noexcept {
        if (!committed_ && !temporaries[number_].empty()) os::remove_now(temporaries[number_]);
        temporaries[number_].clear();
        release();
    }

    ~OutputFile() { abandon(); }

  private:
    void release() noexcept {
        os::close(file_);
        file_ = {};
        os::close(place_.directory);
        place_.directory = {};
    }

    int number_;
    std::string name_;
    os::ResultPlace place_;
    os::File file_;
    bool committed_ = false;
    std::string buffer_;
};

struct Slot {
    std::unique_ptr<FieldReader> reader;
    std::unique_ptr<OutputFile> writer;
    bool open() const { return reader || writer; }
};

std::array<Slot, max_files> slots;

Slot& slot(int number) {
    if (number < 1 || number >= max_files)
        raise(InvalidCall, {Msg::FileNumberOutside, {numeral(number), numeral(max_files - 1)}});
    return slots[static_cast<std::size_t>(number)];
}

Slot& free_slot(int number) {
    Slot& s = slot(number);
    if (s.open()) raise(InvalidCall, {Msg::FileNumberOpen, {numeral(number)}});
    return s;
}

FieldReader& reader(int number) {
    Slot& s = slot(number);
    if (!s.reader) raise(InvalidCall, {Msg::FileNumberNotForReading, {numeral(number)}});
    return *s.reader;
}

OutputFile& writer(int number) {
    Slot& s = slot(number);
    if (!s.writer) raise(InvalidCall, {Msg::FileNumberNotForWriting, {numeral(number)}});
    return *s.writer;
}

}  // namespace

void open_input(int number, const std::string& name) {
    Slot& s = free_slot(number);
    std::string read_as;  // the file's own name, which reports about it give
    os::File file = os::open_input(name, read_as);
    try {
        s.reader = std::make_unique<FieldReader>(file, read_as);
    } catch (...) {
        os::close(file);
        throw;
    }
}

void open_output(int number, const std::string& name) {
    Slot& s = free_slot(number);
    s.writer = std::make_unique<OutputFile>(number, name);
}

void close(int number) {
    Slot& s = slot(number);
    if (s.writer) s.writer->close();
    s.writer.reset();
    s.reader.reset();
}

Value read_field(int number) { return reader(number).next(); }

// The Value keeps its field, which a conversion's error names.
std::int16_t read_16bit_field(int number) { return to_16bit(reader(number).next()); }

std::string_view line_end() { return os::line_end; }

void write_text(int number, std::string_view text) { writer(number).write(text); }

void commit_results() {
    for (Slot& s : slots)
        if (s.writer) s.writer->commit();
}

void close_all() {
    for (int n = 1; n < max_files; ++n) close(n);
}

void abandon_all() noexcept {
    for (Slot& s : slots) {
        if (s.writer) s.writer->abandon();
        s.reader.reset();
    }
}

void remove_temporaries_now() noexcept {
    for (const os::TempPath& temp : temporaries)
        if (!temp.empty()) os::remove_now(temp);
}

}  // namespace rt
