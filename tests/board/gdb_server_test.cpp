// The GDB server against a small fake M4K: raw packets over loopback for framing, checksums
// and errors, then Debian's gdb-multiarch as the real client.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <functional>
#include <vector>

#include "sim/debug/gdb_server.h"

namespace {

using namespace sim::debug;

constexpr uint32_t kFlash = 0xBFC00000, kFlashSize = 0x100;
constexpr uint32_t kRam = 0xA0000000, kRamSize = 0x400;

// The program in flash:
//   00 lui   t0, 0xa000
//   04 addiu t1, zero, 5
//   08 sw    t1, 16(t0)
//   0c beq   zero, zero, 18   (taken)
//   10 addiu t2, zero, 7      delay slot
//   14 addiu t3, zero, 9      skipped
//   18 lw    t4, 16(t0)
//   1c addiu t5, t5, 1        loop
//   20 sw    t5, 32(t0)
//   24 j     1c
//   28 nop
//   2c syscall                the end (reached by setting pc)
const uint32_t kProgram[] = {0x3C08A000, 0x24090005, 0xAD090010, 0x10000002, 0x240A0007, 0x240B0009,
                             0x8D0C0010, 0x25AD0001, 0xAD0D0020, 0x0BF00007, 0x00000000, 0x0000000C};

// Registers, RAM, a read-only flash with the program and a tiny interpreter of what the
// program uses, with the branch delay slot (pc, npc).
class FakeM4K : public GdbTarget {
public:
    FakeM4K() { reset(); }

    uint32_t regs[gdbreg::Count] = {};
    uint32_t npc = 0;
    uint8_t ram[kRamSize] = {};
    uint8_t flash[kFlashSize] = {};
    std::set<uint32_t> breakpoints;
    struct Watch {
        WatchKind kind;
        uint32_t address, length;
        bool operator<(const Watch& o) const {
            return std::tie(kind, address, length) < std::tie(o.kind, o.address, o.length);
        }
    };
    std::set<Watch> watches;
    uint64_t executed = 0;
    std::atomic<int> slicesEnded{0};
    std::atomic<bool> killed{false}, detached{false};

    uint32_t readRegister(unsigned n) override { return regs[n]; }
    bool writeRegister(unsigned n, uint32_t v) override {
        if (n == gdbreg::BadVAddr) return false;  // read-only, as on the chip
        if (n) regs[n] = v;
        if (n == gdbreg::Pc) npc = v + 4, inSlot = false;
        return true;
    }
    uint8_t* byteAt(uint32_t a) {
        if (a - kRam < kRamSize) return &ram[a - kRam];
        if (a - kFlash < kFlashSize) return &flash[a - kFlash];
        return nullptr;
    }
    size_t readMemory(uint32_t a, uint8_t* out, size_t n) override {
        size_t i = 0;
        for (; i < n && byteAt(a + uint32_t(i)); ++i) out[i] = *byteAt(a + uint32_t(i));
        return i;
    }
    bool writeMemory(uint32_t a, const uint8_t* in, size_t n) override {
        for (size_t i = 0; i < n; ++i)
            if (a + i - kRam >= kRamSize) return false;
        std::memcpy(&ram[a - kRam], in, n);
        return true;
    }
    bool insertBreakpoint(uint32_t a) override { return breakpoints.insert(a).second; }
    bool removeBreakpoint(uint32_t a) override { return breakpoints.erase(a) == 1; }
    bool insertWatchpoint(WatchKind k, uint32_t a, uint32_t n) override { return watches.insert({k, a, n}).second; }
    bool removeWatchpoint(WatchKind k, uint32_t a, uint32_t n) override { return watches.erase({k, a, n}) == 1; }

    StopEvent step() override { return execute(); }
    // Stops fall between branch and delay-slot pairs: one for the slot is reported at its
    // branch, before the branch, as the chip's EPC with Cause.BD would.
    StopEvent run(uint64_t max) override {
        for (uint64_t i = 0; i < max || inSlot; ++i) {
            uint32_t pc = regs[gdbreg::Pc];
            if (!inSlot) {
                bool branch = isBranch(pc);
                if (i && (breakpoints.count(pc) || (branch && breakpoints.count(pc + 4))))
                    return {StopEvent::Kind::Breakpoint};
                StopEvent w = watchHit(pc);
                if (w.kind == StopEvent::Kind::SliceEnded && branch) w = watchHit(pc + 4);
                if (w.kind != StopEvent::Kind::SliceEnded) return w;
            }
            StopEvent e = execute();
            if (e.kind == StopEvent::Kind::Ended) return e;
        }
        ++slicesEnded;
        return {};
    }
    void reset() override {
        std::memset(regs, 0, sizeof regs);
        for (unsigned n = 1; n < 32; ++n) regs[n] = 0x11110000 + n;
        regs[gdbreg::Status] = 0x00400004;
        regs[gdbreg::Lo] = 0x10101010;
        regs[gdbreg::Hi] = 0x20202020;
        regs[gdbreg::BadVAddr] = 0xBADBAD00;
        regs[gdbreg::Cause] = 0x00800024;
        regs[gdbreg::Pc] = kFlash;
        npc = kFlash + 4;
        inSlot = false;
        for (unsigned i = 0; i < kRamSize; ++i) ram[i] = uint8_t(i * 7 + 1);
        std::memcpy(flash, kProgram, sizeof kProgram);
        executed = 0;
    }
    bool monitor(std::string_view cmd, std::string& out) override {
        if (cmd == "time") {
            out = "executed " + std::to_string(executed) + " instructions\n";
            return true;
        }
        if (cmd == "reset") {
            reset();
            return true;
        }
        return false;
    }
    void kill() override { killed = true; }
    void detach() override { detached = true; }

private:
    bool inSlot = false;

    uint32_t fetch(uint32_t pc) {
        uint32_t insn = 0;
        readMemory(pc, reinterpret_cast<uint8_t*>(&insn), 4);
        return insn;
    }
    bool isBranch(uint32_t pc) {
        uint32_t op = fetch(pc) >> 26;
        return op == 0x02 || op == 0x04;
    }
    // The watchpoint that the load or store at pc would fire, before it happens.
    StopEvent watchHit(uint32_t pc) {
        uint32_t insn = fetch(pc), op = insn >> 26;
        if (op != 0x23 && op != 0x2B) return {};
        uint32_t a = regs[insn >> 21 & 31] + uint32_t(int32_t(int16_t(insn)));
        bool store = op == 0x2B;
        for (const Watch& w : watches) {
            bool kindMatches = w.kind == WatchKind::Access || (w.kind == WatchKind::Write) == store;
            if (kindMatches && a + 4 > w.address && a < w.address + w.length)
                return {StopEvent::Kind::Watchpoint, w.kind, a};
        }
        return {};
    }
    StopEvent execute() {
        uint32_t pc = regs[gdbreg::Pc];
        if (!byteAt(pc)) return {StopEvent::Kind::Ended, {}, 0, 1};
        uint32_t insn = fetch(pc), op = insn >> 26, rs = insn >> 21 & 31, rt = insn >> 16 & 31;
        int32_t imm = int16_t(insn);
        uint32_t next = npc + 4;
        auto set = [&](unsigned r, uint32_t v) {
            if (r) regs[r] = v;
        };
        inSlot = false;
        switch (op) {
        case 0x00:
            if ((insn & 0x3F) == 0x0C) return {StopEvent::Kind::Ended, {}, 0, 0};
            break;
        case 0x02:
            next = (npc & 0xF0000000) | (insn & 0x03FFFFFF) << 2;
            inSlot = true;
            break;
        case 0x04:
            if (regs[rs] == regs[rt]) next = npc + (uint32_t(imm) << 2);
            inSlot = true;
            break;
        case 0x09: set(rt, regs[rs] + uint32_t(imm)); break;
        case 0x0F: set(rt, insn << 16); break;
        case 0x23: {
            uint32_t v = 0;
            readMemory(regs[rs] + uint32_t(imm), reinterpret_cast<uint8_t*>(&v), 4);
            set(rt, v);
            break;
        }
        case 0x2B: writeMemory(regs[rs] + uint32_t(imm), reinterpret_cast<uint8_t*>(&regs[rt]), 4); break;
        default: break;
        }
        regs[gdbreg::Pc] = npc;
        npc = next;
        ++executed;
        return {StopEvent::Kind::StepDone};
    }
};

// The server on a free loopback port, serving in its own thread.
struct ServedTarget {
    FakeM4K target;
    GdbServer server{target, {1000, 20000}};
    std::thread thread;
    SessionEnd end = SessionEnd::NoConnection;

    ServedTarget() {
        EXPECT_TRUE(server.listen(0)) << server.error();
        thread = std::thread([this] { end = server.serve(); });
    }
    SessionEnd finish() {
        if (thread.joinable()) thread.join();
        return end;
    }
    ~ServedTarget() { finish(); }
};

// A raw protocol client. Every read gives up after two seconds.
class RawClient {
public:
    explicit RawClient(uint16_t port) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        int one = 1;
        setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    ~RawClient() { close(); }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    static std::string frame(std::string_view payload) {
        uint8_t sum = 0;
        for (char c : payload) sum = uint8_t(sum + uint8_t(c));
        char cs[3];
        snprintf(cs, sizeof cs, "%02x", sum);
        return "$" + std::string(payload) + "#" + cs;
    }
    void raw(std::string_view bytes) { ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
    // The next byte or packet as it came ("+", "-", "$...#cs"); "" on a time-out or hang-up.
    std::string next() {
        while (true) {
            if (!buf_.empty() && (buf_[0] == '+' || buf_[0] == '-')) {
                std::string r(1, buf_[0]);
                buf_.erase(0, 1);
                return r;
            }
            size_t hash = buf_.find('#');
            if (!buf_.empty() && buf_[0] == '$' && hash != std::string::npos && hash + 2 < buf_.size()) {
                std::string r = buf_.substr(0, hash + 3);
                buf_.erase(0, hash + 3);
                return r;
            }
            pollfd p{fd_, POLLIN, 0};
            char b[4096];
            ssize_t n;
            if (poll(&p, 1, 2000) <= 0 || (n = recv(fd_, b, sizeof b, 0)) <= 0) return "";
            buf_.append(b, size_t(n));
        }
    }
    // The payload of the next packet, acknowledging it while acks are on.
    std::string reply() {
        std::string r;
        do r = next();
        while (r == "+");
        if (r.size() < 4 || r[0] != '$') return "<no reply: " + r + ">";
        EXPECT_EQ(r, frame(r.substr(1, r.size() - 4))) << "checksum";
        if (acks) raw("+");
        return r.substr(1, r.size() - 4);
    }
    std::string ask(std::string_view payload) {
        raw(frame(payload));
        return reply();
    }
    bool acks = true;

private:
    int fd_ = -1;
    std::string buf_;
};

std::string hexText(std::string_view text) {
    std::string s;
    char b[3];
    for (char c : text) snprintf(b, sizeof b, "%02x", uint8_t(c)), s += b;
    return s;
}

class RawPackets : public testing::Test {
protected:
    ServedTarget s;
    RawClient c{s.server.port()};
};

TEST_F(RawPackets, FramingAcksAndChecksums) {
    c.raw("$g#00");  // bad checksum: refused, nothing else
    EXPECT_EQ(c.next(), "-");
    c.raw(RawClient::frame("m a0000000,4"));  // a stray space is a malformed argument
    EXPECT_EQ(c.next(), "+");
    EXPECT_EQ(c.reply(), "E01");
    c.raw("+++" + RawClient::frame("ma0000000,4"));
    EXPECT_EQ(c.next(), "+");
    std::string first = c.next();
    EXPECT_EQ(first, RawClient::frame("01080f16"));
    c.raw("-");  // asks for the last reply again
    EXPECT_EQ(c.next(), first);
    c.raw("+");
    EXPECT_EQ(c.ask("vMustReplyEmpty"), "");
    EXPECT_EQ(c.ask("qFoo"), "");

    // Binary write with every byte that needs escaping, read back.
    std::string x = "Xa0000100,6:";
    for (char b : std::string("}$#*\x03\x00", 6)) {
        if (std::strchr("}$#*", b) && b) x += '}', b = char(b ^ 0x20);
        x += b;
    }
    EXPECT_EQ(c.ask(x), "OK");
    EXPECT_EQ(c.ask("ma0000100,6"), "7d24232a0300");
    EXPECT_EQ(c.ask("Xa0000100,0:"), "OK");

    EXPECT_EQ(c.ask("QStartNoAckMode"), "OK");
    c.acks = false;
    c.raw(RawClient::frame("qC"));
    EXPECT_EQ(c.next(), RawClient::frame("QC1"));  // no '+' before it any more
}

TEST_F(RawPackets, RegistersMemoryAndErrors) {
    struct Case {
        const char* packet;
        const char* reply;
    } cases[] = {
        {"p1d", "1d001111"},          // sp
        {"p20", "04004000"},          // status
        {"p25", "0000c0bf"},          // pc
        {"p46", "xxxxxxxx"},          // fsr: no FPU
        {"p5a", "E00"},               // past gdb's 90
        {"P23=00000000", "E01"},      // badvaddr is read-only
        {"P21=78563412", "OK"},       // hi
        {"p21", "78563412"},
        {"pzz", "E01"},
        {"ma00003fe,4", "f3fa"},      // partial: RAM ends after two bytes
        {"m00000000,4", "E14"},       // nothing there
        {"ma0000000", "E01"},
        {"Mbfc00000,4:00000000", "E14"},  // flash is not patched
        {"Ma0000000,2:abcd", "OK"},
        {"ma0000000,3", "abcd0f"},
        {"Ma0000000,2:abc", "E01"},
        {"Z5,a0000000,4", ""},        // no such kind
        {"z0,bfc00004,4", "E01"},     // not inserted
        {"qAttached", "1"},
        {"qfThreadInfo", "m1"},
        {"qsThreadInfo", "l"},
        {"Hg0", "OK"},
        {"T1", "OK"},
        {"?", "S05"},
    };
    for (const Case& k : cases) EXPECT_EQ(c.ask(k.packet), k.reply) << k.packet;

    std::string g = c.ask("g");
    ASSERT_EQ(g.size(), 38u * 8);
    EXPECT_EQ(g.substr(29 * 8, 8), "1d001111");
    EXPECT_EQ(g.substr(37 * 8, 8), "0000c0bf");
    g.replace(8, 8, "efbeadde");
    EXPECT_EQ(c.ask("G" + g), "OK");
    EXPECT_EQ(c.ask("p1"), "efbeadde");
    EXPECT_EQ(c.ask("G123"), "E01");
}

TEST_F(RawPackets, StopsAndSteps) {
    // Hardware step across the taken branch at 0c: its delay slot, then the target.
    EXPECT_EQ(c.ask("Z0,bfc0000c,4"), "OK");
    EXPECT_EQ(c.ask("c"), "T05swbreak:;thread:1;");
    EXPECT_EQ(c.ask("p25"), "0c00c0bf");
    EXPECT_EQ(c.ask("vCont?"), "vCont;c;C;s;S");
    EXPECT_EQ(c.ask("vCont;s:1;c"), "T05thread:1;");
    EXPECT_EQ(c.ask("p25"), "1000c0bf");
    EXPECT_EQ(c.ask("s"), "T05thread:1;");
    EXPECT_EQ(c.ask("p25"), "1800c0bf");
    EXPECT_EQ(c.ask("pa"), "07000000");  // the slot ran
    EXPECT_EQ(c.ask("pb"), "0b001111");  // the instruction after it did not
    EXPECT_EQ(c.ask("z0,bfc0000c,4"), "OK");

    // Each watch kind names itself and the address.
    struct Case {
        const char* insert;
        const char* stop;
    } watches[] = {
        {"Z3,a0000010,4", "T05rwatch:a0000010;thread:1;"},  // lw at 18
        {"Z2,a0000022,1", "T05watch:a0000020;thread:1;"},   // sw at 20, a byte of its word
        {"Z4,a0000020,4", "T05awatch:a0000020;thread:1;"},
    };
    for (const Case& w : watches) {
        EXPECT_EQ(c.ask(w.insert), "OK");
        EXPECT_EQ(c.ask("c"), w.stop) << w.insert;
        EXPECT_EQ(c.ask(std::string(w.insert).replace(0, 1, "z")), "OK");
    }

    // Interrupted while running the loop: SIGINT, and the loop goes on afterwards.
    c.raw(RawClient::frame("c"));
    EXPECT_EQ(c.next(), "+");
    while (s.target.slicesEnded == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    c.raw("\x03");
    EXPECT_EQ(c.reply(), "T02thread:1;");
    EXPECT_EQ(c.ask("?"), "T02thread:1;");

    // The end of the program ends the process, for good.
    EXPECT_EQ(c.ask("P25=2c00c0bf"), "OK");
    EXPECT_EQ(c.ask("vCont;c"), "W00");
    EXPECT_EQ(c.ask("c"), "W00");
}

TEST_F(RawPackets, MonitorCommands) {
    EXPECT_EQ(c.ask("qRcmd," + hexText("time")), "O" + hexText("executed 0 instructions\n"));
    EXPECT_EQ(c.reply(), "OK");
    EXPECT_EQ(c.ask("qRcmd," + hexText("bogus")), "O" + hexText("unknown monitor command: bogus\n"));
    EXPECT_EQ(c.reply(), "OK");
    EXPECT_EQ(c.ask("qRcmd,zz"), "E01");
}

TEST(GdbServerSession, EndsByDetachKillOrHangUp) {
    {
        ServedTarget s;
        RawClient c(s.server.port());
        EXPECT_EQ(c.ask("D"), "OK");
        EXPECT_EQ(s.finish(), SessionEnd::Detached);
        EXPECT_TRUE(s.target.detached);
    }
    {
        ServedTarget s;
        RawClient c(s.server.port());
        c.raw(RawClient::frame("k"));
        EXPECT_EQ(s.finish(), SessionEnd::Killed);
        EXPECT_TRUE(s.target.killed);
    }
    {
        ServedTarget s;
        RawClient c(s.server.port());
        c.raw(RawClient::frame("c"));  // running the loop when the debugger goes
        EXPECT_EQ(c.next(), "+");
        c.close();
        EXPECT_EQ(s.finish(), SessionEnd::Disconnected);
        EXPECT_FALSE(s.target.killed || s.target.detached);
    }
    // One debugger at a time: the port is closed once it is in.
    ServedTarget s;
    uint16_t port = s.server.port();
    RawClient first(port);
    EXPECT_EQ(first.ask("qC"), "QC1");
    int second = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_NE(connect(second, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    close(second);
}

// gdb-multiarch in batch mode with stdin closed, its stdout and stderr together, killed
// after 30 s. `onRunning` is called once, when the target has run a whole slice freely.
struct GdbRun {
    std::string output;
    bool exited = false;
};

GdbRun runGdb(ServedTarget& s, const std::vector<std::string>& commands, std::function<void(pid_t)> onRunning) {
    std::vector<std::string> argv = {"gdb-multiarch", "-batch", "-nx",
                                     "-ex", "set architecture mips:isa32r2",
                                     "-ex", "set endian little",
                                     "-ex", "target remote 127.0.0.1:" + std::to_string(s.server.port())};
    for (const auto& c : commands) argv.insert(argv.end(), {"-ex", c});
    char path[] = "/tmp/gdb_server_test_XXXXXX";
    int out = mkstemp(path);
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_RDONLY);
        dup2(null, 0);
        dup2(out, 1);
        dup2(out, 2);
        std::vector<char*> args;
        for (auto& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    GdbRun r;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    bool signalled = false;
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        if (waitpid(pid, &status, WNOHANG) == pid) {
            r.exited = WIFEXITED(status) && WEXITSTATUS(status) == 0;
            pid = -1;
            break;
        }
        if (!signalled && s.target.slicesEnded > 0) {
            onRunning(pid);
            signalled = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (pid > 0) {
        ::kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    std::ifstream f(path);
    r.output.assign(std::istreambuf_iterator<char>(f), {});
    close(out);
    unlink(path);
    return r;
}

// What gdb printed after the line that echoes `marker` (gdb's `echo`), up to the next one.
std::string section(const std::string& out, const std::string& marker) {
    size_t at = out.find("@" + marker + "\n");
    if (at == std::string::npos) return "<" + marker + " missing>";
    at += marker.size() + 2;
    return out.substr(at, out.find('@', at) - at);
}

TEST(GdbMultiarch, DebugsTheFakeCore) {
    if (system("command -v gdb-multiarch >/dev/null 2>&1") != 0) GTEST_SKIP() << "gdb-multiarch missing";
    ServedTarget s;
    auto mark = [](const char* m) { return std::string("echo @") + m + "\\n"; };
    GdbRun r = runGdb(s,
                      {mark("regs"), "info registers",
                       mark("mem"), "x/4xw 0xa0000000",
                       mark("time"), "monitor time",
                       mark("break"), "break *0xbfc0000c", "continue",
                       // gdb steps in software: the branch and its slot are one stepi.
                       mark("stepi"), "stepi", "p/x $pc", "p/x $t2", "p/x $t3", "stepi", "p/x $pc",
                       mark("slot"), "delete", "break *0xbfc00028",  // gdb moves it to the jump
                       mark("watch"), "delete", "watch *(int*)0xa0000020", "continue", "p/x $pc",
                       mark("interrupt"), "delete", "continue", "p $pc == 0xbfc0001c || $pc == 0xbfc00020 || $pc == 0xbfc00024",
                       mark("detach"), "detach", mark("end")},
                      [](pid_t gdb) { ::kill(gdb, SIGINT); });
    EXPECT_TRUE(r.exited) << r.output;
    EXPECT_EQ(s.finish(), SessionEnd::Detached);

    const std::string& o = r.output;
    EXPECT_EQ(o.find("rejected"), std::string::npos) << o;
    std::string regs = section(o, "regs");
    EXPECT_NE(regs.find("R24  11110018 11110019 1111001a 1111001b 1111001c 1111001d 1111001e 1111001f"),
              std::string::npos) << regs;
    EXPECT_NE(regs.find("sr       lo       hi      bad    cause       pc\n"
                        "      00400004 10101010 20202020 badbad00 00800024 bfc00000"),
              std::string::npos) << regs;
    EXPECT_NE(regs.find("fsr      fir\n       <unavl>  <unavl>"), std::string::npos) << regs;
    EXPECT_NE(section(o, "mem").find("0xa0000000:\t0x160f0801\t0x322b241d\t0x4e474039\t0x6a635c55"),
              std::string::npos) << o;
    EXPECT_NE(section(o, "time").find("executed 0 instructions"), std::string::npos) << o;
    EXPECT_NE(section(o, "break").find("Breakpoint 1, 0xbfc0000c in"), std::string::npos) << o;
    EXPECT_NE(section(o, "stepi").find("$1 = 0xbfc00018\n$2 = 0x7\n$3 = 0x1111000b\n"), std::string::npos) << o;
    EXPECT_NE(section(o, "stepi").find("$4 = 0xbfc0001c\n"), std::string::npos) << o;
    EXPECT_NE(section(o, "slot").find("Breakpoint 2 at 0xbfc00024"), std::string::npos) << o;
    std::string watch = section(o, "watch");
    EXPECT_NE(watch.find("Hardware watchpoint 3: *(int*)0xa0000020\n\nOld value = -152049439\nNew value = 286326798"),
              std::string::npos) << watch;
    EXPECT_NE(watch.find("$5 = 0xbfc00024"), std::string::npos) << watch;
    std::string interrupt = section(o, "interrupt");
    EXPECT_NE(interrupt.find("Program received signal SIGINT, Interrupt."), std::string::npos) << interrupt;
    EXPECT_NE(interrupt.find("$6 = 1"), std::string::npos) << interrupt;
    EXPECT_NE(section(o, "detach").find("[Inferior 1 (Remote target) detached]"), std::string::npos) << o;
    EXPECT_TRUE(s.target.detached);
}

}  // namespace
