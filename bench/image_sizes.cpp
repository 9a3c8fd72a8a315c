// Size report of the deliverables: flash (boot and program) and RAM (data, bss, the stack
// reserve) per image, section totals per relocatable module, against the size goals.
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "tools/cli.h"

namespace {

std::string run(const std::string& command) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
    return out;
}

// A file name as one shell word, whatever it contains.
std::string shellQuoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

struct Sizes {
    unsigned long boot = 0, program = 0, data = 0, bss = 0, heap = 0, text = 0;
    bool found = false;  // the file was there and had sections
};

bool inBootFlash(unsigned long a) { a &= 0x1FFFFFFF; return a >= 0x1FC00000 && a < 0x1FC03000; }
bool inProgramFlash(unsigned long a) { a &= 0x1FFFFFFF; return a >= 0x1D000000 && a < 0x1D080000; }

Sizes measure(const std::string& file) {
    Sizes s;
    std::istringstream in(run("mipsel-linux-gnu-size -A " + shellQuoted(file) + " 2>/dev/null"));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream f(line);
        std::string name;
        unsigned long size, addr;
        if (!(f >> name >> size >> addr) || name[0] != '.') continue;
        s.found = true;
        if (name == ".bss") s.bss += size;
        else if (name == ".heap") s.heap += size;
        else if (name == ".data") { s.data += size; s.program += size; }  // initial values live in flash
        else if (inBootFlash(addr)) s.boot += size;
        else if (inProgramFlash(addr)) s.program += size;
        else if (name.rfind(".text", 0) == 0 || name.rfind(".rodata", 0) == 0) s.text += size;
    }
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> dirs;
    tools::Cli cli("image_sizes", "[DIR]",
                   "Flash and RAM of each firmware image and module in DIR (default\n"
                   "build/target/images) against the size goals; exits 1 if a goal is missed.\n");
    cli.positional("DIR", "", dirs, 1).parse(argc, argv);
    const std::string dir = dirs.empty() ? "build/target/images" : dirs.front();
    const unsigned long ram = 32 * 1024;
    struct Goal { const char* name; unsigned long flash; };
    const Goal images[] = {{"clockdemo", 8 * 1024}, {"carddemo", 6 * 1024}};
    std::printf("%-10s %8s %8s %8s %6s %6s %6s %10s %10s\n", "image", "boot", "program", "flash", "data", "bss",
                "heap", "stack", "flash goal");
    int missed = 0;
    for (const Goal& g : images) {
        Sizes s = measure(dir + "/" + g.name + ".elf");
        if (!s.found) {
            std::printf("%-10s missing: %s/%s.elf (build the target preset)\n", g.name, dir.c_str(), g.name);
            ++missed;
            continue;
        }
        unsigned long flash = s.boot + s.program;
        unsigned long used = s.data + s.bss + s.heap;
        unsigned long stack = ram - 8 - used;  // everything above the heap, down from 8 below the end
        bool ok = flash <= g.flash && s.data + s.bss < 512;
        missed += !ok;
        std::printf("%-10s %8lu %8lu %8lu %6lu %6lu %6lu %10lu %5lu %s (%.0f%%)\n", g.name, s.boot, s.program, flash,
                    s.data, s.bss, s.heap, stack, g.flash, ok ? "met" : "MISSED", 100.0 * flash / g.flash);
    }
    std::printf("\n%-12s %8s\n", "module", "code+const");
    for (const char* m : {"main.o", "irmsmeter.o", "bitclock.o"}) {
        Sizes s = measure(dir + "/" + m);
        if (s.found)
            std::printf("%-12s %8lu\n", m, s.text);
        else
            std::printf("%-12s missing\n", m);
    }
    std::printf("\ngoals: flash within the image's goal, RAM besides the stack reserve under 512 bytes;"
                " stack = RAM left below the stack top (at least 1024 required)\n");
    return missed ? 1 : 0;
}
