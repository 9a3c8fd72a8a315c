// pic32sim's value change dump read by Debian's sigrok-cli as a logic analyser's capture: the
// clock demo's I2C transfers, both demos' console and the card demo's SPI handshake, decoded
// by sigrok's own i2c, uart, spi and sdcard_spi decoders; the SPI clock measured on the dump.
#include <gtest/gtest.h>
#include <unistd.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& p) {
    std::ifstream in(p);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Runs `args` with stdout and stderr to files, killed after `seconds`; the exit status.
int run(const std::vector<std::string>& args, const fs::path& out, const fs::path& err, int seconds = 60) {
    std::string cmd = "timeout -k 5 " + std::to_string(seconds);
    for (const std::string& a : args) cmd += " '" + a + "'";
    cmd += " >'" + out.string() + "' 2>'" + err.string() + "'";
    int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// One annotation of sigrok-cli's trace-event output: start time, decoder, row, text.
struct Annotation {
    double us;
    std::string decoder, row, text;
};

std::vector<Annotation> annotations(const std::string& json) {
    static const std::regex begin(
        R"re(\{"ph": "B", "ts": ([0-9.]+), "pid": "([a-z_0-9]+)-[0-9]+", "tid": "([^"]*)", "name": "([^"]*)"\})re");
    std::vector<Annotation> out;
    for (std::sregex_iterator it(json.begin(), json.end(), begin), end; it != end; ++it)
        out.push_back({std::stod((*it)[1]), (*it)[2], (*it)[3], (*it)[4]});
    return out;
}

std::vector<std::string> texts(const std::vector<Annotation>& all, const std::string& decoder, const std::string& row) {
    std::vector<std::string> out;
    for (const Annotation& a : all)
        if (a.decoder == decoder && a.row == row) out.push_back(a.text);
    return out;
}

// The changes of some nets in a VCD file, in picoseconds, and the nets it declares.
struct Dump {
    std::vector<std::string> names;
    std::map<std::string, std::vector<std::pair<uint64_t, bool>>> changes;  // by net
};

Dump readVcd(const fs::path& path) {
    Dump d;
    std::map<std::string, std::string> byId;
    std::ifstream in(path);
    uint64_t now = 0, unitPs = 0;
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string kind, type, width, id, name;
        if (line.rfind("$timescale", 0) == 0 && words >> kind >> type) {
            static const std::map<std::string, uint64_t> units = {{"1ps", 1},      {"10ps", 10},      {"100ps", 100},
                                                                  {"1ns", 1000},   {"10ns", 10000},   {"100ns", 100000}};
            unitPs = units.count(type) ? units.at(type) : 0;
        } else if (line.rfind("$var", 0) == 0 && words >> kind >> type >> width >> id >> name) {
            byId[id] = name;
            d.names.push_back(name);
        } else if (line.size() > 1 && line[0] == '#') {
            now = std::stoull(line.substr(1)) * unitPs;
        } else if (line.size() > 1 && (line[0] == '0' || line[0] == '1') && byId.count(line.substr(1))) {
            d.changes[byId[line.substr(1)]].push_back({now, line[0] == '1'});
        }
    }
    EXPECT_NE(unitPs, 0u) << "a time scale the viewers know";
    return d;
}

// sigrok's VCD input makes a sample per time-scale unit (100 ps at 80 MHz): three seconds
// would be 3e10 samples. 100 ns still gives 25 samples per period of the 400 kHz SPI clock,
// 100 per bit of the 100 kHz I2C bus and 170 per bit of the 57600-baud console.
const std::string kInput = "vcd:downsample=1000";
const std::string kUart = "uart:rx=U1TX:baudrate=57600:data_bits=8:parity=none:stop_bits=1.0";

struct Capture {
    std::string console;  // pic32sim's stdout of the same run
    std::vector<Annotation> decoded;
    Dump vcd;
    std::string error;
};

class Vcd : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (std::system("command -v sigrok-cli >/dev/null 2>&1") != 0) return;
        sigrok_ = true;
        dir_ = fs::temp_directory_path() / ("pic32sim_vcd_" + std::to_string(getpid()));
        fs::create_directories(dir_);
        // Every net of the board; the card demo's dump only the nets its decoders read.
        clock_ = capture("clockdemo", {"--seconds", "3"},
                         {"-P", "i2c:scl=RD10:sda=RD9:address_format=unshifted", "-P", kUart, "-A",
                          "i2c=start:repeat-start:stop:address-read:address-write:data-read:data-write:ack:nack:warnings,"
                          "uart=rx-data:rx-warnings"});
        card_ = capture("carddemo", {"--seconds", "3", "--card", "ready", "--ready-after", "2", "--vcd-pins", kCardNets},
                        {"-P", "spi:clk=RG6:miso=RG7:mosi=RG8:cs=RB13,sdcard_spi", "-P", kUart, "-A",
                         // sdcard_spi picked by row: libsigrokdecode 0.5.3 files its R1 under the class acmd1.
                         "spi=mosi-transfer:miso-transfer:warnings,sdcard_spi,uart=rx-data:rx-warnings"});
    }
    static void TearDownTestSuite() {
        if (!dir_.empty()) fs::remove_all(dir_);
    }
    void SetUp() override {
        if (!sigrok_) GTEST_SKIP() << "sigrok-cli is not installed (scripts/install-deps.sh installs it)";
        ASSERT_EQ(clock_.error, "");
        ASSERT_EQ(card_.error, "");
    }

    static Capture capture(const std::string& image, std::vector<std::string> simArgs,
                           const std::vector<std::string>& decoders) {
        Capture c;
        fs::path vcd = dir_ / (image + ".vcd"), out = dir_ / (image + ".out"), err = dir_ / (image + ".err");
        std::vector<std::string> sim = {PIC32SIM, IMAGES_DIR "/" + image + ".elf", "--vcd", vcd.string()};
        sim.insert(sim.end(), simArgs.begin(), simArgs.end());
        if (int status = run(sim, out, err); status != 0)
            c.error = "pic32sim " + image + " exited " + std::to_string(status) + ": " + slurp(err);
        c.console = slurp(out);
        std::vector<std::string> sigrok = {"sigrok-cli", "-I", kInput, "-i", vcd.string()};
        sigrok.insert(sigrok.end(), decoders.begin(), decoders.end());
        sigrok.push_back("--protocol-decoder-jsontrace");
        fs::path json = dir_ / (image + ".json");
        if (int status = run(sigrok, json, err); status != 0)
            c.error += "sigrok-cli on " + image + ".vcd exited " + std::to_string(status) + ": " + slurp(err);
        c.decoded = annotations(slurp(json));
        c.vcd = readVcd(vcd);
        return c;
    }

    static constexpr const char* kCardNets = "RG6,RG7,RG8,RB13,U1TX";
    static inline bool sigrok_ = false;
    static inline fs::path dir_;
    static inline Capture clock_, card_;
};

std::string hex(unsigned byte) {
    char s[3];
    std::snprintf(s, sizeof s, "%02X", byte);
    return s;
}

// A transfer as sigrok's i2c decoder shows it: the address byte with its R/W bit, every byte
// acknowledged but the last one read, which the master does not acknowledge.
std::string i2cTransfer(unsigned address, const std::vector<unsigned>& bytes) {
    bool read = address & 1;
    std::string t = "START " + hex(address) + " ACK";
    for (size_t i = 0; i < bytes.size(); ++i)
        t += " " + hex(bytes[i]) + (read && i + 1 == bytes.size() ? " NACK" : " ACK");
    return t + " STOP";
}

TEST_F(Vcd, ClockDemoSetsTheClockThenReadsItEverySecond) {
    std::vector<std::string> transfers(1);
    std::vector<double> pointerWrites;
    for (const Annotation& a : clock_.decoded) {
        if (a.decoder != "i2c" || a.text == "Write" || a.text == "Read") continue;  // R/W: in the address byte
        std::smatch m;
        std::string& t = transfers.back();
        t += t.empty() ? "" : " ";
        if (a.text == "Start") t += "START";
        else if (a.text == "Stop") t += "STOP", transfers.emplace_back();
        else if (std::regex_match(a.text, m, std::regex("(Address|Data) (read|write): ([0-9A-F]{2})"))) t += m[3];
        else t += a.text;  // ACK, NACK, anything unexpected verbatim
        if (a.text == "Address write: A2" && transfers.size() > 1) pointerWrites.push_back(a.us);
    }
    transfers.pop_back();

    // 2014-01-03 02:10:05, weekday 3, BCD from register 02 (seconds) on; then per second the
    // register pointer back to 02 and the seven time registers, the seconds counting.
    std::vector<std::string> expected = {i2cTransfer(0xA2, {0x02, 0x05, 0x10, 0x02, 0x03, 0x03, 0x01, 0x14})};
    for (unsigned s = 0x05; s <= 0x07; ++s) {
        expected.push_back(i2cTransfer(0xA2, {0x02}));
        expected.push_back(i2cTransfer(0xA3, {s, 0x10, 0x02, 0x03, 0x03, 0x01, 0x14}));
    }
    EXPECT_EQ(transfers, expected);
    ASSERT_EQ(pointerWrites.size(), 3u);
    for (size_t i = 1; i < pointerWrites.size(); ++i) {
        double gap = pointerWrites[i] - pointerWrites[i - 1];
        EXPECT_TRUE(gap >= 1e6 && gap < 1.01e6) << "readouts " << gap << " us apart";
    }
}

TEST_F(Vcd, ConsoleOnU1txIsPic32simsStdout) {
    struct Case {
        const Capture& run;
        std::string begins;
    };
    for (const Case& c : {Case{clock_, "init i2c true\r\n2:10:5-3-3/1/14ok\r\n2:10:6-3-3/1/14ok\r\n"},
                          Case{card_, "init UART\r\n"}}) {
        std::string decoded;
        for (const std::string& byte : texts(c.run.decoded, "uart", "RX")) decoded += char(std::stoi(byte, nullptr, 16));
        EXPECT_EQ(c.run.console.substr(0, c.begins.size()), c.begins);
        EXPECT_EQ(decoded, c.run.console);
        EXPECT_EQ(texts(c.run.decoded, "uart", "RX warnings"), std::vector<std::string>{});
    }
}

TEST_F(Vcd, CardHandshakeCmd0ThenCmd1UntilReady) {
    // Each frame: the command as sdcard_spi names it, what crossed MOSI and MISO while the card
    // was selected (the command, a gap byte, the poll that finds R1) and sdcard_spi's R1.
    // CMD1 carries CMD0's CRC byte: the card ignores CRCs after CMD0 in SPI mode.
    const std::vector<std::string> expected = {
        "CMD0 (GO_IDLE_STATE) | 40 00 00 00 00 95 FF FF | FF FF FF FF FF FF FF 01 | R1: 0x01",
        "CMD1 (SEND_OP_COND) | 41 00 00 00 00 95 FF FF | FF FF FF FF FF FF FF 01 | R1: 0x01",
        "CMD1 (SEND_OP_COND) | 41 00 00 00 00 95 FF FF | FF FF FF FF FF FF FF 01 | R1: 0x01",
        "CMD1 (SEND_OP_COND) | 41 00 00 00 00 95 FF FF | FF FF FF FF FF FF FF 00 | R1: 0x00",
    };
    std::vector<std::string> commands, answers;
    for (const std::string& t : texts(card_.decoded, "sdcard_spi", "Commands/replies")) {
        if (t.rfind("R1:", 0) == 0) answers.push_back(t);
        else commands.push_back(t.substr(0, std::min(t.find("): "), t.size() - 1) + 1));  // without the description
    }
    std::vector<std::string> mosi = texts(card_.decoded, "spi", "MOSI transfer");
    std::vector<std::string> miso = texts(card_.decoded, "spi", "MISO transfer");
    auto nth = [](const std::vector<std::string>& v, size_t i) { return i < v.size() ? v[i] : "(none)"; };
    std::vector<std::string> frames;
    for (size_t i = 0; i < std::max({commands.size(), answers.size(), mosi.size(), miso.size()}); ++i)
        frames.push_back(nth(commands, i) + " | " + nth(mosi, i) + " | " + nth(miso, i) + " | " + nth(answers, i));
    EXPECT_EQ(frames, expected);
    EXPECT_EQ(texts(card_.decoded, "spi", "Other"), std::vector<std::string>{});
}

TEST_F(Vcd, HandshakeClockIs400kHzOnRg6) {
    const Dump& d = card_.vcd;
    EXPECT_EQ(d.names, (std::vector<std::string>{"RG6", "RG7", "RG8", "RB13", "U1TX"}));
    // The CMD0 frame: the first time the card is selected.
    uint64_t selected = 0, released = 0;
    for (auto [t, level] : d.changes.at("RB13")) {
        if (!level && !selected) selected = t;
        else if (level && selected) {
            released = t;
            break;
        }
    }
    ASSERT_LT(selected, released);
    std::vector<uint64_t> rising;
    for (auto [t, level] : d.changes.at("RG6"))
        if (level && t > selected && t < released) rising.push_back(t);
    // Eight clocks per byte; bytes follow each other with a short gap.
    ASSERT_EQ(rising.size(), 8u * 8u);
    for (size_t i = 1; i < rising.size(); ++i) {
        if (i % 8 == 0) EXPECT_GT(rising[i] - rising[i - 1], 2'500'000u) << "between bytes, edge " << i;
        else EXPECT_EQ(rising[i] - rising[i - 1], 2'500'000u) << "ps from edge " << i - 1 << " to " << i;
    }
}

}  // namespace
