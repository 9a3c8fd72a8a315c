#include "sim/wires/vcd.h"

#include <algorithm>
#include <stdexcept>

namespace sim {

namespace {
// Identifier codes: printable ASCII '!'..'~', shortest first.
std::string idCode(size_t n) {
    std::string id;
    do {
        id += char('!' + n % 94);
        n /= 94;
    } while (n);
    return id;
}
}  // namespace

VcdWriter::VcdWriter(FILE* out, Nets& nets, Cycles now, uint64_t sysclkHz, const std::vector<std::string>& only)
    : out_(out), sysclk_(sysclkHz) {
    std::vector<std::string> names = only.empty() ? nets.names() : only;
    for (const std::string& n : names) nets_.push_back(&nets.get(n));  // unknown names throw here
    // The coarsest power-of-ten unit that still holds a system-clock cycle exactly (100 ps
    // at 80 MHz): viewers make a sample a unit, so a finer one only slows them down.
    uint64_t periodPs = 1000000000000ull / sysclk_;
    if (periodPs * sysclk_ != 1000000000000ull) periodPs = 1;  // a clock with no whole-ps period
    unitPs_ = 1;
    while (unitPs_ < 100000 && periodPs % (unitPs_ * 10) == 0) unitPs_ *= 10;
    static const char* const kUnits[] = {"1ps", "10ps", "100ps", "1ns", "10ns", "100ns"};
    unsigned k = 0;
    for (uint64_t u = unitPs_; u > 1; u /= 10) ++k;
    std::fprintf(out_, "$version pic32sim virtual board $end\n$timescale %s $end\n$scope module board $end\n", kUnits[k]);
    for (size_t i = 0; i < nets_.size(); ++i) {
        ids_.push_back(idCode(i));
        std::fprintf(out_, "$var wire 1 %s %s $end\n", ids_[i].c_str(), nets_[i]->name().c_str());
    }
    std::fprintf(out_, "$upscope $end\n$enddefinitions $end\n");
    stamp(now);
    std::fprintf(out_, "$dumpvars\n");
    for (size_t i = 0; i < nets_.size(); ++i) std::fprintf(out_, "%c%s\n", nets_[i]->level() ? '1' : '0', ids_[i].c_str());
    std::fprintf(out_, "$end\n");
    nets.watch([this](Cycles t, const Net& net, bool level) {
        if (finished_) return;
        auto it = std::find(nets_.begin(), nets_.end(), &net);
        if (it == nets_.end()) return;
        stamp(t);
        std::fprintf(out_, "%c%s\n", level ? '1' : '0', ids_[size_t(it - nets_.begin())].c_str());
    });
}

uint64_t VcdWriter::units(Cycles c) const {
    return uint64_t((unsigned __int128)c * 1000000000000ull / sysclk_ / unitPs_);
}

void VcdWriter::stamp(Cycles c) {
    uint64_t ps = units(c);
    if (ps == lastPs_) return;
    lastPs_ = ps;
    std::fprintf(out_, "#%llu\n", static_cast<unsigned long long>(ps));
}

void VcdWriter::finish(Cycles end) {
    if (finished_) return;
    stamp(end);
    finished_ = true;
    std::fflush(out_);
}

}  // namespace sim
