#include "files.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <optional>

#include "errors.hpp"
#include "fields.hpp"

namespace rt {

namespace {

constexpr int max_files = 16;
constexpr std::size_t flush_at = 1 << 20;

// Temporary names where a signal handler can find them: a fixed table of plain char arrays.
char temporaries[max_files][PATH_MAX];

std::string system_error(const std::string& doing, int err) { return doing + ": " + std::strerror(err); }

// Holds back the stopping signals, so that a temporary file is never created without its name
// being where the signal handler looks for it.
class HoldStopSignals {
  public:
    HoldStopSignals() {
        sigset_t stops;
        sigemptyset(&stops);
        for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stops, sig);
        sigprocmask(SIG_BLOCK, &stops, &old_);
    }
    ~HoldStopSignals() { sigprocmask(SIG_SETMASK, &old_, nullptr); }

  private:
    sigset_t old_;
};

class OutputFile {
  public:
    OutputFile(int number, std::string name) : number_(number), name_(std::move(name)) {
        struct stat st {};
        std::optional<mode_t> keep_mode;  // an earlier result's permission bits, 000 included
        if (::stat(name_.c_str(), &st) == 0) {
            if (S_ISDIR(st.st_mode)) raise(PathFileAccess, name_ + " is a directory");
            if (::access(name_.c_str(), W_OK) != 0) raise(PermissionDenied, name_ + " is not writable");
            if (S_ISREG(st.st_mode)) keep_mode = st.st_mode & 0777;  // its permissions, not set-id bits
        }
        std::size_t slash = name_.rfind('/');
        std::string dir = slash == std::string::npos ? "" : name_.substr(0, slash + 1);
        std::string base = name_.substr(dir.size());
        HoldStopSignals hold;
        for (int attempt = 0;; ++attempt) {
            temp_ = dir + "." + base + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
            if (temp_.size() >= PATH_MAX) raise(PathFileAccess, name_ + ": name too long");
            fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd_ >= 0) break;
            if (errno != EEXIST || attempt > 100)
                raise(error_for_errno(errno, PathFileAccess),
                      system_error("creating " + name_ + " (as " + temp_ + ")", errno));
        }
        std::memcpy(temporaries[number_], temp_.c_str(), temp_.size() + 1);
        if (keep_mode) ::fchmod(fd_, *keep_mode);
        buffer_.reserve(64 * 1024);
    }

    void write(std::string_view text) {
        buffer_ += text;
        if (buffer_.size() >= flush_at) flush();
    }

    void flush() {
        std::size_t done = 0;
        while (done < buffer_.size()) {
            ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                int err = errno;
                buffer_.clear();
                raise(err == ENOSPC || err == EDQUOT ? DiskFull : DeviceIO, system_error("writing " + name_, err));
            }
            done += static_cast<std::size_t>(n);
        }
        buffer_.clear();
    }

    // The result complete under its own name; later writes go on in place.
    void commit() {
        flush();
        if (committed_) return;
        if (::rename(temp_.c_str(), name_.c_str()) != 0)
            raise(error_for_errno(errno, PathFileAccess), system_error("replacing " + name_, errno));
        committed_ = true;
        temporaries[number_][0] = '\0';
    }

    void close() {
        commit();
        int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0) raise(DeviceIO, system_error("closing " + name_, errno));
    }

    void abandon() noexcept {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        if (!committed_) ::unlink(temp_.c_str());
        temporaries[number_][0] = '\0';
    }

    ~OutputFile() { abandon(); }

  private:
    int number_;
    std::string name_;
    std::string temp_;
    int fd_ = -1;
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
    if (number < 1 || number >= max_files) raise(InvalidCall, "file number " + std::to_string(number));
    return slots[static_cast<std::size_t>(number)];
}

Slot& free_slot(int number) {
    Slot& s = slot(number);
    if (s.open()) raise(InvalidCall, "file number " + std::to_string(number) + " is already open");
    return s;
}

FieldReader& reader(int number) {
    Slot& s = slot(number);
    if (!s.reader) raise(InvalidCall, "file number " + std::to_string(number) + " is not open for reading");
    return *s.reader;
}

OutputFile& writer(int number) {
    Slot& s = slot(number);
    if (!s.writer) raise(InvalidCall, "file number " + std::to_string(number) + " is not open for writing");
    return *s.writer;
}

}  // namespace

void open_input(int number, const std::string& name) {
    Slot& s = free_slot(number);
    int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) raise(error_for_errno(errno, PathFileAccess), system_error("opening " + name, errno));
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        raise(PathFileAccess, name + " is a directory");
    }
    s.reader = std::make_unique<FieldReader>(fd, name);
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

std::int16_t read_16bit_field(int number) {
    FieldReader& r = reader(number);
    Value v = r.next();
    try {
        return to_16bit(v);
    } catch (const RuntimeError& e) {
        if (v.kind() == Kind::String) throw;
        raise(e.number(), r.origin() + ": " + e.concerns());
    }
}

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
    for (auto& t : temporaries)
        if (t[0]) ::unlink(t);
}

}  // namespace rt
