#include "sim/core/image_loader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace sim {

namespace {

std::string hex32(uint64_t v) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%08llX", static_cast<unsigned long long>(v));
    return buf;
}

// Physical address of an address found in a file: physical already, or KSEG0/KSEG1.
bool fileAddressToPhysical(uint32_t a, uint32_t& physical) {
    if (a < 0x20000000u) {
        physical = a;
        return true;
    }
    return toPhysical(a, physical);
}

void checkInMap(const MemoryLayout& layout, uint32_t physical, uint64_t bytes, const std::string& what) {
    if (bytes == 0) return;
    Region r = layout.regionOf(physical, bytes);
    if (r == Region::Ram || r == Region::Flash || r == Region::Boot) return;
    throw ImageError(what + " at " + hex32(physical) + ".." + hex32(physical + bytes - 1) +
                     " lies outside data RAM (" + hex32(phys::kRam) + ", " + std::to_string(layout.ramBytes) +
                     " bytes), program flash (" + hex32(phys::kFlash) + ", " + std::to_string(layout.flashBytes) +
                     " bytes) and boot flash (" + hex32(phys::kBoot) + ", " + std::to_string(phys::kBootBytes) +
                     " bytes)");
}

// Bytes from a file as a message shows them: control and non-ASCII bytes escaped.
std::string printable(std::string_view s) {
    std::string out;
    for (unsigned char c : s) {
        switch (c) {
            case '\r': out += "\\r"; continue;
            case '\n': out += "\\n"; continue;
            case '\t': out += "\\t"; continue;
        }
        if (c >= 0x20 && c < 0x7F) {
            out += char(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
    }
    return out;
}

// A span of physical addresses [start, end) written by one ELF segment or HEX record.
struct Written {
    uint32_t start;
    uint32_t bytes;
    unsigned source;  // segment index or line number
    uint64_t end() const { return uint64_t(start) + bytes; }
};

// Two spans that share a byte, the later source second; false when none do. Of several
// overlaps, the one whose later source comes first in the file.
bool findOverlap(std::vector<Written> spans, Written& earlier, Written& later) {
    std::sort(spans.begin(), spans.end(), [](const Written& a, const Written& b) {
        return a.start != b.start ? a.start < b.start : a.source < b.source;
    });
    bool found = false;
    const Written* reach = nullptr;  // the span reaching furthest so far
    for (const Written& s : spans) {
        if (reach && s.start < reach->end()) {
            const Written& first = reach->source < s.source ? *reach : s;
            const Written& second = reach->source < s.source ? s : *reach;
            if (!found || second.source < later.source) {
                earlier = first;
                later = second;
                found = true;
            }
        }
        if (!reach || s.end() > reach->end()) reach = &s;
    }
    return found;
}

std::string range(const Written& w) { return hex32(w.start) + ".." + hex32(w.end() - 1); }

uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

// The functions and objects of .symtab, with their names from the linked string table. A
// table that does not fit the file is left out: symbols are an aid, not part of the image.
void readSymbols(std::span<const uint8_t> f, Image& img) {
    const uint8_t* h = f.data();
    uint32_t shoff = le32(h + 32);
    uint16_t shentsize = le16(h + 46), shnum = le16(h + 48);
    if (shoff == 0 || shentsize != 40 || uint64_t(shoff) + uint64_t(shnum) * 40 > f.size()) return;
    auto section = [&](unsigned i) { return h + shoff + i * 40; };
    for (unsigned i = 0; i < shnum; ++i) {
        const uint8_t* sh = section(i);
        if (le32(sh + 4) != 2) continue;  // SHT_SYMTAB
        uint32_t off = le32(sh + 16), size = le32(sh + 20), link = le32(sh + 24), entsize = le32(sh + 36);
        if (entsize != 16 || link >= shnum || uint64_t(off) + size > f.size()) return;
        const uint8_t* str = section(link);
        uint32_t stroff = le32(str + 16), strsize = le32(str + 20);
        if (uint64_t(stroff) + strsize > f.size()) return;
        for (uint32_t at = 0; at + 16 <= size; at += 16) {
            const uint8_t* sym = h + off + at;
            uint32_t name = le32(sym), value = le32(sym + 4), bytes = le32(sym + 8);
            unsigned type = sym[12] & 0xF;
            if ((type != 1 && type != 2) || name >= strsize || le16(sym + 14) == 0) continue;  // objects, functions
            const char* n = reinterpret_cast<const char*>(h + stroff + name);
            size_t len = strnlen(n, strsize - name);
            if (len == 0) continue;
            img.symbols.push_back({std::string(n, len), value, bytes, type == 2});
        }
        break;
    }
    std::sort(img.symbols.begin(), img.symbols.end(), [](const ImageSymbol& a, const ImageSymbol& b) {
        return (a.address & 0x1FFFFFFFu) < (b.address & 0x1FFFFFFFu);
    });
}

}  // namespace

std::string Image::describe(uint32_t address) const {
    // Symbols are sorted by physical address; the nearest few below the address are the
    // candidates (a function wins over an object or a label at the same place).
    const uint32_t p = address & 0x1FFFFFFFu;
    auto it = std::upper_bound(symbols.begin(), symbols.end(), p,
                               [](uint32_t v, const ImageSymbol& s) { return v < (s.address & 0x1FFFFFFFu); });
    const ImageSymbol* best = nullptr;
    for (int back = 0; back < 8 && it != symbols.begin(); ++back) {
        const ImageSymbol& s = *--it;
        uint32_t base = s.address & 0x1FFFFFFFu;
        bool inside = p - base < s.size || (s.size == 0 && p == base);
        if (inside && (!best || (s.function && !best->function))) best = &s;
    }
    if (!best) return "";
    uint32_t off = p - (best->address & 0x1FFFFFFFu);
    if (off == 0) return best->name;
    char buf[16];
    std::snprintf(buf, sizeof buf, "+0x%x", off);
    return best->name + buf;
}

std::optional<uint32_t> Image::addressOf(const std::string& name) const {
    for (const ImageSymbol& s : symbols)
        if (s.name == name) return s.address;
    return std::nullopt;
}

ConfigWords Image::configWords() const {
    uint8_t words[16];
    std::memset(words, 0xFF, sizeof words);
    for (const ImageSegment& s : segments)
        for (size_t i = 0; i < s.bytes.size(); ++i) {
            uint64_t a = uint64_t(s.address) + i;
            if (a >= phys::kConfigWords && a < phys::kConfigWords + 16) words[a - phys::kConfigWords] = s.bytes[i];
        }
    ConfigWords cfg;
    cfg.devcfg3 = le32(words);
    cfg.devcfg2 = le32(words + 4);
    cfg.devcfg1 = le32(words + 8);
    cfg.devcfg0 = le32(words + 12);
    return cfg;
}

Image parseElf(std::span<const uint8_t> f, const MemoryLayout& layout) {
    constexpr size_t kEhdr = 52, kPhdr = 32;
    if (f.size() < 4 || std::memcmp(f.data(), "\x7F" "ELF", 4) != 0) throw ImageError("ELF: no ELF magic number");
    if (f.size() < kEhdr) throw ImageError("ELF: file ends inside the ELF header (" + std::to_string(f.size()) + " bytes)");
    if (f[4] != 1) throw ImageError("ELF: not a 32-bit file (class " + std::to_string(f[4]) + ")");
    if (f[5] != 1) throw ImageError("ELF: not little-endian (data encoding " + std::to_string(f[5]) + ")");
    if (f[6] != 1) throw ImageError("ELF: unknown ELF version " + std::to_string(f[6]));
    const uint8_t* h = f.data();
    uint16_t type = le16(h + 16), machine = le16(h + 18);
    if (machine != 8) throw ImageError("ELF: not a MIPS file (machine " + std::to_string(machine) + ")");
    if (type != 2) throw ImageError("ELF: not an executable (type " + std::to_string(type) + "; a relocatable module must be linked first)");
    uint32_t entry = le32(h + 24), phoff = le32(h + 28);
    uint16_t phentsize = le16(h + 42), phnum = le16(h + 44);
    if (phnum == 0) throw ImageError("ELF: no program headers");
    if (phentsize != kPhdr) throw ImageError("ELF: program header entries of " + std::to_string(phentsize) + " bytes, expected 32");
    if (uint64_t(phoff) + uint64_t(phnum) * kPhdr > f.size())
        throw ImageError("ELF: program header table (" + std::to_string(phnum) + " entries at offset " +
                         std::to_string(phoff) + ") runs past the end of the file (" + std::to_string(f.size()) + " bytes)");

    Image img;
    img.format = "ELF";
    img.entry = entry;
    std::vector<Written> written;
    for (unsigned i = 0; i < phnum; ++i) {
        const uint8_t* p = h + phoff + i * kPhdr;
        uint32_t ptype = le32(p), offset = le32(p + 4), vaddr = le32(p + 8), paddr = le32(p + 12);
        uint32_t filesz = le32(p + 16), memsz = le32(p + 20);
        if (ptype != 1) continue;  // PT_LOAD only
        std::string what = "ELF: segment " + std::to_string(i) + " (virtual " + hex32(vaddr) + ")";
        if (filesz > memsz) throw ImageError(what + ": file size " + std::to_string(filesz) + " exceeds memory size " + std::to_string(memsz));
        // What the segment occupies when the program runs: p_memsz bytes at its virtual
        // address (a .bss segment's load address is only where .data's copy sits in flash).
        uint32_t running;
        if (memsz && !fileAddressToPhysical(vaddr, running))
            throw ImageError(what + ": virtual address " + hex32(vaddr) + " is not a physical, KSEG0 or KSEG1 address");
        if (memsz) checkInMap(layout, running, memsz, what + ": memory size " + std::to_string(memsz));
        if (filesz == 0) continue;
        if (uint64_t(offset) + filesz > f.size())
            throw ImageError(what + ": contents at offset " + std::to_string(offset) + " (" + std::to_string(filesz) +
                             " bytes) run past the end of the file (" + std::to_string(f.size()) + " bytes)");
        uint32_t physical;
        if (!fileAddressToPhysical(paddr, physical))
            throw ImageError(what + ": load address " + hex32(paddr) + " is not a physical, KSEG0 or KSEG1 address");
        checkInMap(layout, physical, filesz, what);
        img.segments.push_back({physical, std::vector<uint8_t>(h + offset, h + offset + filesz)});
        written.push_back({physical, filesz, i});
    }
    if (img.segments.empty()) throw ImageError("ELF: no loadable segment with contents");
    Written a, b;
    if (findOverlap(written, a, b))
        throw ImageError("ELF: segment " + std::to_string(b.source) + " (" + range(b) + ") overlaps segment " +
                         std::to_string(a.source) + " (" + range(a) + ")");
    readSymbols(f, img);
    return img;
}

Image parseIntelHex(std::string_view text, const MemoryLayout& layout) {
    Image img;
    img.format = "Intel HEX";
    uint32_t linearBase = 0;  // record 04 (upper 16 bits) or 02 (segment x 16)
    bool segmented = false;
    bool ended = false;
    unsigned lineNo = 0;
    size_t pos = 0;
    std::vector<Written> written;
    std::vector<uint8_t> rec;
    auto hexDigit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (pos < text.size()) {
        size_t eol = text.find_first_of("\r\n", pos);
        if (eol == std::string_view::npos) eol = text.size();
        std::string_view line = text.substr(pos, eol - pos);
        pos = eol + (text.compare(eol, 2, "\r\n") == 0 ? 2 : 1);
        ++lineNo;
        while (!line.empty() && blank(line.front())) line.remove_prefix(1);
        while (!line.empty() && blank(line.back())) line.remove_suffix(1);
        if (line.empty()) continue;
        std::string where = "Intel HEX line " + std::to_string(lineNo);
        if (ended) throw ImageError(where + ": record after the end-of-file record");
        if (line[0] != ':') throw ImageError(where + ": does not start with ':' but with '" + printable(line.substr(0, 1)) + "'");
        line.remove_prefix(1);
        rec.assign((line.size() + 1) / 2, 0);
        for (size_t i = 0; i < rec.size(); ++i) {
            std::string_view pair = line.substr(2 * i, 2);
            int hi = hexDigit(pair[0]), lo = pair.size() < 2 ? 0 : hexDigit(pair[1]);
            if (hi < 0 || lo < 0) throw ImageError(where + ": '" + printable(pair) + "' is not a hex byte");
            rec[i] = uint8_t(hi << 4 | lo);
        }
        if (line.size() % 2) throw ImageError(where + ": odd number of hex digits");
        if (rec.size() < 5) throw ImageError(where + ": record too short");
        unsigned count = rec[0];
        if (rec.size() != count + 5u)
            throw ImageError(where + ": byte count " + std::to_string(count) + " does not match the record length " +
                             std::to_string(rec.size() - 5));
        uint8_t sum = 0;
        for (uint8_t b : rec) sum = uint8_t(sum + b);
        if (sum != 0) {
            uint8_t expect = uint8_t(rec.back() - sum);
            char buf[80];
            std::snprintf(buf, sizeof buf, ": checksum 0x%02X, the record's bytes need 0x%02X", rec.back(), expect);
            throw ImageError(where + buf);
        }
        unsigned offset = unsigned(rec[1]) << 8 | rec[2];
        unsigned type = rec[3];
        const uint8_t* data = rec.data() + 4;
        auto needCount = [&](unsigned n) {
            if (count != n) throw ImageError(where + ": record type " + std::to_string(type) + " needs " + std::to_string(n) + " data bytes, has " + std::to_string(count));
        };
        switch (type) {
            case 0x00: {
                // Linear addresses run on; segment addresses wrap within their 64 KiB.
                for (unsigned i = 0; i < count; ++i) {
                    uint32_t a = segmented ? linearBase + ((offset + i) & 0xFFFF) : linearBase + offset + i;
                    uint32_t physical;
                    if (!fileAddressToPhysical(a, physical))
                        throw ImageError(where + ": address " + hex32(a) + " is not a physical, KSEG0 or KSEG1 address");
                    checkInMap(layout, physical, 1, where + ": data");
                    if (!written.empty() && written.back().source == lineNo && written.back().end() == physical)
                        ++written.back().bytes;
                    else
                        written.push_back({physical, 1, lineNo});
                    if (!img.segments.empty()) {
                        ImageSegment& last = img.segments.back();
                        if (uint64_t(last.address) + last.bytes.size() == physical) {
                            last.bytes.push_back(data[i]);
                            continue;
                        }
                    }
                    img.segments.push_back({physical, {data[i]}});
                }
                break;
            }
            case 0x01:
                needCount(0);
                ended = true;
                break;
            case 0x02:
                needCount(2);
                linearBase = (uint32_t(data[0]) << 8 | data[1]) << 4;
                segmented = true;
                break;
            case 0x03:
                needCount(4);
                img.entry = ((uint32_t(data[0]) << 8 | data[1]) << 4) + (uint32_t(data[2]) << 8 | data[3]);
                break;
            case 0x04:
                needCount(2);
                linearBase = (uint32_t(data[0]) << 8 | data[1]) << 16;
                segmented = false;
                break;
            case 0x05:
                needCount(4);
                img.entry = uint32_t(data[0]) << 24 | uint32_t(data[1]) << 16 | uint32_t(data[2]) << 8 | data[3];
                break;
            default: throw ImageError(where + ": unknown record type " + std::to_string(type));
        }
    }
    if (!ended) throw ImageError("Intel HEX: no end-of-file record");
    if (img.segments.empty()) throw ImageError("Intel HEX: no data records");
    Written a, b;
    if (findOverlap(std::move(written), a, b))
        throw ImageError("Intel HEX line " + std::to_string(b.source) + ": data at " + range(b) + " overlaps line " +
                         std::to_string(a.source) + "'s data at " + range(a));
    return img;
}

uint64_t imageFileLimit(ImageFormat format, const MemoryLayout& layout) {
    const uint64_t memories = uint64_t(layout.ramBytes) + layout.flashBytes + phys::kBootBytes;
    return format == ImageFormat::IntelHex ? 32 * memories : 64 * memories;
}

namespace {

enum class Detected { Unknown, Elf, Hex, Neither };

// The format from the first bytes: the ELF magic number, or ':' after white space.
// `scanned` keeps how far white space has been seen, for a file read piece by piece.
Detected detect(const std::vector<uint8_t>& b, bool complete, size_t& scanned) {
    static const uint8_t kMagic[4] = {0x7F, 'E', 'L', 'F'};
    size_t n = std::min<size_t>(b.size(), 4);
    if (n > 0 && std::memcmp(b.data(), kMagic, n) == 0 && (n == 4 || !complete))
        return n == 4 ? Detected::Elf : Detected::Unknown;
    for (; scanned < b.size(); ++scanned) {
        uint8_t c = b[scanned];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
        return c == ':' ? Detected::Hex : Detected::Neither;
    }
    return complete ? Detected::Neither : Detected::Unknown;
}

struct Fd {
    int fd;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

Image readImage(const std::string& path, const MemoryLayout& layout) {
    const std::string name = printable(path);
    Fd in{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (in.fd < 0) throw ImageError(name + ": cannot open: " + std::strerror(errno));
    struct stat st {};
    if (::fstat(in.fd, &st) == 0 && S_ISDIR(st.st_mode)) throw ImageError(name + ": is a directory, not an image file");
    const bool regular = S_ISREG(st.st_mode);

    std::vector<uint8_t> bytes;
    Detected format = Detected::Unknown;
    size_t scanned = 0;
    bool complete = false;
    uint8_t buf[64 * 1024];
    for (;;) {
        format = detect(bytes, complete, scanned);
        if (complete || format == Detected::Neither) break;
        // White space can only lead a HEX file; a prefix of the magic number an ELF file.
        ImageFormat as = format == Detected::Hex || (format == Detected::Unknown && bytes.size() >= 1 && bytes[0] != 0x7F)
                             ? ImageFormat::IntelHex
                             : ImageFormat::Elf;
        const uint64_t limit = imageFileLimit(as, layout);
        if (bytes.size() > limit || (format != Detected::Unknown && regular && uint64_t(st.st_size) > limit))
            throw ImageError(name + ": larger than any " + (as == ImageFormat::Elf ? "ELF" : "Intel HEX") +
                             " image for this chip (more than " + std::to_string(limit) + " bytes; its memories hold " +
                             std::to_string(uint64_t(layout.ramBytes) + layout.flashBytes + phys::kBootBytes) + " bytes)");
        ssize_t n = ::read(in.fd, buf, size_t(std::min<uint64_t>(sizeof buf, limit + 1 - bytes.size())));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw ImageError(name + ": cannot read: " + std::strerror(errno));
        if (n == 0) complete = true;
        bytes.insert(bytes.end(), buf, buf + n);
    }
    if (bytes.empty()) throw ImageError(name + ": empty file");
    try {
        if (format == Detected::Elf) return parseElf(bytes, layout);
        if (format == Detected::Hex)
            return parseIntelHex(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), layout);
        throw ImageError("neither an ELF file nor an Intel HEX file");
    } catch (const ImageError& e) {
        throw ImageError(name + ": " + e.what());
    }
}

void loadImage(MemoryMap& memory, const Image& image) {
    for (const ImageSegment& s : image.segments) {
        checkInMap(memory.layout(), s.address, s.bytes.size(), image.format + " segment");
        memory.write(s.address, s.bytes.data(), s.bytes.size());
    }
}

}  // namespace sim
