#include "sim/debug/gdb_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace sim::debug {

namespace {

constexpr size_t kPacketSize = 0x4000;  // what we accept and the longest reply we build
constexpr char kInterrupt = 0x03;

// Stop signals as gdb numbers them.
constexpr unsigned kSigInt = 2, kSigTrap = 5;

const char kHex[] = "0123456789abcdef";

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void putHexByte(std::string& s, uint8_t b) {
    s += kHex[b >> 4];
    s += kHex[b & 15];
}

std::string hex32(uint32_t v) {  // a number in a stop reply, most significant digit first
    std::string s;
    bool started = false;
    for (int shift = 28; shift >= 0; shift -= 4) {
        unsigned d = (v >> shift) & 15;
        if (d || started || shift == 0) s += kHex[d], started = true;
    }
    return s;
}

// A register in target byte order (little-endian).
void putRegister(std::string& s, uint32_t v) {
    for (int i = 0; i < 4; ++i) putHexByte(s, uint8_t(v >> (8 * i)));
}

bool parseHexBytes(std::string_view hex, std::vector<uint8_t>& out) {
    if (hex.size() % 2) return false;
    out.clear();
    for (size_t i = 0; i < hex.size(); i += 2) {
        int hi = hexDigit(hex[i]), lo = hexDigit(hex[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out.push_back(uint8_t(hi << 4 | lo));
    }
    return true;
}

bool parseRegister(std::string_view hex, uint32_t& v) {
    std::vector<uint8_t> b;
    if (hex.size() != 8 || !parseHexBytes(hex, b)) return false;
    v = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    return true;
}

// A hex number up to the end or to the first character of `stops`; `rest` is what follows
// the stop character.
bool parseNumber(std::string_view s, uint64_t& v, std::string_view& rest, std::string_view stops = "") {
    size_t i = 0;
    v = 0;
    for (; i < s.size() && stops.find(s[i]) == std::string_view::npos; ++i) {
        int d = hexDigit(s[i]);
        if (d < 0 || v >> 60) return false;
        v = v << 4 | unsigned(d);
    }
    if (i == 0) return false;
    rest = i < s.size() ? s.substr(i + 1) : std::string_view{};
    return true;
}

// "ADDR,LEN" followed by `stop` (or the end when stop is 0).
bool parseRange(std::string_view s, uint32_t& address, size_t& length, std::string_view& rest, char stop) {
    uint64_t a, n;
    std::string_view after;
    if (!parseNumber(s, a, after, ",") || s.find(',') == std::string_view::npos) return false;
    if (stop) {
        size_t at = after.find(stop);
        if (at == std::string_view::npos) return false;
        if (!parseNumber(after.substr(0, at), n, rest)) return false;
        rest = after.substr(at + 1);
    } else {
        if (!parseNumber(after, n, rest)) return false;
    }
    if (a > 0xFFFFFFFFu || n > 0xFFFFFFFFu) return false;
    address = uint32_t(a);
    length = size_t(n);
    return true;
}

std::string textToHex(std::string_view text) {
    std::string s;
    for (char c : text) putHexByte(s, uint8_t(c));
    return s;
}

// Without a target description gdb's MIPS layout has 90 registers: ours, then the FPU
// (f0..f31, fsr, fir) and 18 more it leaves unnamed. gdb 13 rejects a description without
// the org.gnu.gdb.mips.fpu feature, so the short 'g' reply carries our 38 and 'p' answers
// the others as unavailable.
constexpr unsigned kGdbRegisters = 90;

}  // namespace

GdbServer::GdbServer(GdbTarget& target, const GdbServerOptions& options) : target_(target), opt_(options) {}

GdbServer::~GdbServer() {
    if (fd_ >= 0) ::close(fd_);
    if (listenFd_ >= 0) ::close(listenFd_);
}

bool GdbServer::listen(uint16_t port) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) {
        error_ = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0 || ::listen(listenFd_, 1) < 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) < 0) {
        error_ = "127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno);
        ::close(listenFd_);
        listenFd_ = -1;
        return false;
    }
    port_ = ntohs(addr.sin_port);
    return true;
}

SessionEnd GdbServer::serve() {
    if (listenFd_ < 0) return SessionEnd::NoConnection;
    pollfd p{listenFd_, POLLIN, 0};
    if (::poll(&p, 1, opt_.acceptTimeoutMs) <= 0) return SessionEnd::NoConnection;
    fd_ = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd_ < 0) return SessionEnd::NoConnection;
    int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    // One debugger: nobody else may connect while it is there.
    ::close(listenFd_);
    listenFd_ = -1;

    end_ = SessionEnd::Disconnected;
    std::string packet;
    while (nextPacket(packet))
        if (!handle(packet)) break;
    ::close(fd_);
    fd_ = -1;
    return end_;
}

bool GdbServer::fill(int timeoutMs) {
    pollfd p{fd_, POLLIN, 0};
    int r = ::poll(&p, 1, timeoutMs);
    if (r < 0) return errno == EINTR;
    if (r == 0) return true;
    char buf[4096];
    ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) return n < 0 && (errno == EINTR || errno == EAGAIN);
    in_.append(buf, size_t(n));
    return true;
}

// Takes the next well-formed packet; acks, resends on '-', drops bad checksums (asking for
// a resend while acks are on). False when the peer hung up.
bool GdbServer::nextPacket(std::string& packet) {
    for (;;) {
        size_t start = 0;
        while (start < in_.size() && in_[start] != '$') {
            if (in_[start] == '-' && !noAck_ && !lastSent_.empty())
                ::send(fd_, lastSent_.data(), lastSent_.size(), MSG_NOSIGNAL);
            ++start;  // '+', a stray Ctrl-C while halted, noise
        }
        in_.erase(0, start);
        size_t hash = in_.find('#');
        if (hash != std::string::npos && hash + 2 < in_.size()) {
            std::string body = in_.substr(1, hash - 1);
            int hi = hexDigit(in_[hash + 1]), lo = hexDigit(in_[hash + 2]);
            in_.erase(0, hash + 3);
            uint8_t sum = 0;
            for (char c : body) sum = uint8_t(sum + uint8_t(c));
            bool good = hi >= 0 && lo >= 0 && sum == uint8_t(hi << 4 | lo);
            if (!noAck_) ::send(fd_, good ? "+" : "-", 1, MSG_NOSIGNAL);
            if (!good) continue;
            packet.clear();
            for (size_t i = 0; i < body.size(); ++i) {
                if (body[i] == '}' && i + 1 < body.size())
                    packet += char(body[++i] ^ 0x20);
                else
                    packet += body[i];
            }
            return true;
        }
        if (in_.size() > 2 * kPacketSize + 16) in_.clear();  // no end in sight: not a packet
        if (!fill(-1)) return false;
    }
}

void GdbServer::send(std::string_view payload) {
    std::string framed = "$";
    uint8_t sum = 0;
    for (char c : payload) {
        if (c == '$' || c == '#' || c == '}' || c == '*') {
            framed += '}';
            sum = uint8_t(sum + '}');
            c = char(c ^ 0x20);
        }
        framed += c;
        sum = uint8_t(sum + uint8_t(c));
    }
    framed += '#';
    putHexByte(framed, sum);
    ::send(fd_, framed.data(), framed.size(), MSG_NOSIGNAL);
    lastSent_ = std::move(framed);
}

void GdbServer::sendConsole(std::string_view text) {
    constexpr size_t chunk = (kPacketSize - 8) / 2;
    for (size_t i = 0; i < text.size(); i += chunk) send("O" + textToHex(text.substr(i, chunk)));
}

bool GdbServer::handle(const std::string& packet) {
    std::string_view args = std::string_view(packet).substr(packet.empty() ? 0 : 1);
    std::string reply;
    switch (packet.empty() ? 0 : packet[0]) {
    case '?': reply = lastStop_; break;
    case 'g': reply = readRegisters(); break;
    case 'G': reply = writeRegisters(args); break;
    case 'p': {
        uint64_t n;
        std::string_view rest;
        if (!parseNumber(args, n, rest))
            reply = "E01";
        else if (n < gdbreg::Count)
            putRegister(reply, target_.readRegister(unsigned(n)));
        else if (n < kGdbRegisters)
            reply = "xxxxxxxx";
        else
            reply = "E00";
        break;
    }
    case 'P': {
        uint64_t n;
        uint32_t v;
        std::string_view value;
        if (!parseNumber(args, n, value, "=") || n >= gdbreg::Count || !parseRegister(value, v) ||
            !target_.writeRegister(unsigned(n), v))
            reply = "E01";
        else
            reply = "OK";
        break;
    }
    case 'm': reply = readMemory(args); break;
    case 'M': reply = writeMemory(args, false); break;
    case 'X': reply = writeMemory(args, true); break;
    case 'c':
    case 's': {
        if (!args.empty()) {
            uint64_t pc;
            std::string_view rest;
            if (!parseNumber(args, pc, rest) || !target_.writeRegister(gdbreg::Pc, uint32_t(pc))) {
                reply = "E01";
                break;
            }
        }
        reply = resume(packet[0] == 's' ? Resume::Step : Resume::Continue);
        break;
    }
    case 'Z':
    case 'z': reply = breakpoint(packet[0] == 'Z', args); break;
    case 'H':
    case 'T': reply = "OK"; break;  // one thread
    case 'k':
        target_.kill();
        end_ = SessionEnd::Killed;
        return false;
    case 'D':
        send("OK");
        target_.detach();
        end_ = SessionEnd::Detached;
        return false;
    case 'q':
    case 'Q': reply = query(packet); break;
    case 'v':
        if (packet.rfind("vCont?", 0) == 0) {
            reply = "vCont;c;C;s;S";
        } else if (packet.rfind("vCont;", 0) == 0) {
            reply = vCont(std::string_view(packet).substr(6));
        } else if (packet.rfind("vKill", 0) == 0) {
            send("OK");
            target_.kill();
            end_ = SessionEnd::Killed;
            return false;
        }
        break;  // vMustReplyEmpty and the rest: empty
    default: break;
    }
    if (hungUp_) return false;
    send(reply);
    if (startNoAck_) noAck_ = true;
    return true;
}

std::string GdbServer::query(const std::string& packet) {
    std::string_view p = packet;
    if (p.rfind("qSupported", 0) == 0)
        return "PacketSize=" + hex32(kPacketSize) +
               ";QStartNoAckMode+;swbreak+;hwbreak+";
    if (p == "QStartNoAckMode") {
        startNoAck_ = true;  // the reply is still acknowledged
        return "OK";
    }
    if (p == "qAttached") return "1";
    if (p == "qC") return "QC1";
    if (p == "qfThreadInfo") return "m1";
    if (p == "qsThreadInfo") return "l";
    if (p.rfind("qRcmd,", 0) == 0) return monitor(p.substr(6));
    return {};
}

std::string GdbServer::monitor(std::string_view hex) {
    std::vector<uint8_t> bytes;
    if (!parseHexBytes(hex, bytes)) return "E01";
    std::string command(bytes.begin(), bytes.end()), out;
    if (!target_.monitor(command, out)) out = "unknown monitor command: " + command + "\n";
    if (!out.empty()) sendConsole(out);
    return "OK";
}

std::string GdbServer::readRegisters() {
    std::string s;
    for (unsigned n = 0; n < gdbreg::Count; ++n) putRegister(s, target_.readRegister(n));
    return s;
}

std::string GdbServer::writeRegisters(std::string_view hex) {
    if (hex.size() % 8 || hex.size() / 8 > gdbreg::Count) return "E01";
    std::vector<uint32_t> values;
    for (size_t i = 0; i < hex.size(); i += 8) {
        uint32_t v;
        if (!parseRegister(hex.substr(i, 8), v)) return "E01";
        values.push_back(v);
    }
    for (unsigned n = 0; n < values.size(); ++n) target_.writeRegister(n, values[n]);
    return "OK";
}

std::string GdbServer::readMemory(std::string_view args) {
    uint32_t address;
    size_t length;
    std::string_view rest;
    if (!parseRange(args, address, length, rest, 0)) return "E01";
    length = std::min(length, kPacketSize / 2);
    if (length == 0) return {};
    std::vector<uint8_t> bytes(length);
    size_t got = target_.readMemory(address, bytes.data(), length);
    if (got == 0) return "E14";  // EFAULT
    std::string s;
    for (size_t i = 0; i < got; ++i) putHexByte(s, bytes[i]);
    return s;
}

std::string GdbServer::writeMemory(std::string_view args, bool binary) {
    uint32_t address;
    size_t length;
    std::string_view data;
    if (!parseRange(args, address, length, data, ':')) return "E01";
    std::vector<uint8_t> bytes;
    if (binary)
        bytes.assign(data.begin(), data.end());  // already unescaped
    else if (!parseHexBytes(data, bytes))
        return "E01";
    if (bytes.size() != length) return "E01";
    if (length == 0) return "OK";  // gdb probing for X
    return target_.writeMemory(address, bytes.data(), length) ? "OK" : "E14";
}

std::string GdbServer::breakpoint(bool insert, std::string_view args) {
    // "TYPE,ADDR,KIND"; conditions after a ';' are gdb's to evaluate (we do not offer them).
    args = args.substr(0, args.find(';'));
    uint64_t type;
    std::string_view rest, none;
    uint32_t address;
    size_t kind;
    if (!parseNumber(args, type, rest, ",") || !parseRange(rest, address, kind, none, 0)) return "E01";
    bool ok;
    switch (type) {
    case 0:
    case 1: ok = insert ? target_.insertBreakpoint(address) : target_.removeBreakpoint(address); break;
    case 2:
    case 3:
    case 4: {
        WatchKind k = type == 2 ? WatchKind::Write : type == 3 ? WatchKind::Read : WatchKind::Access;
        ok = insert ? target_.insertWatchpoint(k, address, uint32_t(kind))
                    : target_.removeWatchpoint(k, address, uint32_t(kind));
        break;
    }
    default: return {};
    }
    return ok ? "OK" : "E01";
}

std::string GdbServer::vCont(std::string_view args) {
    // One thread: the first action that applies to it (all actions do) decides.
    std::string_view action = args.substr(0, args.find(';'));
    action = action.substr(0, action.find(':'));
    if (action.empty()) return "E01";
    switch (action[0]) {
    case 'c':
    case 'C': return resume(Resume::Continue);
    case 's':
    case 'S': return resume(Resume::Step);
    default: return "E01";
    }
}

std::string GdbServer::resume(Resume how) {
    if (ended_) return endReply_;
    interrupted_ = false;
    StopEvent e;
    if (how == Resume::Step) {
        e = target_.step();
    } else {
        for (;;) {
            e = target_.run(opt_.sliceInstructions);
            if (e.kind != StopEvent::Kind::SliceEnded) break;
            // While running gdb sends nothing but the interrupt byte.
            if (!fill(0)) {
                hungUp_ = true;
                return {};
            }
            size_t at = in_.find(kInterrupt);
            if (at != std::string::npos) {
                in_.erase(0, at + 1);
                interrupted_ = true;
                break;
            }
        }
    }
    lastStop_ = stopReply(e);
    return lastStop_;
}

std::string GdbServer::stopReply(const StopEvent& e) {
    auto signal = [](unsigned s) {
        std::string r = "T";
        putHexByte(r, uint8_t(s));
        return r;
    };
    if (interrupted_) return signal(kSigInt) + "thread:1;";
    switch (e.kind) {
    case StopEvent::Kind::Breakpoint: return signal(kSigTrap) + "swbreak:;thread:1;";
    case StopEvent::Kind::Watchpoint: {
        const char* name = e.watch == WatchKind::Write ? "watch" : e.watch == WatchKind::Read ? "rwatch" : "awatch";
        return signal(kSigTrap) + name + ":" + hex32(e.dataAddress) + ";thread:1;";
    }
    case StopEvent::Kind::Ended: {
        ended_ = true;
        endReply_ = "W";
        putHexByte(endReply_, uint8_t(e.exitCode));
        return endReply_;
    }
    case StopEvent::Kind::StepDone:
    case StopEvent::Kind::SliceEnded: break;
    }
    return signal(kSigTrap) + "thread:1;";
}

}  // namespace sim::debug
