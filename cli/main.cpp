// palavox: the three text services over files and pipes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "palavox/error.hpp"
#include "palavox_forms.hpp"
#include "utf8/utf8.hpp"
#include "verify/verify_command.hpp"

namespace {

namespace forms = palavox::forms;
namespace pieces = palavox::pieces;

constexpr const char* kUsage =
    "usage: palavox remover-acentuacao [FILE] [-o FILE]\n"
    "       palavox find-string [-B|--binary] PROCURA [FILE]\n"
    "       palavox trata-html [--target T] [FILE] [-o FILE]\n"
    "       palavox verify [--report FILE.md] [--json] RECORDING...\n"
    "       palavox --help | --version\n"
    "\n"
    "Reads UTF-8 (or UTF-16 after its byte-order mark) from FILE, or from standard\n"
    "input when FILE is absent or \"-\"; writes UTF-8 to standard output or, whole or\n"
    "not at all, to the file given with -o. find-string prints the count: matches\n"
    "ignore case unless -B is given. verify replays a recording of another\n"
    "component's answers through Palavox and explains each difference\n"
    "(docs/migrating.md).\n"
    "Exit status: 0 done, 1 failed (invalid input, error, I/O; for verify, a\n"
    "difference unexplained or a damaged recording), 2 wrong usage.\n";

// What a pipe holds unless asked (64 KiB on Linux) is also the most one read
// or write through it moves: the pipes on either side are asked to hold as
// much as one read takes, so the text moves in fewer system calls and task
// switches, and the writer before us runs on while we work.
constexpr std::size_t kDefaultReadSize = 1024 * 1024;
// Output buffered for a read: markup makes a text longer (text dense with
// links, twice as long), and the output of one read still goes out in one
// write, straight from where the step wrote it.
constexpr std::size_t kOutputPerRead = 2;

class UsageError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A failure of the command's own (input it cannot read or decode), told in its own words.
class CommandError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

class IoError : public CommandError {
public:
    IoError(const std::string& what, int error)
        : CommandError(what + ": " + std::strerror(error)) {}
};

struct Options {
    enum class Command { Fold, Count, Link } command = Command::Fold;
    std::optional<std::string> input;   // absent: standard input
    std::optional<std::string> output;  // absent: standard output
    std::string procura;
    std::string target;
    std::u16string_view tipo;  // FindString's vemTipo: "B" for -B
    std::size_t readSize = kDefaultReadSize;
};

std::u16string FromUtf8(const std::string& s, const char* what) {
    std::u16string units(s.size(), u'\0');
    const palavox::utf8::Decoded decoded = palavox::utf8::Decode(s, units.data());
    if (decoded.valid != s.size()) throw UsageError(std::string(what) + " is not valid UTF-8");
    units.resize(decoded.units);
    return units;
}

// Options may come before or after the file; "--" ends them.
Options Parse(const std::vector<std::string>& args) {
    Options o;
    const std::string& command = args.at(0);
    if (command == "remover-acentuacao") {
        o.command = Options::Command::Fold;
    } else if (command == "find-string") {
        o.command = Options::Command::Count;
    } else if (command == "trata-html") {
        o.command = Options::Command::Link;
    } else {
        throw UsageError("unknown command '" + command + "'");
    }
    std::vector<std::string> positional;
    bool optionsEnded = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        const auto value = [&](const std::string& name) -> std::string {
            // branch-untaken: only NAME or NAME=... reaches value(), so a longer one starts with
            // NAME=
            if (a.size() > name.size() && a.compare(0, name.size() + 1, name + "=") == 0) {
                return a.substr(name.size() + 1);
            }
            if (i + 1 == args.size()) throw UsageError(name + " needs a value");
            return args[++i];
        };
        const auto is = [&](const std::string& name) {
            return a == name || a.compare(0, name.size() + 1, name + "=") == 0;
        };
        if (optionsEnded || a == "-" || a.empty() || a[0] != '-') {
            positional.push_back(a);
        } else if (a == "--") {
            optionsEnded = true;
        } else if (o.command != Options::Command::Count && (a == "-o" || is("--output"))) {
            o.output = value(a == "-o" ? "-o" : "--output");
        } else if (o.command == Options::Command::Link && is("--target")) {
            o.target = value("--target");
        } else if (o.command == Options::Command::Count && (a == "-B" || a == "--binary")) {
            o.tipo = u"B";
        } else if (is("--read-size")) {  // for tests and benchmarks: each read, and the pipes
            const std::string n = value("--read-size");
            char* end = nullptr;
            const unsigned long long size = std::strtoull(n.c_str(), &end, 10);
            if (n.empty() || *end != '\0' || size == 0 || size > (std::size_t{1} << 30)) {
                throw UsageError("--read-size needs a number of bytes");
            }
            o.readSize = static_cast<std::size_t>(size);
        } else {
            throw UsageError("unknown option '" + a + "' for " + command);
        }
    }
    if (o.command == Options::Command::Count) {
        if (positional.empty()) throw UsageError("find-string needs PROCURA");
        o.procura = positional.front();
        positional.erase(positional.begin());
    }
    if (positional.size() > 1) throw UsageError("more than one input file");
    if (!positional.empty() && positional.front() != "-") o.input = positional.front();
    return o;
}

// ---- Output

void WriteAll(int fd, std::string_view bytes, const std::string& name) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            // branch-untaken: no handler returns (those set end the process), so no call is
            // interrupted
            if (errno == EINTR) continue;
            throw IoError(name, errno);
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

// The temporary file of -o, removed if the run ends any other way than by
// its rename, signals included.
char g_temporary[4096];

void RemoveTemporaryAndDie(int sig) {
    // branch-untaken: runs in a process the signal then ends, whose counts are never written
    if (g_temporary[0] != '\0') ::unlink(g_temporary);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

// -o FILE: written beside FILE under another name, then renamed over it, so
// FILE is either what it was or the whole result.
class AtomicFile {
public:
    explicit AtomicFile(std::string path) : path_(std::move(path)) {
        const std::size_t slash = path_.rfind('/');
        const std::string dir = slash == std::string::npos ? "." : path_.substr(0, slash + 1);
        std::string tmp = dir + (slash == std::string::npos ? "/" : "") + ".palavox-XXXXXX";
        if (tmp.size() >= sizeof g_temporary) throw IoError(path_, ENAMETOOLONG);
        for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) std::signal(sig, RemoveTemporaryAndDie);
        fd_ = ::mkstemp(tmp.data());
        if (fd_ < 0) throw IoError(path_, errno);
        temporary_ = tmp;
        std::memcpy(g_temporary, tmp.c_str(), tmp.size() + 1);
    }
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    ~AtomicFile() {
        if (fd_ >= 0) ::close(fd_);
        if (!temporary_.empty()) ::unlink(temporary_.c_str());
        g_temporary[0] = '\0';
    }

    int fd() const noexcept { return fd_; }

    void Commit() {
        // An existing file keeps its permissions; a new one gets the usual ones.
        struct stat st {};
        mode_t mode;
        if (::stat(path_.c_str(), &st) == 0) {
            mode = st.st_mode & 07777;
        } else {
            const mode_t mask = ::umask(0);
            ::umask(mask);
            mode = 0666 & ~mask;
        }
        // branch-untaken: fchmod and fsync of the file just written fail only on a failing disk
        if (::fchmod(fd_, mode) != 0 || ::fsync(fd_) != 0) throw IoError(path_, errno);
        const int fd = fd_;
        fd_ = -1;
        // branch-untaken: closing it after fsync fails only on a failing disk
        if (::close(fd) != 0) throw IoError(path_, errno);
        if (::rename(temporary_.c_str(), path_.c_str()) != 0) throw IoError(path_, errno);
        temporary_.clear();
        g_temporary[0] = '\0';
    }

private:
    std::string path_;
    std::string temporary_;
    int fd_ = -1;
};

// ---- Running

// Only ever grown, and best effort: the system may allow less
// (fs.pipe-max-size), or know no such request.
void WidenPipe(int fd, std::size_t size) {
#if defined(F_SETPIPE_SZ) && defined(F_GETPIPE_SZ)
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISFIFO(st.st_mode)) return;
    size = std::min(size, kDefaultReadSize);  // a pipe is kernel memory: no more than that
    const int now = ::fcntl(fd, F_GETPIPE_SZ);
    // branch-untaken: F_GETPIPE_SZ does not fail on a pipe
    if (now > 0 && static_cast<std::size_t>(now) < size) {
        (void)::fcntl(fd, F_SETPIPE_SZ, static_cast<int>(size));
    }
#else
    (void)fd;
    (void)size;
#endif
}

// Each read through the stream, and what it writes out; the count, if any, at the end.
void Pump(int in, const std::string& inName, std::size_t readSize, forms::InPieces& stream, int out,
          const std::string& outName) {
    std::unique_ptr<char[]> input(new char[readSize]);
    const std::size_t outSize = kOutputPerRead * readSize;
    std::unique_ptr<char[]> output(new char[outSize]);
    const auto write = [&](const pieces::OutBuffer& o) { WriteAll(out, {o.dst, o.pos}, outName); };
    for (;;) {
        const ssize_t n = ::read(in, input.get(), readSize);
        if (n < 0) {
            // branch-untaken: no handler returns (those set end the process), so no call is
            // interrupted
            if (errno == EINTR) continue;
            throw IoError(inName, errno);
        }
        if (n == 0) break;
        pieces::InBuffer piece{input.get(), static_cast<std::size_t>(n), 0};
        do {
            pieces::OutBuffer o{output.get(), outSize, 0};
            stream.Step(piece, o);
            write(o);
        } while (piece.pos < piece.size);
    }
    for (std::size_t left = 1; left != 0;) {
        pieces::OutBuffer o{output.get(), outSize, 0};
        left = stream.End(o);
        write(o);
    }
}

// The command's method over its input: UTF-8, or UTF-16 behind its mark.
forms::InPieces MakeJob(const Options& o) {
    constexpr pieces::Input kInput = pieces::Input::ByteOrderMark;
    // branch-untaken: every Command is a case; no other value reaches the switch
    switch (o.command) {
        case Options::Command::Count:
            return forms::InPieces::FindString(FromUtf8(o.procura, "PROCURA"), o.tipo, kInput);
        case Options::Command::Link:
            FromUtf8(o.target, "the target");  // only checked: the markup is made on UTF-8
            return forms::InPieces::TrataHTML(o.target, kInput);
        case Options::Command::Fold:
            break;
    }
    return forms::InPieces::RemoverAcentuacao(kInput);
}

int Run(const Options& o) {
    forms::InPieces job = MakeJob(o);
    const std::string inputName = o.input.value_or("standard input");
    int in = STDIN_FILENO;
    if (o.input) {
        in = ::open(o.input->c_str(), O_RDONLY | O_CLOEXEC);
        if (in < 0) throw IoError(*o.input, errno);
    }
    WidenPipe(in, o.readSize);
    std::optional<AtomicFile> file;
    if (o.output) file.emplace(*o.output);
    if (!file) WidenPipe(STDOUT_FILENO, o.readSize);
    const int out = file ? file->fd() : STDOUT_FILENO;
    const std::string outputName = o.output.value_or("standard output");
    try {
        Pump(in, inputName, o.readSize, job, out, outputName);
    } catch (const pieces::InvalidInput& e) {
        throw CommandError(inputName + ": invalid " + e.encoding() + " at byte offset " +
                           std::to_string(e.offset()));
    }
    if (job.counts()) WriteAll(out, std::to_string(job.EndCount()) + "\n", outputName);
    if (in != STDIN_FILENO) ::close(in);
    if (file) file->Commit();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    for (const std::string& a : args) {
        if (a == "--") break;
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (a == "--version") {
            std::printf("palavox %s\n", PALAVOX_CLI_VERSION);
            return 0;
        }
    }
    if (args.front() == "verify") return palavox::verify::Main(args);
    try {
        const Options options = Parse(args);
        // Nothing to read but a person at a terminal: say how to use it instead of waiting.
        if (!options.input && ::isatty(STDIN_FILENO)) {
            std::fputs(kUsage, stderr);
            return 2;
        }
        return Run(options);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "palavox: %s\n%s", e.what(), kUsage);
        return 2;
    } catch (const CommandError& e) {
        std::fprintf(stderr, "palavox: %s\n", e.what());
        return 1;
    } catch (...) {
        const palavox::Failure failure = palavox::CurrentFailure();
        std::fprintf(stderr, "palavox: error %d: %s\n", failure.number, failure.description);
        return 1;
    }
}
