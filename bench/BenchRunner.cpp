// quillory-bench: times quillory-extract's four modes on the generated corpus and on one big file,
// next to the two baselines that bound what each mode can reasonably cost: MyHTML parsing alone for
// the modes that build a tree, and grep for the raw line search.
//
// Children are started with fork/exec and reaped with wait4 so that each one's peak RSS comes back
// with it. Their output goes to a real file, never /dev/null: GNU grep notices /dev/null and stops at
// the first match, which would make the baseline meaninglessly fast.

#include "CorpusStamp.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr unsigned kFiles = 2000;
constexpr unsigned kBigMb = 50;
constexpr std::uint64_t kSeed = 1;
constexpr double kMB = 1e6;

// Rows of the command table that the others are compared with.
constexpr int kParseOnlyRow = 4;
constexpr int kGrepRow = 5;

struct Command
{
    std::string label;
    std::vector<std::string> argv;
    int baseline = -1;     // index of the command this one is compared with
    bool grepLike = false; // exit status 1 only means "no match"; run from PATH under LC_ALL=C
    bool sameOutput = false; // must write exactly the baseline's bytes
};

struct Measurement
{
    double seconds = std::numeric_limits<double>::infinity();
    std::uintmax_t peakBytes = 0;
    std::uintmax_t outputBytes = 0;
    std::uint64_t outputDigest = 0;
    std::string failure; // empty when every run succeeded
};

struct Child
{
    int status = 0;
    double seconds = 0;
    std::uintmax_t peakBytes = 0;
};

// Runs argv to completion. Null paths leave the runner's own stdout/stderr in place.
Child run(const std::vector<std::string>& args, const char* stdoutPath, const char* stderrPath, bool grepLike)
{
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    const auto started = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid < 0) {
        std::perror("quillory-bench: fork");
        std::exit(1);
    }
    if (pid == 0) {
        auto redirect = [](const char* path, int target) {
            if (!path)
                return;
            int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd < 0 || ::dup2(fd, target) < 0)
                ::_exit(126);
            ::close(fd);
        };
        redirect(stdoutPath, STDOUT_FILENO);
        redirect(stderrPath, STDERR_FILENO);
        if (grepLike) {
            ::setenv("LC_ALL", "C", 1);
            ::execvp(argv[0], argv.data());
        } else {
            ::execv(argv[0], argv.data());
        }
        std::fprintf(stderr, "cannot run %s: %s\n", argv[0], std::strerror(errno));
        ::_exit(127);
    }

    Child child;
    struct rusage usage = {};
    while (::wait4(pid, &child.status, 0, &usage) < 0) {
        if (errno != EINTR) {
            std::perror("quillory-bench: wait4");
            std::exit(1);
        }
    }
    child.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    child.peakBytes = std::uintmax_t(usage.ru_maxrss) * 1024; // Linux reports KiB
    return child;
}

std::string describeStatus(int status)
{
    if (WIFEXITED(status))
        return "exit status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return std::string("killed by ") + strsignal(WTERMSIG(status));
    return "stopped";
}

std::string firstLine(const fs::path& path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// FNV-1a of a file's bytes: enough to tell two outputs apart.
std::uint64_t digestOf(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<char> buffer(std::size_t(1) << 20);
    std::uint64_t hash = 14695981039346656037ull;
    while (in) {
        in.read(buffer.data(), std::streamsize(buffer.size()));
        for (std::streamsize i = 0; i < in.gcount(); ++i)
            hash = (hash ^ static_cast<unsigned char>(buffer[std::size_t(i)])) * 1099511628211ull;
    }
    return hash;
}

Measurement measure(const Command& command, const std::vector<std::string>& files, int runs, const fs::path& outPath,
                    const fs::path& errPath)
{
    std::vector<std::string> args = command.argv;
    args.insert(args.end(), files.begin(), files.end());

    Measurement m;
    for (int i = 0; i < runs; ++i) {
        const Child child = run(args, outPath.c_str(), errPath.c_str(), command.grepLike);
        const bool exited = WIFEXITED(child.status);
        const int code = exited ? WEXITSTATUS(child.status) : -1;
        if (!exited || (code != 0 && !(command.grepLike && code == 1))) {
            std::string detail = firstLine(errPath);
            m.failure = describeStatus(child.status) + (detail.empty() ? "" : ": " + detail);
        }
        m.seconds = std::min(m.seconds, child.seconds);
        m.peakBytes = std::max(m.peakBytes, child.peakBytes);
        std::error_code ec;
        m.outputBytes = fs::file_size(outPath, ec);
        m.outputDigest = digestOf(outPath);
    }
    return m;
}

bool isExecutable(const fs::path& path)
{
    return ::access(path.c_str(), X_OK) == 0 && !fs::is_directory(path);
}

std::string readSmallFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Pulls every file into the page cache so the first command measured does not pay for the disk.
void warmUp(const std::vector<std::string>& files)
{
    std::vector<char> buffer(1 << 20);
    for (const std::string& f : files) {
        int fd = ::open(f.c_str(), O_RDONLY);
        if (fd < 0)
            continue;
        while (::read(fd, buffer.data(), buffer.size()) > 0) {
        }
        ::close(fd);
    }
}

std::string humanSize(std::uintmax_t bytes)
{
    char buf[32];
    if (bytes >= 1000000)
        std::snprintf(buf, sizeof buf, "%.1f MB", double(bytes) / kMB);
    else if (bytes >= 1000)
        std::snprintf(buf, sizeof buf, "%.1f KB", double(bytes) / 1e3);
    else
        std::snprintf(buf, sizeof buf, "%ju B", bytes);
    return buf;
}

// Seconds, MB/s, time over the baseline's, peak RSS in MB, and optionally RSS over the input size.
std::string figures(const Measurement& m, std::uintmax_t inputBytes, const Measurement* base, bool withSize)
{
    char buf[96];
    if (!m.failure.empty()) {
        std::snprintf(buf, sizeof buf, "%8s %7s %6s %7s%s", "failed", "", "", "", withSize ? "        " : "");
        return buf;
    }
    char ratio[16] = "-";
    if (base && base->failure.empty())
        std::snprintf(ratio, sizeof ratio, "%.2f", m.seconds / base->seconds);
    int n = std::snprintf(buf, sizeof buf, "%8.3f %7.1f %6s %7.1f", m.seconds, double(inputBytes) / kMB / m.seconds,
                          ratio, double(m.peakBytes) / kMB);
    if (withSize)
        std::snprintf(buf + n, sizeof buf - std::size_t(n), " %7.1f", double(m.peakBytes) / double(inputBytes));
    return buf;
}

[[noreturn]] void usage()
{
    std::fprintf(stderr, "usage: quillory-bench [--corpus DIR] [--extract PATH] [--runs K] [--regen]\n"
                         "  --corpus DIR    corpus folder (default $TMPDIR/quillory-bench-corpus)\n"
                         "  --extract PATH  quillory-extract to measure (default ../cli/quillory-extract)\n"
                         "  --runs K        runs per command; the fastest counts (default 3)\n"
                         "  --regen         rebuild the corpus even if it is up to date\n");
    std::exit(2);
}

} // namespace

int main(int argc, char** argv)
{
    const fs::path selfDir = fs::read_symlink("/proc/self/exe").parent_path();
    const char* tmp = std::getenv("TMPDIR");
    fs::path corpus = fs::path(tmp && *tmp ? tmp : "/tmp") / "quillory-bench-corpus";
    fs::path extract = selfDir / ".." / "cli" / "quillory-extract";
    int runs = 3;
    bool regen = false;

    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--corpus" && hasValue)
            corpus = argv[++i];
        else if (arg == "--extract" && hasValue)
            extract = argv[++i];
        else if (arg == "--runs" && hasValue)
            runs = std::atoi(argv[++i]);
        else if (arg == "--regen")
            regen = true;
        else
            usage();
    }
    if (runs < 1)
        usage();

    corpus = fs::absolute(corpus).lexically_normal();
    if (!corpus.has_filename())
        corpus = corpus.parent_path();
    extract = fs::absolute(extract).lexically_normal();
    const fs::path generator = selfDir / "quillory-corpus";
    const fs::path parseOnly = selfDir / "myhtml-parse-only";

    if (!isExecutable(extract)) {
        std::fprintf(stderr,
                     "quillory-bench: quillory-extract not found at %s\n"
                     "Build the cli first, or point --extract at it.\n",
                     extract.c_str());
        return 1;
    }
    for (const fs::path& tool : {generator, parseOnly}) {
        if (!isExecutable(tool)) {
            std::fprintf(stderr, "quillory-bench: %s is missing; build the bench folder.\n", tool.c_str());
            return 1;
        }
    }

    const std::string stamp = corpusStamp(kFiles, kBigMb, kSeed);
    if (regen || readSmallFile(corpus / kCorpusStampName) != stamp || !fs::exists(corpus / "big.html")) {
        std::printf("generating the corpus in %s\n", corpus.c_str());
        std::fflush(stdout);
        const Child gen = run({generator.string(), corpus.string(), "--files", std::to_string(kFiles), "--big-mb",
                               std::to_string(kBigMb), "--seed", std::to_string(kSeed)},
                              nullptr, nullptr, false);
        if (gen.status != 0) {
            std::fprintf(stderr, "quillory-bench: quillory-corpus failed (%s)\n", describeStatus(gen.status).c_str());
            return 1;
        }
    }

    std::vector<std::string> files;
    std::uintmax_t corpusBytes = 0;
    for (const auto& entry : fs::directory_iterator(corpus)) {
        const fs::path& p = entry.path();
        if (entry.is_regular_file() && p.extension() == ".html" && p.filename() != "big.html") {
            files.push_back(p.string());
            corpusBytes += entry.file_size();
        }
    }
    std::sort(files.begin(), files.end());
    const std::vector<std::string> big = {(corpus / "big.html").string()};
    const std::uintmax_t bigBytes = fs::file_size(big.front());

    const std::vector<Command> commands = {
        {"quillory-extract -m 1", {extract.string(), "-j", "1", "-m", "1"}, kParseOnlyRow},
        {"quillory-extract -m 2", {extract.string(), "-j", "1", "-m", "2"}, kParseOnlyRow},
        {"quillory-extract -m 3", {extract.string(), "-j", "1", "-m", "3"}, kGrepRow},
        {"quillory-extract -m 4", {extract.string(), "-j", "1", "-m", "4"}, kParseOnlyRow},
        {"myhtml-parse-only", {parseOnly.string()}},
        {"grep -F -i one", {"grep", "-F", "-i", "--", "one"}, -1, true},
        // Both cores, against one in the same rounds, with the same bytes out.
        {"  -m 1 --jobs 2", {extract.string(), "-j", "2", "-m", "1"}, 0, false, true},
        {"  -m 2 --jobs 2", {extract.string(), "-j", "2", "-m", "2"}, 1, false, true},
        {"  -m 3 --jobs 2", {extract.string(), "-j", "2", "-m", "3"}, 2, false, true},
        {"  -m 4 --jobs 2", {extract.string(), "-j", "2", "-m", "4"}, 3, false, true},
    };

    const fs::path outPath = corpus.parent_path() / "quillory-bench.out";
    const fs::path errPath = corpus.parent_path() / "quillory-bench.err";

    std::printf("measuring %s\ncorpus: %zu files, %.1f MB; big.html: %.1f MB; best of %d run%s\n", extract.c_str(),
                files.size(), double(corpusBytes) / kMB, double(bigBytes) / kMB, runs, runs == 1 ? "" : "s");
    std::fflush(stdout);
    warmUp(files);
    warmUp(big);

    // Rounds of every command in turn rather than each command's runs back to back: the machine's
    // speed drifts, and a slow spell should not fall on one command alone.
    std::vector<Measurement> onCorpus(commands.size()), onBig(commands.size());
    auto merge = [](Measurement& into, const Measurement& run) {
        into.seconds = std::min(into.seconds, run.seconds);
        into.peakBytes = std::max(into.peakBytes, run.peakBytes);
        into.outputBytes = run.outputBytes;
        into.outputDigest = run.outputDigest;
        if (!run.failure.empty())
            into.failure = run.failure;
    };
    for (int round = 0; round < runs; ++round) {
        for (std::size_t i = 0; i < commands.size(); ++i) {
            merge(onCorpus[i], measure(commands[i], files, 1, outPath, errPath));
            merge(onBig[i], measure(commands[i], big, 1, outPath, errPath));
        }
    }
    fs::remove(outPath);
    fs::remove(errPath);

    std::printf("\n%-22s | %8s %7s %6s %7s | %8s %7s %6s %7s %7s | %9s %9s\n", "", "corpus s", "MB/s", "x base",
                "RSS MB", "big s", "MB/s", "x base", "RSS MB", "x size", "out corp.", "out big");
    for (std::size_t i = 0; i < commands.size(); ++i) {
        const int base = commands[i].baseline;
        const Measurement* corpusBase = base < 0 ? nullptr : &onCorpus[std::size_t(base)];
        const Measurement* bigBase = base < 0 ? nullptr : &onBig[std::size_t(base)];
        std::printf("%-22s | %s | %s | %9s %9s\n", commands[i].label.c_str(),
                    figures(onCorpus[i], corpusBytes, corpusBase, false).c_str(),
                    figures(onBig[i], bigBytes, bigBase, true).c_str(), humanSize(onCorpus[i].outputBytes).c_str(),
                    humanSize(onBig[i].outputBytes).c_str());
    }
    std::printf("\nx base: time over the baseline's in this run (modes 1, 2, 4: myhtml-parse-only; mode 3: grep;\n"
                "--jobs 2: the same mode with --jobs 1, so 0.5 is twice as fast). grep runs with LC_ALL=C.\n"
                "RSS is the peak over all runs; x size compares it with big.html.\n");
    for (std::size_t i = 0; i < commands.size(); ++i) {
        if (commands[i].sameOutput)
            std::printf("%s: %.2fx as fast as --jobs 1 on the corpus\n", commands[i].label.c_str() + 2,
                        onCorpus[std::size_t(commands[i].baseline)].seconds / onCorpus[i].seconds);
    }

    int status = 0;
    for (std::size_t i = 0; i < commands.size(); ++i) {
        for (const auto& [where, m] : {std::pair{"corpus", &onCorpus[i]}, std::pair{"big.html", &onBig[i]}}) {
            if (!m->failure.empty()) {
                std::printf("FAILED: %s on %s: %s\n", commands[i].label.c_str(), where, m->failure.c_str());
                status = 1;
            }
        }
        if (commands[i].sameOutput) {
            const std::size_t base = std::size_t(commands[i].baseline);
            for (const auto& [where, m, b] : {std::tuple{"corpus", &onCorpus[i], &onCorpus[base]},
                                              std::tuple{"big.html", &onBig[i], &onBig[base]}}) {
                if (m->outputDigest != b->outputDigest || m->outputBytes != b->outputBytes) {
                    std::printf("FAILED: %s on %s wrote other bytes than %s\n", commands[i].label.c_str(), where,
                                commands[base].label.c_str());
                    status = 1;
                }
            }
        }
    }
    return status;
}
