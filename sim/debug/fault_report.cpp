#include "sim/debug/fault_report.h"

#include <cinttypes>

namespace sim {

namespace {

constexpr uint32_t kResetVector = 0xBFC00000u;

std::string hex(uint32_t v) {
    char b[12];
    std::snprintf(b, sizeof b, "0x%08" PRIX32, v);
    return b;
}

std::string named(const Image& image, uint32_t address) {
    std::string s = image.describe(address);
    return s.empty() ? hex(address) : s;
}

std::string micros(Cycles c, uint64_t hz) {
    char b[32];
    std::snprintf(b, sizeof b, "%.3f us", double(c) * 1e6 / double(hz));
    return b;
}

}  // namespace

std::string FaultReport::causeOf(const ExceptionEntry& e) {
    switch (e.code) {
        case exc::Int: return "interrupt with no handler: vector " + std::to_string(e.vector);
        case exc::AdEL: return e.badVAddr == e.epc ? "address error on fetch" : "address error on load";
        case exc::AdES: return "address error on store";
        case exc::IBE: return "bus error on fetch";
        case exc::DBE: return "bus error on load or store";
        case exc::Sys: return "syscall";
        case exc::Bp: return "breakpoint";
        case exc::RI: return "reserved instruction";
        case exc::CpU: return "coprocessor unusable";
        case exc::Ov: return "arithmetic overflow";
        case exc::Tr: return "trap";
        default: return "exception " + std::to_string(e.code);
    }
}

std::string FaultReport::describe(const ExceptionEntry& e, const Image& image, uint64_t hz) {
    std::string line = micros(e.time, hz) + ": " + causeOf(e) + ", EPC " + named(image, e.epc);
    if (!image.symbols.empty()) line += " (" + hex(e.epc) + ")";
    if (e.delaySlot) line += " in a delay slot";
    if (e.code == exc::AdEL || e.code == exc::AdES) line += ", BadVAddr " + hex(e.badVAddr);
    line += ", Status " + hex(e.status) + ", last:";
    for (uint32_t pc : e.pcHistory)
        if (pc) line += " " + named(image, pc);
    return line;
}

FaultReport::FaultReport(MipsCore& core, const Image& image, FILE* out, const char* program, bool stopOnFault)
    : core_(core), image_(image), out_(out), program_(program), stopOnFault_(stopOnFault) {
    listener_ = core.board().resetListeners.add([this](const ResetRecord& r) { onReset(r); });
}

FaultReport::~FaultReport() { core_.board().resetListeners.remove(listener_); }

void FaultReport::onReset(const ResetRecord& r) {
    ++resets_;
    const ExceptionEntry* e = core_.openEntry();
    uint64_t hz = core_.board().sysclkHz();
    if (e) {
        ++faults_;
        ++byCause_[causeOf(*e)];
        std::fprintf(out_, "%s: fault at %s; device reset at %s\n", program_.c_str(),
                     describe(*e, image_, hz).c_str(), micros(r.time, hz).c_str());
        if (stopOnFault_) core_.requestStop();
    } else {
        ++byCause_[r.cause];
        std::fprintf(out_, "%s: device reset at %s: %s\n", program_.c_str(), micros(r.time, hz).c_str(), r.cause.c_str());
    }
    std::fflush(out_);
}

std::string FaultReport::summary() const {
    if (!resets_) return "";
    std::string s = "the device reset " + std::to_string(resets_) + " time(s):";
    bool first = true;
    for (const auto& [cause, n] : byCause_) {
        s += (first ? " " : ", ") + cause + " " + std::to_string(n);
        first = false;
    }
    return s;
}

std::string imageWarnings(const Image& image) {
    std::string w;
    if (image.entry && *image.entry != kResetVector && (*image.entry & 0x1FFFFFFFu) != (kResetVector & 0x1FFFFFFFu))
        w += std::string("warning: the ") + (image.format == "ELF" ? "ELF entry point " : "start address ") +
             hex(*image.entry) + " is not the reset vector " + hex(kResetVector) + "; the core starts at the reset vector\n";
    bool code = false;
    for (const ImageSegment& s : image.segments)
        if (s.address <= (kResetVector & 0x1FFFFFFFu) && (kResetVector & 0x1FFFFFFFu) + 4 <= s.address + s.bytes.size()) {
            const uint8_t* p = s.bytes.data() + ((kResetVector & 0x1FFFFFFFu) - s.address);
            code = !(p[0] == 0xFF && p[1] == 0xFF && p[2] == 0xFF && p[3] == 0xFF);
        }
    if (!code) w += "warning: no code at the reset vector " + hex(kResetVector) + ": the core will fault at once\n";
    return w;
}

}  // namespace sim
