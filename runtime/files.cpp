#include "files.hpp"

#include <array>
#include <memory>

#include "errors.hpp"
#include "fields.hpp"
#include "os.hpp"

namespace rt {

namespace {

constexpr int max_files = os::max_results;  // numbers 1 to 15
constexpr std::size_t flush_at = 1 << 20;

// A result: written through a buffer of its own, complete under its name once committed. The
// system's side of it (its place, its temporary, noted where a stop finds it) is the seam's.
class OutputFile {
  public:
    explicit OutputFile(const std::string& name) {
        buffer_.reserve(64 * 1024);  // before the file: nothing after it may throw
        result_ = &os::open_result(name);
    }

    void write(std::string_view text) {
        buffer_ += text;
        if (buffer_.size() >= flush_at) flush();
    }

    void flush() {
        std::string data;
        data.swap(buffer_);  // emptied whether or not the write succeeds
        os::write(*result_, data);
        data.clear();
        buffer_.swap(data);
    }

    // The result complete under its own name, synced before it is moved there so that a power
    // loss leaves the earlier result or this one, whole, and given the earlier one's owner and mode
    // as they stand at the move; later writes go on in place.
    void commit() {
        flush();
        if (committed_) return;
        os::sync(*result_);
        os::replace(*result_);
        committed_ = true;
        // Past the move there is no going back to the earlier result: its failure says so.
        os::sync_directory(*result_);
    }

    void close() {
        commit();
        abandon();
    }

    // Closed; a temporary still there is removed (while still open, so that the system may remove
    // it through its own handle, on Windows even while another program reads it).
    void abandon() noexcept {
        if (result_) os::close(*result_);
        result_ = nullptr;
    }

    ~OutputFile() { abandon(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

  private:
    os::Result* result_ = nullptr;
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
    os::File file = os::open_input(name);
    try {
        s.reader = std::make_unique<FieldReader>(std::move(file));
    } catch (...) {
        os::close(file);
        throw;
    }
}

void open_output(int number, const std::string& name) {
    Slot& s = free_slot(number);
    s.writer = std::make_unique<OutputFile>(name);
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

void remove_temporaries_now() noexcept { os::remove_temporaries_now(); }

}  // namespace rt
