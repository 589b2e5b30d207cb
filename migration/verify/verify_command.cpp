// The files and streams of `palavox verify`; the reading, replaying and
// explaining are recording.*, causes.* and report.*.
#include "verify_command.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>

#include "causes.hpp"
#include "recording.hpp"
#include "report.hpp"

namespace palavox::verify {
namespace {

constexpr std::size_t kReadSize = 1024 * 1024;

class Failed : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::string SystemError(const std::string& what) { return what + ": " + std::strerror(errno); }

void Put(std::FILE* out, const std::string& text, const std::string& name) {
    if (std::fwrite(text.data(), 1, text.size(), out) != text.size()) {
        throw Failed(SystemError(name));
    }
}

// A file written under a temporary name beside `path` and renamed over it
// only when whole; removed otherwise.
class Temporary {
public:
    explicit Temporary(const std::string& path) : path_(path) {
        const std::size_t slash = path.rfind('/');
        name_ = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) +
                ".palavox-report-XXXXXX";
        const int fd = ::mkstemp(name_.data());
        if (fd < 0) throw Failed(SystemError(path));
        file_ = ::fdopen(fd, "w+b");
        // branch-untaken: fdopen of a descriptor just made fails only without memory for a FILE
        if (file_ == nullptr) {
            ::close(fd);
            ::unlink(name_.c_str());
            throw Failed(SystemError(path));
        }
    }
    Temporary(const Temporary&) = delete;
    Temporary& operator=(const Temporary&) = delete;
    ~Temporary() {
        if (file_ != nullptr) std::fclose(file_);
        if (!name_.empty()) ::unlink(name_.c_str());
    }

    std::FILE* file() const noexcept { return file_; }
    const std::string& path() const noexcept { return path_; }

    void Commit() {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        // branch-untaken: flushing, fchmod and fsync (below) of our new file fail only on a failing
        // disk
        if (std::fflush(file_) != 0 || ::fchmod(::fileno(file_), 0666 & ~mask) != 0 ||
            // branch-untaken: as above
            ::fsync(::fileno(file_)) != 0) {
            throw Failed(SystemError(path_));
        }
        const int closed = std::fclose(file_);
        file_ = nullptr;
        // branch-untaken: fclose after fsync fails only on a failing disk (rename is tested)
        if (closed != 0 || ::rename(name_.c_str(), path_.c_str()) != 0) {
            throw Failed(SystemError(path_));
        }
        name_.clear();
    }

private:
    std::string path_;
    std::string name_;
    std::FILE* file_ = nullptr;
};

// The Markdown report: differences go to a scratch file as they come, since
// the summary that heads the report is known only at the end.
class MarkdownReport {
public:
    explicit MarkdownReport(const std::string& path) : report_(path), body_(path + ".body") {}

    void Add(const Difference& d) {
        Put(body_.file(), MarkdownDifference(d, ++count_), body_.path());
    }

    void Finish(const std::vector<RecordingSummary>& recordings, const Totals& totals) {
        Put(report_.file(), MarkdownHead(recordings, totals), report_.path());
        std::rewind(body_.file());
        std::unique_ptr<char[]> buffer(new char[kReadSize]);
        std::size_t n;
        while ((n = std::fread(buffer.get(), 1, kReadSize, body_.file())) > 0) {
            Put(report_.file(), std::string(buffer.get(), n), report_.path());
        }
        // branch-untaken: reading back our own scratch file fails only on a failing disk
        if (std::ferror(body_.file())) throw Failed(SystemError(body_.path()));
        report_.Commit();
    }

private:
    Temporary report_;
    Temporary body_;
    std::uint64_t count_ = 0;
};

struct Options {
    std::vector<std::string> recordings;
    std::optional<std::string> report;
    bool json = false;
};

class UsageError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

Options Parse(const std::vector<std::string>& args) {
    Options o;
    bool optionsEnded = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsEnded || a == "-" || a.empty() || a[0] != '-') {
            o.recordings.push_back(a);
        } else if (a == "--") {
            optionsEnded = true;
        } else if (a == "--json") {
            o.json = true;
        } else if (a == "--report") {
            if (i + 1 == args.size()) throw UsageError("--report needs a value");
            o.report = args[++i];
        } else if (a.rfind("--report=", 0) == 0) {
            o.report = a.substr(9);
        } else {
            throw UsageError("unknown option '" + a + "' for verify");
        }
    }
    if (o.recordings.empty()) throw UsageError("verify needs at least one RECORDING");
    if (o.report && o.report->empty()) throw UsageError("--report needs a file name");
    return o;
}

class Run {
public:
    explicit Run(const Options& o) : options_(o) {
        if (o.report) markdown_.emplace(*o.report);
        if (o.json) Put(stdout, "{\"differences\":[", "standard output");
    }

    void Recording(const std::string& path) {
        const bool standardInput = path == "-";
        const std::string name = standardInput ? "standard input" : path;
        const int fd = standardInput ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) throw Failed(SystemError(path));
        RecordingReader reader;
        std::vector<Call> calls;
        std::unique_ptr<char[]> buffer(new char[kReadSize]);
        try {
            for (;;) {
                const ssize_t n = ::read(fd, buffer.get(), kReadSize);
                if (n < 0) {
                    // branch-untaken: the command sets no signal handler, so no read is interrupted
                    if (errno == EINTR) continue;
                    throw Failed(SystemError(name));
                }
                if (n == 0) break;
                reader.Feed({buffer.get(), static_cast<std::size_t>(n)}, calls);
                for (const Call& call : calls) Check(name, call);
                calls.clear();
            }
            reader.Finish();
        } catch (const RecordingError& e) {
            if (!standardInput) ::close(fd);
            throw Failed(name + (e.line() ? ":" + std::to_string(e.line()) : "") + ": " + e.what());
        }
        if (!standardInput) ::close(fd);
        recordings_.push_back({name, reader.header(), reader.totals()});
    }

    int Finish() {
        totals_.notRecorded = Shadowed(recordings_).lost;
        if (options_.json) {
            Put(stdout, JsonTail(recordings_, totals_), "standard output");
        } else {
            Put(stdout, TextSummary(recordings_, totals_), "standard output");
        }
        if (std::fflush(stdout) != 0) throw Failed(SystemError("standard output"));
        if (markdown_) markdown_->Finish(recordings_, totals_);
        return totals_.unexplained() == 0 && totals_.notRecorded == 0 ? 0 : 1;
    }

private:
    void Check(const std::string& file, const Call& call) {
        ++totals_.calls;
        const Outcome palavox = Replay(call);
        if (palavox == call.recorded) {
            ++totals_.identical;
            return;
        }
        const Difference d = Describe(file, call, palavox, Explain(call, palavox));
        ++totals_.byCause[static_cast<std::size_t>(d.explanation.cause)];
        if (options_.json) {
            Put(stdout, (totals_.different() > 1 ? ",\n" : "\n") + JsonDifference(d),
                "standard output");
        } else {
            Put(stdout, TextDifference(d), "standard output");
        }
        if (markdown_) markdown_->Add(d);
    }

    const Options& options_;
    std::optional<MarkdownReport> markdown_;
    std::vector<RecordingSummary> recordings_;
    Totals totals_;
};

}  // namespace

int Main(const std::vector<std::string>& args) {
    Options options;
    try {
        options = Parse(args);
        // branch-untaken: Parse throws UsageError alone (and bad_alloc, which a few arguments never
        // meet)
    } catch (const UsageError& e) {
        std::fprintf(stderr, "palavox: %s\nusage:%s", e.what(), kUsage + 6);
        return 2;
    }
    try {
        Run run(options);
        for (const std::string& path : options.recordings) run.Recording(path);
        return run.Finish();
        // branch-untaken: what the run throws is Failed or bad_alloc: no third kind passes
    } catch (const Failed& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "palavox: verify: %s\n", e.what());
        return 1;
    } catch (const std::bad_alloc&) {
        std::fflush(stdout);
        std::fprintf(stderr, "palavox: verify: out of memory\n");
        return 1;
    }
}

}  // namespace palavox::verify
