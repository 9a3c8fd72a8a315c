#include "fuzz/entries.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <system_error>
#include <vector>

#include "sim/core/image_loader.h"
#include "sim/core/memory_map.h"
#include "tools/image_board.h"

namespace fuzzing {

namespace {

const sim::MemoryLayout kLayout = sim::MemoryLayout::forChip(sim::Chip::MX440F256H);

// The input as a file that only lives in memory, so readImage sees exactly what it would
// read from disk (its own choice of format and its messages included).
class MemoryFile {
public:
    explicit MemoryFile(std::span<const uint8_t> bytes) : fd_(memfd_create("fuzz-input", MFD_CLOEXEC)) {
        if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "memfd_create");
        for (size_t done = 0; done < bytes.size();) {
            ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
            if (n < 0) {
                int e = errno;
                close(fd_);
                throw std::system_error(e, std::generic_category(), "writing the input");
            }
            done += size_t(n);
        }
    }
    ~MemoryFile() { close(fd_); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;
    std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }

private:
    int fd_;
};

sim::Image readInput(std::span<const uint8_t> input) { return sim::readImage(MemoryFile(input).path(), kLayout); }

std::string hex(uint64_t v) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(v));
    return buf;
}

bool overlap(const sim::ImageSegment& a, const sim::ImageSegment& b) {
    return uint64_t(a.address) < uint64_t(b.address) + b.bytes.size() &&
           uint64_t(b.address) < uint64_t(a.address) + a.bytes.size();
}

// What an accepted image must be: inside the memories, written there as it is (a later
// segment over an earlier one wins), each symbol describing its own address.
std::string checkAccepted(const sim::Image& img) {
    sim::MemoryMap mem(kLayout);
    try {
        sim::loadImage(mem, img);
    } catch (const sim::ImageError& e) {
        return std::string("an accepted image does not load: ") + e.what();
    }
    for (size_t i = 0; i < img.segments.size(); ++i) {
        const sim::ImageSegment& s = img.segments[i];
        if (s.bytes.empty()) return "segment " + std::to_string(i) + " at " + hex(s.address) + " is empty";
        bool overwritten = false;
        for (size_t j = i + 1; j < img.segments.size() && !overwritten; ++j) overwritten = overlap(s, img.segments[j]);
        if (overwritten) continue;
        std::vector<uint8_t> back(s.bytes.size());
        if (!mem.read(s.address, back.data(), back.size()) || back != s.bytes)
            return "segment " + std::to_string(i) + " at " + hex(s.address) + " (" + std::to_string(s.bytes.size()) +
                   " bytes) does not read back from the memories";
    }
    for (const sim::ImageSymbol& sym : img.symbols)
        if (img.describe(sym.address).empty()) return "symbol " + sym.name + " at " + hex(sym.address) + " does not describe its address";
    if (img.entry) (void)img.describe(*img.entry);
    (void)img.configWords();
    return "";
}

// Raw flash contents: boot flash first, program flash after it.
sim::Image rawImage(std::span<const uint8_t> input) {
    sim::Image img;
    img.format = "raw flash contents";
    size_t boot = std::min<size_t>(input.size(), sim::phys::kBootBytes);
    if (boot) img.segments.push_back({sim::phys::kBoot, {input.begin(), input.begin() + boot}});
    auto rest = input.subspan(boot);
    size_t flash = std::min<size_t>(rest.size(), kLayout.flashBytes);
    if (flash) img.segments.push_back({sim::phys::kFlash, {rest.begin(), rest.begin() + flash}});
    return img;
}

struct Outcome {
    std::string loadError;
    sim::StopReason stop;
    std::vector<sim::PinChange> pins;
    std::vector<sim::ConsoleByte> console;
    std::vector<sim::ResetRecord> resets;  // the first ones
    uint64_t resetCount;
    uint32_t regs[32], hi, lo, pc;
    sim::Cycles cycles;
    uint64_t interrupts, exceptions;
};

Outcome runOnce(const sim::Image& img, bool fastForward, sim::Cycles cycles) {
    Outcome o{};
    tools::ImageBoardOptions options;
    options.card = sim::SdCard::Options{};
    options.fastForward = fastForward;
    std::optional<tools::ImageBoard> b;
    try {
        b.emplace(img, options);
    } catch (const sim::ImageError& e) {
        o.loadError = e.what();
        return o;
    }
    b->board.nets.recordAll();
    b->terminal.sendAt(cycles / 4, "t\r");
    o.stop = b->core.run(cycles);
    o.pins = b->board.nets.changes();
    o.console = b->terminal.received();
    o.resets = b->board.resets().first();
    o.resetCount = b->board.resets().count();
    for (unsigned i = 0; i < 32; ++i) o.regs[i] = b->core.reg(i);
    o.hi = b->core.hi();
    o.lo = b->core.lo();
    o.pc = b->core.pc();
    o.cycles = b->core.cycles();
    o.interrupts = b->core.stats().interrupts;
    o.exceptions = b->core.stats().exceptions;
    return o;
}

// The first thing the run with fast-forward (`fast`) left otherwise than the run without.
std::string difference(const Outcome& slow, const Outcome& fast) {
    auto at = [](sim::Cycles t) { return " at cycle " + std::to_string(t); };
    for (size_t i = 0; i < std::min(slow.pins.size(), fast.pins.size()); ++i) {
        const sim::PinChange &s = slow.pins[i], &f = fast.pins[i];
        if (s.time != f.time || s.net != f.net || s.level != f.level)
            return "pin change " + std::to_string(i) + ": " + s.net + "=" + std::to_string(s.level) + at(s.time) +
                   " without fast-forward, " + f.net + "=" + std::to_string(f.level) + at(f.time) + " with it";
    }
    if (slow.pins.size() != fast.pins.size())
        return std::to_string(slow.pins.size()) + " pin changes without fast-forward, " + std::to_string(fast.pins.size()) + " with it";
    for (size_t i = 0; i < std::min(slow.console.size(), fast.console.size()); ++i)
        if (slow.console[i].value != fast.console[i].value || slow.console[i].start != fast.console[i].start)
            return "console byte " + std::to_string(i) + " differs";
    if (slow.console.size() != fast.console.size()) return "console lengths differ";
    if (slow.resetCount != fast.resetCount || slow.resets.size() != fast.resets.size()) return "reset counts differ";
    for (size_t i = 0; i < slow.resets.size(); ++i)
        if (slow.resets[i].time != fast.resets[i].time || slow.resets[i].cause != fast.resets[i].cause)
            return "reset " + std::to_string(i) + ": " + slow.resets[i].cause + at(slow.resets[i].time) + " without fast-forward, " +
                   fast.resets[i].cause + at(fast.resets[i].time) + " with it";
    if (slow.stop != fast.stop) return "the runs ended for different reasons";
    if (slow.cycles != fast.cycles)
        return "the run ended at cycle " + std::to_string(slow.cycles) + " without fast-forward, " + std::to_string(fast.cycles) + " with it";
    if (slow.pc != fast.pc) return "pc " + hex(slow.pc) + " without fast-forward, " + hex(fast.pc) + " with it";
    for (unsigned i = 0; i < 32; ++i)
        if (slow.regs[i] != fast.regs[i])
            return "register " + std::to_string(i) + ": " + hex(slow.regs[i]) + " without fast-forward, " + hex(fast.regs[i]) + " with it";
    if (slow.hi != fast.hi || slow.lo != fast.lo) return "HI/LO differ";
    if (slow.interrupts != fast.interrupts) return "interrupt counts differ";
    if (slow.exceptions != fast.exceptions) return "exception counts differ";
    return "";
}

}  // namespace

std::string loadImageInput(std::span<const uint8_t> input) {
    sim::Image img;
    try {
        img = readInput(input);
    } catch (const sim::ImageError&) {
        return "";
    } catch (const std::exception& e) {
        return std::string("readImage let through an exception other than ImageError: ") + e.what();
    }
    return checkAccepted(img);
}

std::string runImageInput(std::span<const uint8_t> input, sim::Cycles cycles) {
    // An accepted file runs as the image it is; anything else as flash contents.
    sim::Image img;
    try {
        img = readInput(input);
    } catch (const sim::ImageError&) {
        img = rawImage(input);
    }
    Outcome fast = runOnce(img, true, cycles);
    Outcome slow = runOnce(img, false, cycles);
    if (!fast.loadError.empty()) return "the image does not load: " + fast.loadError;
    std::string diff = difference(slow, fast);
    return diff.empty() ? "" : "fast-forward changes the run: " + diff;
}

}  // namespace fuzzing
