// The long check of the soft-float routines, run on demand (make check-long) and not part
// of the test suite: every int-to-float conversion, every float-to-int conversion and
// every square root (all 2^32 bit patterns each), and a billion operands from a fixed seed
// for each binary operation and the comparisons, against the host's IEEE hardware.
//
//   runtime_check_long [--operands N] [--threads T] [--only NAME]
//
// NAME picks the checks whose name starts with it: int, unsigned, float, sqrtf, add, sub, mul,
// div, compare.
//
// The work is cut into chunks that the threads take in turn; a chunk's operands depend
// only on its number, so the figures are the same whatever the thread count.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/runtime/softfloat_check.h"

using namespace softfloat_check;

namespace {

constexpr uint64_t kChunk = uint64_t(1) << 22;

struct Findings {
    uint64_t count = 0;
    std::vector<std::string> examples;
    void add(const std::string& what) {
        if (++count <= 5) examples.push_back(what);
    }
};

// Checks items [begin, end) of a job; chunk is the chunk's number, for seeding.
using Checker = std::function<void(uint64_t chunk, uint64_t begin, uint64_t end, Findings& findings)>;

struct Job {
    std::string name;
    uint64_t items;
    Checker check;
};

std::string binaryCase(const char* name, uint32_t a, uint32_t b, uint32_t got, uint32_t want) {
    return std::string(name) + "(" + hex(a) + ", " + hex(b) + ") = " + hex(got) + ", hardware " + hex(want);
}

std::vector<Job> jobs(uint64_t operands) {
    const uint64_t every = uint64_t(1) << 32;
    std::vector<Job> list;
    list.push_back({"int to float (every int32)", every, [](uint64_t, uint64_t begin, uint64_t end, Findings& f) {
                        for (uint64_t i = begin; i < end; ++i) {
                            const int32_t v = int32_t(uint32_t(i));
                            if (bitsOf(rt___floatsisf(v)) != bitsOf(float(v)))
                                f.add("floatsisf(" + std::to_string(v) + ")");
                        }
                    }});
    list.push_back({"unsigned to float (every uint32)", every,
                    [](uint64_t, uint64_t begin, uint64_t end, Findings& f) {
                        for (uint64_t i = begin; i < end; ++i) {
                            const uint32_t v = uint32_t(i);
                            if (bitsOf(rt___floatunsisf(v)) != bitsOf(float(v)))
                                f.add("floatunsisf(" + std::to_string(v) + ")");
                        }
                    }});
    list.push_back({"float to int and unsigned (every float)", every,
                    [](uint64_t, uint64_t begin, uint64_t end, Findings& f) {
                        for (uint64_t i = begin; i < end; ++i) {
                            const float x = floatOf(uint32_t(i));
                            if (rt___fixsfsi(x) != expectedFixSigned(x) || rt___fixunssfsi(x) != expectedFixUnsigned(x))
                                f.add("fixsfsi/fixunssfsi(" + hex(uint32_t(i)) + ")");
                        }
                    }});
    list.push_back({"sqrtf (every float)", every, [](uint64_t, uint64_t begin, uint64_t end, Findings& f) {
                        for (uint64_t i = begin; i < end; ++i) {
                            const uint32_t a = uint32_t(i);
                            const uint32_t got = bitsOf(rt_sqrtf(floatOf(a))), want = bitsOf(hwSqrt(floatOf(a)));
                            if (!same(got, want)) f.add("sqrtf(" + hex(a) + ") = " + hex(got) + ", hardware " + hex(want));
                        }
                    }});
    for (const BinaryOperation& op : kBinaryOperations) {
        list.push_back({op.name, operands, [&op](uint64_t chunk, uint64_t begin, uint64_t end, Findings& f) {
                            OperandSource source(0x10C0000000ull + chunk * 0x1000193 + uint64_t(op.name[0]) * 31 +
                                                 uint64_t(op.name[1]));
                            for (uint64_t i = begin; i < end; ++i) {
                                uint32_t a, b;
                                source.pair(a, b);
                                const uint32_t got = bitsOf(op.soft(floatOf(a), floatOf(b)));
                                const uint32_t want = bitsOf(op.hardware(floatOf(a), floatOf(b)));
                                if (!same(got, want)) f.add(binaryCase(op.name, a, b, got, want));
                            }
                        }});
    }
    list.push_back({"compare", operands, [](uint64_t chunk, uint64_t begin, uint64_t end, Findings& f) {
                        OperandSource source(0x10CC000000ull + chunk * 0x1000193);
                        for (uint64_t i = begin; i < end; ++i) {
                            uint32_t a, b;
                            source.pair(a, b);
                            if (!comparisonsAgree(floatOf(a), floatOf(b))) f.add("compare(" + hex(a) + ", " + hex(b) + ")");
                        }
                    }});
    return list;
}

bool run(const Job& job, unsigned threads) {
    const uint64_t chunks = (job.items + kChunk - 1) / kChunk;
    std::atomic<uint64_t> nextChunk{0}, done{0};
    std::mutex lock;
    Findings all;
    const auto start = std::chrono::steady_clock::now();
    auto worker = [&] {
        Findings mine;
        for (uint64_t chunk; (chunk = nextChunk.fetch_add(1)) < chunks;) {
            const uint64_t begin = chunk * kChunk, end = std::min(job.items, begin + kChunk);
            job.check(chunk, begin, end, mine);
            done += end - begin;
        }
        std::lock_guard<std::mutex> guard(lock);
        all.count += mine.count;
        for (const std::string& e : mine.examples)
            if (all.examples.size() < 5) all.examples.push_back(e);
    };
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < threads; ++t) pool.emplace_back(worker);
    auto seconds = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
    double lastReport = 0;
    while (done.load() < job.items) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        if (seconds() - lastReport >= 10) {
            lastReport = seconds();
            std::printf("  %-40s %5.1f%%  %.0f s\n", job.name.c_str(), 100.0 * double(done.load()) / double(job.items),
                        lastReport);
            std::fflush(stdout);
        }
    }
    for (std::thread& t : pool) t.join();
    const double elapsed = seconds();
    std::printf("%-42s %12llu checked  %llu wrong  %7.1f s  %6.1f M/s\n", job.name.c_str(),
                static_cast<unsigned long long>(job.items), static_cast<unsigned long long>(all.count), elapsed,
                double(job.items) / elapsed / 1e6);
    for (const std::string& e : all.examples) std::printf("    %s\n", e.c_str());
    std::fflush(stdout);
    return all.count == 0;
}

}  // namespace

int main(int argc, char** argv) {
    uint64_t operands = 1'000'000'000;
    unsigned threads = 2;
    std::string only;
    for (int i = 1; i < argc; i += 2) {
        if (i + 1 == argc) {
            std::fprintf(stderr, "usage: %s [--operands N] [--threads T] [--only NAME]\n", argv[0]);
            return 2;
        }
        if (!std::strcmp(argv[i], "--operands")) operands = std::strtoull(argv[i + 1], nullptr, 0);
        else if (!std::strcmp(argv[i], "--threads")) threads = unsigned(std::atoi(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--only")) only = argv[i + 1];
        else {
            std::fprintf(stderr, "usage: %s [--operands N] [--threads T] [--only NAME]\n", argv[0]);
            return 2;
        }
    }
    if (threads == 0) threads = 1;
    std::printf("soft-float long check: %llu operands per binary operation, %u threads\n",
                static_cast<unsigned long long>(operands), threads);
    const auto start = std::chrono::steady_clock::now();
    bool ok = true;
    for (const Job& job : jobs(operands)) {
        if (!only.empty() && job.name.rfind(only, 0) != 0) continue;
        ok = run(job, threads) && ok;
    }
    const double total = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%s after %.0f s\n", ok ? "all agree" : "DISAGREEMENTS FOUND", total);
    return ok ? 0 : 1;
}
