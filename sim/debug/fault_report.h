// Fault reports: what led to each device reset, in one line a reset. A reset that comes
// while an exception or interrupt entry has not returned is a fault of that entry (the
// run-time's default handlers end in a software reset): its cause by name, EPC as
// symbol+offset, BadVAddr where it applies, Status and the last instructions run. Counts
// by cause for the summary, in constant memory.
#pragma once
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>

#include "sim/core/image_loader.h"
#include "sim/core/mips_core.h"

namespace sim {

class FaultReport {
public:
    // Reports on `out` from now on; `stopOnFault` ends the core's run at the first fault.
    FaultReport(MipsCore& core, const Image& image, FILE* out, const char* program, bool stopOnFault = false);
    ~FaultReport();
    FaultReport(const FaultReport&) = delete;
    FaultReport& operator=(const FaultReport&) = delete;

    uint64_t faults() const { return faults_; }
    uint64_t resets() const { return resets_; }
    // "reset 3 times: reserved instruction 2, software reset 1", or empty.
    std::string summary() const;

    // The cause of an exception entry by name ("reserved instruction", "interrupt with no
    // handler: vector 35").
    static std::string causeOf(const ExceptionEntry& e);
    // One line for the entry (no newline).
    static std::string describe(const ExceptionEntry& e, const Image& image, uint64_t sysclkHz);

private:
    MipsCore& core_;
    const Image& image_;
    FILE* out_;
    std::string program_;
    bool stopOnFault_;
    uint64_t faults_ = 0, resets_ = 0;
    std::map<std::string, uint64_t> byCause_;  // as many keys as there are causes
    Listeners<const ResetRecord&>::Id listener_;
    void onReset(const ResetRecord& r);
};

// Warnings about an image before it runs: no code at the reset vector, an ELF entry or an
// Intel HEX start address that is not the reset vector. Empty when there is nothing to say.
std::string imageWarnings(const Image& image);

}  // namespace sim
