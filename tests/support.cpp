#include "support.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace test {

std::string bin(const std::string& program) {
    if (const char* dir = std::getenv("TRIO_TEST_WINDOWS_BIN")) return std::string(dir) + "/" + program + ".exe";
    if (const char* dir = std::getenv("TRIO_TEST_BIN")) return std::string(dir) + "/" + program;
    return std::string(TRIO_BIN_DIR) + "/" + program;
}

bool windows() { return std::getenv("TRIO_TEST_WINDOWS_BIN") != nullptr; }

bool native() { return !windows() && std::getenv("TRIO_TEST_BIN") == nullptr; }

std::string lines(const std::string& lf_text) {
    if (!windows()) return lf_text;
    std::string out;
    for (char c : lf_text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return out;
}

TempDir::TempDir(int depth) {
    char pattern[] = "/tmp/trio-test-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
    root_ = path_ = pattern;
    ::chmod(path_.c_str(), 0777);  // so that a test may run a program as another user here
    for (int i = 0; i < depth; ++i) {
        path_ += "/" + std::string(55, static_cast<char>('a' + i));
        if (::mkdir(path_.c_str(), 0777) != 0) throw std::runtime_error("mkdir failed");
    }
}

TempDir::~TempDir() {
    std::string cmd = "chmod -R u+w '" + root_ + "' 2>/dev/null; rm -rf '" + root_ + "'";
    if (std::system(cmd.c_str()) != 0) {
    }
}

void TempDir::write(const std::string& name, const std::string& content) const {
    std::ofstream f(*this / name, std::ios::binary);
    f << content;
}

std::string TempDir::read_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

bool TempDir::exists(const std::string& name) const {
    struct stat st {};
    return ::lstat((*this / name).c_str(), &st) == 0;
}

std::vector<std::string> TempDir::entries() const { return test::entries(path_); }

std::vector<std::string> entries(const std::string& path) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(path.c_str())) {
        while (dirent* e = ::readdir(d))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

namespace {

RunResult run_once(const std::string& program, const std::string& dir, const RunOptions& options) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        int null = ::open("/dev/null", O_RDONLY);
        dup2(null, 0);
        dup2(out[1], 1);
        if (!options.stdout_file.empty()) dup2(::open(options.stdout_file.c_str(), O_WRONLY), 1);
        int unread[2];
        if (options.stdout_unread && pipe(unread) == 0) {
            dup2(unread[1], 1);
            ::close(unread[0]);
            ::close(unread[1]);
        }
        if (options.terminal) {  // the master stays open in the program, so the terminal lives as long
            int master = ::posix_openpt(O_RDWR | O_NOCTTY);
            if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) _exit(125);
            dup2(::open(::ptsname(master), O_RDWR | O_NOCTTY), 0);
        }
        dup2(err[1], 2);
        if (::chdir(dir.c_str()) != 0) _exit(127);
        unsetenv("WAYLAND_DISPLAY");  // the tests' display is an X server's, unless environment says otherwise
        if (options.display.empty()) {
            unsetenv("DISPLAY");
        } else {
            setenv("DISPLAY", options.display.c_str(), 1);
        }
        if (!options.failing_fsync.empty() || options.no_unnamed_files) {
            setenv("LD_PRELOAD", TRIO_FAIL_FSYNC_SHIM, 1);
            if (!options.failing_fsync.empty()) setenv("TRIO_FAIL_FSYNC", options.failing_fsync.c_str(), 1);
            if (options.no_unnamed_files) setenv("TRIO_NO_TMPFILE", "1", 1);
            // The sanitizers' runtime wants to come first, and now comes after the shim.
            const char* asan = std::getenv("ASAN_OPTIONS");
            setenv("ASAN_OPTIONS", (std::string(asan ? asan : "") + ":verify_asan_link_order=0").c_str(), 1);
        }
        for (const std::string& setting : options.environment) {
            std::size_t eq = setting.find('=');
            if (eq == std::string::npos) {
                unsetenv(setting.c_str());
            } else {
                setenv(setting.substr(0, eq).c_str(), setting.substr(eq + 1).c_str(), 1);
            }
        }
        // Whatever this process was given: a program must ignore these itself, or be ended by them.
        for (int sig : {SIGPIPE, SIGXFSZ}) signal(sig, SIG_DFL);
        if (options.file_size_limit) {
            rlimit lim{static_cast<rlim_t>(*options.file_size_limit), static_cast<rlim_t>(*options.file_size_limit)};
            setrlimit(RLIMIT_FSIZE, &lim);
        }
        if (options.open_files_limit) {
            rlimit lim{static_cast<rlim_t>(*options.open_files_limit), static_cast<rlim_t>(*options.open_files_limit)};
            setrlimit(RLIMIT_NOFILE, &lim);
        }
        rlimit no_core{0, 0};  // a program ended by a fault leaves no core file among the results
        setrlimit(RLIMIT_CORE, &no_core);
        for (int sig : options.ignored_signals) signal(sig, SIG_IGN);
        for (int fd : options.closed_fds) ::close(fd);
        // The other user alone, without the groups of the user running the tests (root's, say).
        if (options.uid && (setgroups(0, nullptr) != 0 || setgid(*options.uid) != 0 || setuid(*options.uid) != 0))
            _exit(126);
        std::vector<std::string> words;
        if (const char* wrapper = std::getenv("TRIO_TEST_WRAPPER")) {
            std::istringstream in(wrapper);
            for (std::string w; in >> w;) words.push_back(w);
        }
        words.push_back(program);
        words.insert(words.end(), options.args.begin(), options.args.end());
        std::vector<char*> argv;
        for (std::string& w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    RunResult result;
    auto started = std::chrono::steady_clock::now();
    auto elapsed = [&] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started)
            .count();
    };
    std::size_t sent = 0;
    long last_sent = 0;
    auto time_to_signal = [&] {
        if (sent == options.signals.size()) return false;
        if (sent > 0) return elapsed() >= last_sent + 100;
        return elapsed() >= options.signal_after_ms && (!options.signal_when || options.signal_when());
    };
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open_pipes = 2;
    int status = 0;
    rusage usage{};
    bool exited = false;
    // Until the program has ended and its output is read; a process it left behind (a Wine
    // server, say) may hold the pipes open long after.
    while (open_pipes > 0) {
        if (time_to_signal()) {
            ::kill(pid, options.signals[sent++]);
            last_sent = elapsed();
        }
        if (elapsed() > options.timeout_ms) {
            ::kill(-pid, SIGKILL);
            result.timed_out = true;
            break;
        }
        if (!exited) exited = ::wait4(pid, &status, WNOHANG, &usage) == pid;
        if (::poll(fds, 2, exited ? 0 : 10) <= 0) {
            if (exited) break;
            continue;
        }
        for (pollfd& p : fds) {
            if (p.fd < 0 || !(p.revents & (POLLIN | POLLHUP))) continue;
            char buf[65536];
            ssize_t n = ::read(p.fd, buf, sizeof buf);
            if (n <= 0) {
                ::close(p.fd);
                p.fd = -1;
                --open_pipes;
            } else {
                (p.fd == out[0] ? result.out : result.err).append(buf, static_cast<std::size_t>(n));
            }
        }
    }
    for (pollfd& p : fds)
        if (p.fd >= 0) ::close(p.fd);
    if (!exited) ::wait4(pid, &status, 0, &usage);
    result.signalled = sent == options.signals.size();
    result.peak_kib = usage.ru_maxrss;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

// Wine, now and then, under load, fails to start a program at all: its client loses the Wine
// server ("wine client error:0: recvmsg: Connection reset by peer"), or its loader gives up
// ("ShellExecuteEx failed: Internal error"). The program never ran, and is started again.
bool never_started(const RunResult& r) {
    return r.err.rfind("wine client error:", 0) == 0 || r.err.find("ShellExecuteEx failed:") != std::string::npos;
}

}  // namespace

RunResult run(const std::string& program, const std::string& dir, const RunOptions& options) {
    RunResult result = run_once(program, dir, options);
    for (int again = 0; again < 2 && never_started(result); ++again) result = run_once(program, dir, options);
    return result;
}

bool unnamed_files(const std::string& dir) {
    int fd = ::open(dir.c_str(), O_TMPFILE | O_WRONLY, 0600);
    if (fd >= 0) ::close(fd);
    return fd >= 0;
}

bool unnamed_file_open_in(const std::string& dir) {
    // The system shows such a file, among a process's descriptors, as "<dir>/#<inode> (deleted)".
    const std::string prefix = dir + "/#", suffix = " (deleted)";
    for (const std::string& pid : entries("/proc")) {
        if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
        for (const std::string& fd : entries("/proc/" + pid + "/fd")) {
            char target[4096];
            ssize_t n = ::readlink(("/proc/" + pid + "/fd/" + fd).c_str(), target, sizeof target);
            std::string_view t(target, n > 0 ? static_cast<std::size_t>(n) : 0);
            if (t.size() > prefix.size() + suffix.size() && t.substr(0, prefix.size()) == prefix &&
                t.substr(t.size() - suffix.size()) == suffix)
                return true;
        }
    }
    return false;
}

bool opens_as(uid_t uid, const std::string& path) {
    pid_t pid = fork();
    if (pid == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(uid) != 0 || setuid(uid) != 0) _exit(2);
        _exit(::open(path.c_str(), O_RDONLY) >= 0 ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::vector<std::string> locale(const std::string& name) {
    if (name == "C" || name == "C.UTF-8") return {"LANG=" + name, "LC_ALL=" + name};  // the C library's own
    const std::string folder = std::string(TRIO_BIN_DIR) + "/../test-locales", made = folder + "/" + name;
    if (::access((made + "/LC_CTYPE").c_str(), R_OK) != 0) {
        // Made aside, then moved into place whole: tests that run side by side may both make it.
        ::mkdir(folder.c_str(), 0755);
        std::string aside = folder + "/.making-XXXXXX";
        if (::mkdtemp(aside.data())) {
            std::size_t dot = name.find('.');
            std::string command = "localedef -c -i " + name.substr(0, dot) + " -f " + name.substr(dot + 1) + " '" +
                                  aside + "/" + name + "' >/dev/null 2>&1";
            if (std::system(command.c_str()) >= 0) ::rename((aside + "/" + name).c_str(), made.c_str());
            if (::access((made + "/LC_CTYPE").c_str(), R_OK) != 0)  // the tests then read the C locale's words
                std::fprintf(stderr,
                             "the locale %s cannot be made here (localedef, and the locales package's "
                             "sources)\n",
                             name.c_str());
            command = "rm -rf '" + aside + "'";
            if (std::system(command.c_str()) != 0) {
            }
        }
    }
    return {"LOCPATH=" + folder, "LANG=" + name, "LC_ALL=" + name};
}

std::size_t count_lines(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

std::string line_end() { return windows() ? "\r\n" : "\n"; }

bool is_line(const std::string& text, const std::string& pattern, const std::string& end) {
    if (count_lines(text) != 1 || text.size() < end.size() ||
        text.compare(text.size() - end.size(), end.size(), end) != 0)
        return false;
    std::string_view line(text.data(), text.size() - end.size());
    if (line.find('\r') != std::string_view::npos) return false;
    // Each piece between the stars in turn, the first at the start, the last at the end.
    std::size_t at = 0, from = 0;
    for (bool first = true;; first = false) {
        std::size_t star = pattern.find('*', from);
        std::string_view piece(pattern.data() + from, (star == std::string::npos ? pattern.size() : star) - from);
        if (star == std::string::npos)
            return line.size() - at >= piece.size() && line.substr(line.size() - piece.size()) == piece &&
                   (!first || line.size() == piece.size());
        std::size_t found =
            first ? (line.substr(0, piece.size()) == piece ? 0 : std::string_view::npos) : line.find(piece, at);
        if (found == std::string_view::npos) return false;
        at = found + piece.size();
        from = star + 1;
    }
}

Bystander::Bystander(const std::string& dir, std::vector<std::string> args, bool until_released) {
    // The marks' paths as Wine shows the machine's root: drive Z.
    auto windows_path = [this](const char* name) {
        std::string path = "Z:" + (marks_ / name);
        std::replace(path.begin(), path.end(), '/', '\\');
        return path;
    };
    marker_ = windows_path("ready");
    if (until_released) args.push_back(windows_path("released"));
    args.push_back(marker_);
    RunOptions options;
    options.args = std::move(args);
    options.timeout_ms = 60000;
    // Wine now and then fails to start a program at all on a busy machine: one that ends before it
    // is ready is started again, as a test that went on without it would test nothing.
    for (int attempt = 0; attempt < 3; ++attempt) {
        result_ = std::async(std::launch::async, [=] { return run(bin("bystander"), dir, options); });
        while (!marks_.exists("ready") &&
               result_.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
        }
        if (marks_.exists("ready")) return;
    }
    throw std::runtime_error("the bystander never got ready: " + result_.get().err);
}

}  // namespace test
