// Runs a fuzz target without libFuzzer, so that every build of the suite
// can: each seed first, then inputs mutated from the seeds and from one
// another, for the time given. The same -seed runs the same inputs, and an
// input that fails is written out to be run again.
//   tallix-fuzz-NAME [-seconds=S] [-seed=N] [FILE|FOLDER...]
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);
// The sanitizers call this before they end the process, where they are linked.
extern "C" void __sanitizer_set_death_callback(void (*callback)()) __attribute__((weak));

namespace {

std::string current;

void keepCurrent()
{
    std::ofstream("fuzz-failure", std::ios::binary) << current;
    std::fprintf(stderr, "fuzz: the failing input is in ./fuzz-failure (%zu bytes)\n", current.size());
}

// An abort or a fault without the sanitizers: the same, with what a signal
// handler may call.
extern "C" void onSignal(int signal)
{
    const int fd = ::open("fuzz-failure", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) {
        [[maybe_unused]] const ssize_t written = ::write(fd, current.data(), current.size());
        ::close(fd);
    }
    constexpr char said[] = "fuzz: the failing input is in ./fuzz-failure\n";
    [[maybe_unused]] const ssize_t told = ::write(STDERR_FILENO, said, sizeof said - 1);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void run(const std::string &input)
{
    current = input;
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(current.data()), current.size());
}

constexpr std::size_t MaxPool = 4096;

// Bytes that the parsers under test give meaning to.
constexpr std::string_view Tokens[] = {"\t", "\n", "\r\n", " ", "#",    "=",
                                       ":",  "-",  "0",    "9", "\xff", std::string_view("\0", 1)};

std::string mutated(std::string input, const std::vector<std::string> &pool, std::mt19937_64 &random)
{
    const auto below = [&random](std::size_t n) { return n ? std::size_t(random() % n) : 0; };
    for (int changes = 1 + int(below(4)); changes > 0; --changes) {
        const std::size_t at = below(input.size() + 1);
        switch (below(6)) {
        case 0: // one byte changed
            if (!input.empty())
                input[below(input.size())] = char(random());
            break;
        case 1: // a token put in
            input.insert(at, Tokens[below(std::size(Tokens))]);
            break;
        case 2: // a piece taken out
            input.erase(at, below(input.size() - at + 1));
            break;
        case 3: // a piece repeated
            input.insert(at, input.substr(at, below(16)));
            break;
        case 4: { // a piece of another input
            const std::string &other = pool[below(pool.size())];
            const std::size_t from = below(other.size() + 1);
            input.insert(at, other.substr(from, below(other.size() - from + 1)));
            break;
        }
        default: // a random byte put in
            input.insert(at, 1, char(random()));
            break;
        }
    }
    if (input.size() > 4096)
        input.resize(4096);
    return input;
}

} // namespace

int main(int argc, char **argv)
{
    double seconds = 0;
    std::uint64_t seed = 1;
    std::vector<std::string> pool;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument.starts_with("-seconds=")) {
            seconds = std::atof(argv[i] + 9);
        } else if (argument.starts_with("-seed=")) {
            seed = std::strtoull(argv[i] + 6, nullptr, 10);
        } else {
            const std::filesystem::path path(argument);
            std::vector<std::filesystem::path> files{path};
            if (std::filesystem::is_directory(path))
                files.assign(std::filesystem::directory_iterator(path), {});
            for (const auto &file : files) {
                std::ifstream in(file, std::ios::binary);
                pool.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            }
        }
    }
    // A failed property aborts; the sanitizers tell faults themselves.
    std::signal(SIGABRT, onSignal);
    if (__sanitizer_set_death_callback)
        __sanitizer_set_death_callback(keepCurrent);
    else
        for (const int signal : {SIGSEGV, SIGBUS, SIGFPE})
            std::signal(signal, onSignal);
    if (pool.empty())
        pool.emplace_back();
    for (const std::string &input : pool)
        run(input);

    std::mt19937_64 random(seed);
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::duration<double>(seconds);
    std::uint64_t runs = 0;
    while (std::chrono::steady_clock::now() < end) {
        for (int i = 0; i < 256; ++i, ++runs) {
            std::string input = mutated(pool[std::size_t(random() % pool.size())], pool, random);
            run(input);
            // Some inputs join the pool, up to a bound, so that mutations
            // build on mutations.
            if (random() % 64 != 0)
                continue;
            if (pool.size() < MaxPool)
                pool.push_back(std::move(input));
            else
                pool[std::size_t(random() % pool.size())] = std::move(input);
        }
    }
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("fuzz: %llu inputs from seed %llu in %.1f s, %.0f a second\n", (unsigned long long)runs,
                (unsigned long long)seed, took, took > 0 ? double(runs) / took : 0.0);
}
