// Speed of the M4K core simulator against other engines, on one guest image
// (build/target/test-images/engine_bench.elf) that runs unchanged on each: our core on a
// board, Unicorn plain, with a block hook and with a per-instruction hook (what a
// cycle-timed board built on Unicorn would need), and QEMU's Malta board with and without
// -icount shift=0 when qemu-system-mipsel is on PATH.
//
// Workloads (bench/engine_image): cb, the integer loop core_bench ran, one store a pass;
// cbnost, the same without the store; int, registers only; irms, calcIrms from irmsmeter.o
// on the run-time's soft-float over a fixed sample buffer; fmt, the clock demo's time
// formatter. Guest instructions are counted from each workload's instructions per pass,
// measured once on our core (and checked against the loops' known counts), not by hooks.
// Times are CPU time, the median of `--runs` runs back to back; QEMU's are its child
// process's, less those of a run of zero passes (start-up, translation of the set-up).
//
//   engine_bench [--millions M] [--runs N] [--workloads LIST] [--engines LIST] [--image FILE]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "bench/engine_image/engine_image.h"
#include "sim/boards/board.h"
#include "sim/core/image_loader.h"
#include "sim/core/mips_core.h"
#include "tools/cli.h"

#ifdef HAVE_UNICORN
#include <unicorn/unicorn.h>
#endif

namespace {

using engine_image::Workload;

struct WorkloadInfo {
    const char* name;
    Workload id;
    uint32_t knownPerPass;  // 0: only our core's count says
    const char* about;
};
constexpr WorkloadInfo kWorkloadInfo[] = {
    {"cb", engine_image::kCb, engine_image::kCbInstructions, "LCG, shifts, a load and a store into a 1 KiB table"},
    {"cbnost", engine_image::kCbNoStore, engine_image::kCbNoStoreInstructions, "cb without its store"},
    {"int", engine_image::kInt, engine_image::kIntInstructions, "ALU operations and a branch, no memory"},
    {"irms", engine_image::kIrms, 0, "calcIrms (irmsmeter.o, soft-float) over 64 fixed samples"},
    {"fmt", engine_image::kFmt, 0, "the clock demo's time formatter (its sprintf of a console line)"},
};

enum class Engine { Core, Unicorn, UnicornBlock, UnicornCode, Qemu, QemuIcount };
struct EngineInfo {
    const char* name;  // on the command line and in the table
    Engine id;
    const char* about;
};
constexpr EngineInfo kEngineInfo[] = {
    {"ours", Engine::Core, "sim::MipsCore on a sim::Board, pic32sim's options and a probe to stop at the end"},
    {"unicorn", Engine::Unicorn, "Unicorn, its JIT without hooks"},
    {"uc-block", Engine::UnicornBlock, "Unicorn with a UC_HOOK_BLOCK callback"},
    {"uc-code", Engine::UnicornCode, "Unicorn with a UC_HOOK_CODE callback (every instruction)"},
    {"qemu", Engine::Qemu, "qemu-system-mipsel -M malta -cpu 4KEm"},
    {"qemu-ic", Engine::QemuIcount, "the same with -icount shift=0"},
};
bool isQemu(Engine e) { return e == Engine::Qemu || e == Engine::QemuIcount; }
bool isUnicorn(Engine e) { return e == Engine::Unicorn || e == Engine::UnicornBlock || e == Engine::UnicornCode; }

// QEMU's runs are this many times longer: its start-up (some 30 ms of CPU, a few ms of
// jitter) is subtracted, and the jitter must stay small beside what is measured.
constexpr uint32_t kQemuFactor = 10;

constexpr uint32_t kResetVector = 0xBFC00000, kBootKseg0 = 0x9FC00000, kRamKseg1 = 0xA0000000;

double cpuSeconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + t.tv_nsec * 1e-9;
}

// The guest: boot flash as the image programs it, and where its parameter block and end are.
struct Guest {
    std::vector<uint8_t> boot;
    uint32_t paramsOffset = 0;  // within boot flash
    uint32_t exitAddress = 0;   // bench_exit

    std::vector<uint8_t> with(Workload w, uint32_t passes) const {
        std::vector<uint8_t> b = boot;
        const engine_image::Params p{engine_image::kMagic, w, passes};
        std::memcpy(b.data() + paramsOffset, &p, sizeof p);
        return b;
    }
};

Guest loadGuest(const std::string& path) {
    sim::Image image = sim::readImage(path, sim::MemoryLayout::forChip(sim::Chip::MX440F256H));
    Guest g;
    g.boot.assign(sim::phys::kBootBytes, 0xFF);
    for (const sim::ImageSegment& s : image.segments) {
        if (s.bytes.empty()) continue;
        if (s.address < sim::phys::kBoot || s.address + s.bytes.size() > sim::phys::kBoot + sim::phys::kBootBytes)
            throw sim::ImageError(path + ": a segment lies outside boot flash, where the other engines cannot find it");
        std::copy(s.bytes.begin(), s.bytes.end(), g.boot.begin() + (s.address - sim::phys::kBoot));
    }
    auto params = image.addressOf("bench_params"), exit = image.addressOf("bench_exit");
    if (!params || !exit) throw sim::ImageError(path + ": no bench_params or bench_exit symbol");
    g.paramsOffset = (*params & 0x1FFFFFFFu) - sim::phys::kBoot;
    g.exitAddress = *exit;
    if (g.paramsOffset > g.boot.size() - sizeof(engine_image::Params))
        throw sim::ImageError(path + ": bench_params is not in boot flash");
    engine_image::Params p;
    std::memcpy(&p, g.boot.data() + g.paramsOffset, sizeof p);
    if (p.magic != engine_image::kMagic) throw sim::ImageError(path + ": bench_params does not carry the magic word");
    return g;
}

struct Outcome {
    bool ok = false;
    double seconds = 0;
    uint64_t instructions = 0;  // our core's count; 0 elsewhere
    uint32_t checksum = 0;
    std::string error;
};

Outcome runCore(const Guest& guest, const std::vector<uint8_t>& boot) {
    sim::Board board;
    sim::CoreOptions o;
    o.debugProbe = true;  // the sdbbp at bench_exit ends the run
    sim::MipsCore core(board, o);
    core.memory().write(sim::phys::kBoot, boot.data(), boot.size());
    // Cacheable KSEG0, 2 flash wait states with prefetch, no RAM wait state: what the
    // firmware's start-up programs. The image itself stays clear of the chip's registers.
    board.cp0.write(16, 0, 3);
    board.bus.write(CHECON.address, (CHECON_PFMWS(2) | CHECON_PREFEN(3)).value);
    board.bus.write(BMXCONCLR.address, BMXCON_BMXWSDRM.mask);
    core.setPc(kResetVector);
    Outcome r;
    double t0 = cpuSeconds();
    sim::StopReason stop = core.run(UINT64_MAX);
    r.seconds = cpuSeconds() - t0;
    r.instructions = core.stats().instructions;
    r.checksum = core.reg(2);
    r.ok = stop == sim::StopReason::Breakpoint && core.pc() == guest.exitAddress;
    if (!r.ok) r.error = "stopped at " + std::to_string(core.pc()) + ", not at bench_exit";
    return r;
}

#ifdef HAVE_UNICORN
Outcome runUnicorn(const Guest& guest, const std::vector<uint8_t>& boot, Engine engine) {
    Outcome r;
    uc_engine* uc = nullptr;
    if (uc_open(UC_ARCH_MIPS, uc_mode(UC_MODE_MIPS32 | UC_MODE_LITTLE_ENDIAN), &uc) != UC_ERR_OK) {
        r.error = "uc_open failed";
        return r;
    }
    uc_ctl_set_cpu_model(uc, UC_CPU_MIPS32_4KEM);
    // Unicorn maps virtual addresses as they are: boot flash at both of its windows.
    for (uint32_t at : {kResetVector, kBootKseg0}) {
        uc_mem_map(uc, at, sim::phys::kBootBytes, UC_PROT_ALL);
        uc_mem_write(uc, at, boot.data(), boot.size());
    }
    uc_mem_map(uc, kRamKseg1, 32 * 1024, UC_PROT_ALL);
    uint64_t count = 0;
    uc_hook hook;
    auto tick = +[](uc_engine*, uint64_t, uint32_t, void* user) { ++*static_cast<uint64_t*>(user); };
    if (engine == Engine::UnicornBlock) uc_hook_add(uc, &hook, UC_HOOK_BLOCK, reinterpret_cast<void*>(tick), &count, 1, 0);
    if (engine == Engine::UnicornCode) uc_hook_add(uc, &hook, UC_HOOK_CODE, reinterpret_cast<void*>(tick), &count, 1, 0);
    double t0 = cpuSeconds();
    uc_err err = uc_emu_start(uc, kResetVector, guest.exitAddress, 0, 0);
    r.seconds = cpuSeconds() - t0;
    uint32_t pc = 0;
    uc_reg_read(uc, UC_MIPS_REG_PC, &pc);
    uc_reg_read(uc, UC_MIPS_REG_2, &r.checksum);
    uc_close(uc);
    r.ok = err == UC_ERR_OK && pc == guest.exitAddress;
    if (!r.ok) r.error = std::string("unicorn: ") + uc_strerror(err);
    return r;
}
#endif

// QEMU: the boot flash as Malta's -bios (its loader swaps the words of a little-endian
// image, so they are stored swapped), the checksum back on the third serial port (the
// FPGA's UART), the end through the board's software reset with -no-reboot.
class Qemu {
public:
    Qemu() {
        const char* path = std::getenv("PATH");
        std::stringstream dirs(path ? path : "");
        for (std::string dir; std::getline(dirs, dir, ':');) {
            std::string candidate = dir + "/qemu-system-mipsel";
            if (!dir.empty() && access(candidate.c_str(), X_OK) == 0) {
                program_ = candidate;
                break;
            }
        }
        if (program_.empty()) return;
        if (FILE* p = popen((program_ + " --version 2>/dev/null").c_str(), "r")) {
            char line[256] = "";
            if (std::fgets(line, sizeof line, p)) version_ = line;
            pclose(p);
            if (!version_.empty() && version_.back() == '\n') version_.pop_back();
        }
        char tmpl[] = "/tmp/engine_bench_XXXXXX";
        if (mkdtemp(tmpl)) dir_ = tmpl;
    }
    ~Qemu() {
        if (!dir_.empty()) std::filesystem::remove_all(dir_);
    }
    bool found() const { return !program_.empty() && !dir_.empty(); }
    const std::string& version() const { return version_; }

    Outcome run(const std::vector<uint8_t>& boot, bool icount) {
        Outcome r;
        const std::string bios = dir_ + "/bios.bin", serial = dir_ + "/serial.txt", log = dir_ + "/qemu.log";
        {
            std::vector<uint8_t> swapped = boot;
            for (size_t i = 0; i + 4 <= swapped.size(); i += 4) {
                std::swap(swapped[i], swapped[i + 3]);
                std::swap(swapped[i + 1], swapped[i + 2]);
            }
            std::ofstream(bios, std::ios::binary).write(reinterpret_cast<const char*>(swapped.data()), swapped.size());
        }
        std::filesystem::remove(serial);
        std::vector<std::string> args = {program_, "-M", "malta", "-cpu", "4KEm", "-nodefaults", "-display", "none",
                                         "-no-reboot", "-bios", bios, "-serial", "null", "-serial", "null",
                                         "-serial", "file:" + serial};
        if (icount) args.insert(args.end(), {"-icount", "shift=0"});
        std::fflush(stdout);
        pid_t pid = fork();
        if (pid == 0) {
            std::freopen("/dev/null", "r", stdin);
            std::freopen(log.c_str(), "w", stdout);
            std::freopen(log.c_str(), "a", stderr);
            std::vector<char*> argv;
            for (std::string& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        int status = 0;
        rusage use{};
        if (pid < 0 || wait4(pid, &status, 0, &use) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            r.error = "qemu-system-mipsel failed (see its messages with the same command line)";
            return r;
        }
        r.seconds = double(use.ru_utime.tv_sec + use.ru_stime.tv_sec) + (use.ru_utime.tv_usec + use.ru_stime.tv_usec) * 1e-6;
        std::ifstream in(serial);
        std::string line;
        std::getline(in, line);
        char* end = nullptr;
        r.checksum = uint32_t(std::strtoul(line.c_str(), &end, 16));
        r.ok = line.size() == 8 && end && *end == '\0';
        if (!r.ok) r.error = "no checksum on the serial port: '" + line + "'";
        return r;
    }

private:
    std::string program_, version_, dir_;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? NAN : v[v.size() / 2];
}

std::vector<std::string> splitList(const std::string& s) {
    std::vector<std::string> out;
    std::stringstream in(s);
    for (std::string item; std::getline(in, item, ',');)
        if (!item.empty()) out.push_back(item);
    return out;
}

struct Cell {
    double rate = NAN;  // M guest instructions per second
    double spread = 0;  // (slowest - fastest) / median of the runs
};

}  // namespace

int main(int argc, char** argv) {
    double millions = 200;
    unsigned runs = 3;
    std::string imagePath = TEST_IMAGES_DIR "/engine_bench.elf";
    std::vector<const WorkloadInfo*> workloads;
    std::vector<const EngineInfo*> engines;
    for (const WorkloadInfo& w : kWorkloadInfo) workloads.push_back(&w);
    for (const EngineInfo& e : kEngineInfo) engines.push_back(&e);
    std::string workloadNames, engineNames;
    for (const WorkloadInfo& w : kWorkloadInfo) workloadNames += std::string(workloadNames.empty() ? "" : ",") + w.name;
    for (const EngineInfo& e : kEngineInfo) engineNames += std::string(engineNames.empty() ? "" : ",") + e.name;

    tools::Cli cli("engine_bench", "[options]",
                   "M guest instructions per second of CPU time of the M4K core simulator against\n"
                   "Unicorn (plain, block hook, instruction hook) and QEMU's Malta board (with and\n"
                   "without -icount shift=0), on the same guest image and workloads.\n");
    cli.option("--millions", "M", "million guest instructions a run of each workload (default 200)",
               [&](const char* v) {
                   char* end = nullptr;
                   millions = std::strtod(v, &end);
                   if (end == v || *end || !(millions >= 1) || millions > 4000)
                       cli.fail(std::string("--millions wants a number from 1 to 4000, not '") + v + "'");
               })
        .count("--runs", "N", "runs of each engine and workload; the median counts (default 3)", runs, 99, 1)
        .option("--workloads", "LIST", "some of " + workloadNames + " (default all)",
                [&](const char* v) {
                    workloads.clear();
                    for (const std::string& name : splitList(v)) {
                        auto it = std::find_if(std::begin(kWorkloadInfo), std::end(kWorkloadInfo),
                                               [&](const WorkloadInfo& w) { return name == w.name; });
                        if (it == std::end(kWorkloadInfo)) cli.fail("--workloads: no workload '" + name + "'");
                        workloads.push_back(&*it);
                    }
                    if (workloads.empty()) cli.fail("--workloads wants at least one of " + workloadNames);
                })
        .option("--engines", "LIST", "some of " + engineNames + " (default all)",
                [&](const char* v) {
                    engines.clear();
                    for (const std::string& name : splitList(v)) {
                        auto it = std::find_if(std::begin(kEngineInfo), std::end(kEngineInfo),
                                               [&](const EngineInfo& e) { return name == e.name; });
                        if (it == std::end(kEngineInfo)) cli.fail("--engines: no engine '" + name + "'");
                        engines.push_back(&*it);
                    }
                    if (engines.empty()) cli.fail("--engines wants at least one of " + engineNames);
                })
        .text("--image", "FILE", "the guest image (default: the target build's engine_bench.elf)", imagePath)
        .epilogue("Exit status 1 when an engine fails, or disagrees with our core on a workload's result or\n"
                  "instruction count; no speed is asserted.\n")
        .parse(argc, argv);
    // In the table's order, ours first, each once.
    std::sort(workloads.begin(), workloads.end());
    workloads.erase(std::unique(workloads.begin(), workloads.end()), workloads.end());
    std::sort(engines.begin(), engines.end());
    engines.erase(std::unique(engines.begin(), engines.end()), engines.end());

    Guest guest;
    try {
        guest = loadGuest(imagePath);
    } catch (const sim::ImageError& e) {
        std::printf("%s (build the target preset first)\n", e.what());
        return 1;
    }

    std::printf("engine_bench: %s, %g M guest instructions a run, median of %u run%s (CPU time)\n",
                imagePath.c_str(), millions, runs, runs == 1 ? "" : "s");
#ifdef HAVE_UNICORN
    unsigned ucMajor = 0, ucMinor = 0;
    unsigned ucPacked = uc_version(&ucMajor, &ucMinor);
    const unsigned ucPatch = (ucPacked >> 8) & 0xFF;
    std::printf("Unicorn %u.%u.%u (uc_version), CPU model 4KEm. Debian's Unicorn 2.0.1 allocates memory on every\n"
                "  guest store, on its code-invalidation path: cb (one store a pass) against cbnost shows what that\n"
                "  costs it; cbnost and int are its JIT's own speed.\n",
                ucMajor, ucMinor, ucPatch);
#else
    std::printf("Unicorn: not found at configure time, its columns are skipped\n");
    engines.erase(std::remove_if(engines.begin(), engines.end(), [](const EngineInfo* e) { return isUnicorn(e->id); }),
                  engines.end());
#endif
    std::optional<Qemu> qemu;
    const bool wantQemu = std::any_of(engines.begin(), engines.end(), [](const EngineInfo* e) { return isQemu(e->id); });
    if (wantQemu) qemu.emplace();
    if (wantQemu && !qemu->found()) {
        std::printf("QEMU: qemu-system-mipsel is not on PATH, its columns are skipped\n");
        engines.erase(std::remove_if(engines.begin(), engines.end(), [](const EngineInfo* e) { return isQemu(e->id); }),
                      engines.end());
    } else if (wantQemu) {
        std::printf("QEMU: %s, -M malta -cpu 4KEm; %u times the passes, less a run of none (start-up)\n",
                    qemu->version().c_str(), kQemuFactor);
    }
    for (const EngineInfo* e : engines) std::printf("  %-9s %s\n", e->name, e->about);
    std::printf("\n");

    const bool progress = isatty(2);
    std::vector<std::vector<Cell>> table(workloads.size(), std::vector<Cell>(engines.size()));
    std::vector<uint32_t> perPass(workloads.size()), passes(workloads.size());
    std::vector<std::string> problems;
    for (size_t wi = 0; wi < workloads.size(); ++wi) {
        const WorkloadInfo& w = *workloads[wi];
        // Instructions per pass and of the set-up, from our core; the loops' counts are known.
        Outcome one = runCore(guest, guest.with(w.id, 1)), two = runCore(guest, guest.with(w.id, 2));
        if (!one.ok || !two.ok) {
            std::printf("%s: our core did not reach bench_exit: %s\n", w.name, (one.ok ? two : one).error.c_str());
            return 1;
        }
        const uint64_t per = two.instructions - one.instructions, setup = one.instructions - per;
        if (w.knownPerPass && per != w.knownPerPass)
            problems.push_back(std::string(w.name) + ": our core ran " + std::to_string(per) + " instructions a pass, the loop has " +
                            std::to_string(w.knownPerPass));
        perPass[wi] = uint32_t(per);
        passes[wi] = uint32_t(std::max<double>(1, std::round(millions * 1e6 / double(per))));
        const std::vector<uint8_t> boot = guest.with(w.id, passes[wi]), idle = guest.with(w.id, 0),
                                   longBoot = guest.with(w.id, passes[wi] * kQemuFactor);
        const uint64_t expected = setup + per * passes[wi];

        auto run = [&](Engine e, const std::vector<uint8_t>& image) {
            if (e == Engine::Core) return runCore(guest, image);
#ifdef HAVE_UNICORN
            if (isUnicorn(e)) return runUnicorn(guest, image, e);
#endif
            return qemu->run(image, e == Engine::QemuIcount);
        };
        std::optional<uint32_t> reference;
        const char* referenceFrom = "";
        for (size_t ei = 0; ei < engines.size(); ++ei) {
            const Engine e = engines[ei]->id;
            const std::string where = std::string(w.name) + " on " + engines[ei]->name + ": ";
            if (progress) std::fprintf(stderr, "%s on %s...\r", w.name, engines[ei]->name);
            // Every run's result is checked: the first engine's stands for all.
            std::vector<double> seconds;
            std::string error;
            auto checked = [&](const std::vector<uint8_t>& image, bool compare) {
                Outcome o = run(e, image);
                if (!o.ok && error.empty()) error = o.error;
                if (!o.ok || !compare) return o;
                if (!reference) {
                    reference = o.checksum;
                    referenceFrom = engines[ei]->name;
                } else if (o.checksum != *reference && error.empty()) {
                    char text[96];
                    std::snprintf(text, sizeof text, "result %08X, %s gave %08X", o.checksum, referenceFrom, *reference);
                    error = text;
                }
                if (e == Engine::Core && o.instructions != expected && error.empty())
                    error = std::to_string(o.instructions) + " instructions run, " + std::to_string(expected) + " expected";
                return o;
            };
            if (isQemu(e)) {
                // Checked at the common pass count; timed over kQemuFactor times as many passes,
                // less a run of none, so that its start-up and the jitter of that stay small.
                checked(boot, true);
                std::vector<double> idles;
                for (unsigned i = 0; i < runs && error.empty(); ++i) idles.push_back(checked(idle, false).seconds);
                for (unsigned i = 0; i < runs && error.empty(); ++i) seconds.push_back(checked(longBoot, false).seconds);
                const double idleSeconds = median(idles);
                for (double& t : seconds) t -= idleSeconds;
            } else {
                for (unsigned i = 0; i < runs && error.empty(); ++i) seconds.push_back(checked(boot, true).seconds);
            }
            if (!error.empty()) {
                problems.push_back(where + error);
                continue;
            }
            Cell& cell = table[wi][ei];
            const double t = median(seconds);
            const double instructions = isQemu(e) ? double(per) * passes[wi] * kQemuFactor : double(expected);
            auto [fastest, slowest] = std::minmax_element(seconds.begin(), seconds.end());
            if (t > 0) {
                cell.rate = instructions / t / 1e6;
                cell.spread = (*slowest - *fastest) / t;
            }
        }
        if (progress) std::fprintf(stderr, "%40s\r", "");
    }

    // The table: rates, then ours over each other engine.
    const bool haveOurs = !engines.empty() && engines[0]->id == Engine::Core;
    const bool ratios = haveOurs && engines.size() > 1;
    const int left = 30 + 10 * int(engines.size()) + 1;
    std::printf("%-*s%s\n", left, "M guest instructions per second", ratios ? "| ours / other" : "");
    std::printf("%-8s %10s %10s", "workload", "instr/pass", "passes");
    for (const EngineInfo* e : engines) std::printf(" %9s", e->name);
    if (ratios) {
        std::printf(" |");
        for (size_t ei = 1; ei < engines.size(); ++ei) std::printf(" %8s", engines[ei]->name);
    }
    std::printf("\n");
    for (size_t wi = 0; wi < workloads.size(); ++wi) {
        std::printf("%-8s %10u %10u", workloads[wi]->name, perPass[wi], passes[wi]);
        for (const Cell& c : table[wi])
            std::isnan(c.rate) ? std::printf(" %9s", "-") : std::printf(" %9.1f", c.rate);
        if (ratios) {
            std::printf(" |");
            for (size_t ei = 1; ei < engines.size(); ++ei) {
                double r = table[wi][0].rate / table[wi][ei].rate;
                std::isnan(r) ? std::printf(" %8s", "-") : std::printf(" %8.2f", r);
            }
        }
        std::printf("\n");
    }
    for (const WorkloadInfo* w : workloads) std::printf("  %-7s %s\n", w->name, w->about);

    double worstSpread = 0;
    std::string worstAt;
    for (size_t wi = 0; wi < workloads.size(); ++wi)
        for (size_t ei = 0; ei < engines.size(); ++ei)
            if (table[wi][ei].spread > worstSpread) {
                worstSpread = table[wi][ei].spread;
                worstAt = std::string(workloads[wi]->name) + " on " + engines[ei]->name;
            }
    if (runs > 1) std::printf("widest spread of a cell's runs: %.0f %% of its median (%s)\n", worstSpread * 100, worstAt.c_str());
    for (const std::string& p : problems) std::printf("PROBLEM: %s\n", p.c_str());

    // The goals.
    if (haveOurs) {
        constexpr double kGoal = 1000;
        unsigned met = 0;
        std::string line;
        for (size_t wi = 0; wi < workloads.size(); ++wi) {
            char part[64];
            std::snprintf(part, sizeof part, " %s %.0f", workloads[wi]->name, table[wi][0].rate);
            line += part;
            met += table[wi][0].rate >= kGoal;
        }
        std::printf("\ngoal: ours >= %.0f M instructions/s on every workload: %s (%u of %zu;%s)\n", kGoal,
                    met == workloads.size() ? "met" : "MISSED", met, workloads.size(), line.c_str());
        for (size_t ei = 1; ei < engines.size(); ++ei) {
            if (!isQemu(engines[ei]->id)) continue;
            std::printf("ours / %s:", engines[ei]->id == Engine::Qemu ? "QEMU" : "QEMU -icount shift=0");
            for (size_t wi = 0; wi < workloads.size(); ++wi) {
                const double r = table[wi][0].rate / table[wi][ei].rate;
                std::isnan(r) ? std::printf(" %s -", workloads[wi]->name) : std::printf(" %s %.2f", workloads[wi]->name, r);
            }
            std::printf("\n");
        }
    }
    return problems.empty() ? 0 : 1;
}
