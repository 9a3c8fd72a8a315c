// An SD card in its slot, seen from the wires: select (the card's DAT3/CS, with the card's
// own pull-up), SCK, the host's data (MOSI) and the card's data out (MISO). It takes a bit
// from MOSI on each rising edge of SCK while selected and puts its next bit on MISO on each
// falling edge; it lets MISO go while released.
#pragma once
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "sim/chip/model.h"
#include "sim/wires/net.h"
#include "sim/chip/spi.h"

namespace sim {

class Board;

class SdCard : public Model {
public:
    enum class Kind {
        Standard,    // MMC or SD version 1: initialises on CMD1
        NeverReady,  // takes CMD1 but stays idle for ever
        SdhcReject,  // SD version 2 / SDHC that rejects CMD1 as illegal (0x05)
        SdhcIdle,    // SD version 2 / SDHC that takes CMD1 but stays idle without CMD8 + ACMD41
        BadIdle,     // answers CMD0 with something other than 0x01
        Absent,      // empty slot: nothing drives MISO
    };

    struct Options {
        Kind kind = Kind::Standard;
        unsigned responseDelay = 1;   // 0xFF bytes before each response (NCR), 0..8
        unsigned busyAttempts = 0;    // CMD1s answered 0x01 (still initialising) before 0x00
        uint8_t cmd0Response = 0x00;  // BadIdle: the answer to CMD0
        unsigned powerUpClocks = 74;  // clocks with CS high the card needs before its first command
    };

    SdCard(Nets& nets, const Options& options, const SpiWiring& wiring);
    // A card in the board's card slot.
    static SdCard& insert(Board& board, const Options& options);

    // Command-line names: ready, never-ready, sdhc, sdhc-idle, bad-idle, absent.
    static bool parseKind(const std::string& name, Kind& kind);
    static const char* kindName(Kind kind);

    const Options& options() const { return options_; }
    // SCK rising edges with CS high before the first command frame (all of them while none came).
    unsigned clocksBeforeFirstCommand() const { return clocksBeforeFirst_; }
    bool spiMode() const { return spiMode_; }
    bool idle() const { return idle_; }
    unsigned commandsReceived() const { return commands_; }
    unsigned opCondCommands() const { return cmd1s_; }

    // The card keeps its power, and so its state, when the chip resets.
    void reset() override {}

private:
    Options options_;
    Net* select_ = nullptr;
    Net* sck_ = nullptr;
    Net* mosi_ = nullptr;
    Net* miso_ = nullptr;
    int misoDriver_ = -1;

    bool selected_ = false;
    unsigned clocksBeforeFirst_ = 0;
    unsigned powerUpCount_ = 0;
    bool firstCommand_ = false;
    bool spiMode_ = false;
    bool idle_ = false;
    unsigned commands_ = 0, cmd1s_ = 0, initAttempts_ = 0;

    unsigned bits_ = 0;
    uint8_t in_ = 0;
    uint8_t frame_[6] = {};
    unsigned frameLength_ = 0;
    uint8_t out_ = 0xFF;
    std::deque<uint8_t> queue_;  // bytes the card sends next

    void selectChanged(bool level);
    void rising();
    void falling();
    void byteReceived(uint8_t b);
    void command();
    void respond(std::initializer_list<uint8_t> bytes);
};

}  // namespace sim
