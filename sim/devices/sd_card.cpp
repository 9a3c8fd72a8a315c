#include "sim/devices/sd_card.h"

#include "sim/boards/board.h"

namespace sim {

namespace {
constexpr uint8_t R1_IDLE = 0x01, R1_ILLEGAL = 0x04, R1_CRC = 0x08, R1_PARAMETER = 0x40;
}

SdCard& SdCard::insert(Board& board, const Options& options) {
    return board.add<SdCard>(board.nets, options, board.description().cardSlot);
}

SdCard::SdCard(Nets& nets, const Options& options, const SpiWiring& wiring) : options_(options) {
    if (options_.kind == Kind::Absent) return;
    select_ = &nets.get(wiring.select);
    sck_ = &nets.get(wiring.sck);
    mosi_ = &nets.get(wiring.mosi);
    miso_ = &nets.get(wiring.miso);
    misoDriver_ = miso_->addDriver();
    select_->setPull(Pull::Up);  // the card's pull-up on DAT3/CS
    selected_ = !select_->level();
    select_->listen([this](Net&, bool level) { selectChanged(level); });
    sck_->listen([this](Net&, bool level) { level ? rising() : falling(); });
}

bool SdCard::parseKind(const std::string& name, Kind& kind) {
    static const std::pair<const char*, Kind> names[] = {
        {"ready", Kind::Standard},      {"never-ready", Kind::NeverReady}, {"sdhc", Kind::SdhcReject},
        {"sdhc-idle", Kind::SdhcIdle}, {"bad-idle", Kind::BadIdle},       {"absent", Kind::Absent}};
    for (const auto& [n, k] : names)
        if (name == n) {
            kind = k;
            return true;
        }
    return false;
}

const char* SdCard::kindName(Kind kind) {
    switch (kind) {
        case Kind::Standard: return "ready";
        case Kind::NeverReady: return "never-ready";
        case Kind::SdhcReject: return "sdhc";
        case Kind::SdhcIdle: return "sdhc-idle";
        case Kind::BadIdle: return "bad-idle";
        case Kind::Absent: return "absent";
    }
    return "?";
}

void SdCard::selectChanged(bool level) {
    selected_ = !level;
    bits_ = 0;
    frameLength_ = 0;
    queue_.clear();  // a response not yet clocked out is dropped
    out_ = 0xFF;
    // Selected, the card drives its output (high while it has nothing to say).
    miso_->drive(misoDriver_, selected_ ? Drive::High : Drive::Z);
}

void SdCard::rising() {
    if (!selected_) {
        if (!firstCommand_) ++clocksBeforeFirst_;
        if (!spiMode_) ++powerUpCount_;
        return;
    }
    in_ = uint8_t(in_ << 1 | uint8_t(mosi_->level()));
    if (++bits_ < 8) return;
    bits_ = 0;
    byteReceived(in_);
    out_ = 0xFF;
    if (!queue_.empty()) {
        out_ = queue_.front();
        queue_.pop_front();
    }
}

void SdCard::falling() {
    if (!selected_) return;
    miso_->drive(misoDriver_, (out_ >> (7 - bits_)) & 1u ? Drive::High : Drive::Low);
}

void SdCard::byteReceived(uint8_t b) {
    if (frameLength_ == 0 && (b & 0xC0) != 0x40) return;  // waiting for a start and transmission bit
    frame_[frameLength_++] = b;
    if (frameLength_ == 6) {
        frameLength_ = 0;
        command();
    }
}

void SdCard::respond(std::initializer_list<uint8_t> bytes) {
    queue_.clear();
    for (unsigned i = 0; i < options_.responseDelay; ++i) queue_.push_back(0xFF);
    for (uint8_t b : bytes) queue_.push_back(b);
}

void SdCard::command() {
    const uint8_t index = frame_[0] & 0x3F;
    const uint32_t arg = uint32_t(frame_[1]) << 24 | uint32_t(frame_[2]) << 16 | uint32_t(frame_[3]) << 8 | frame_[4];
    const bool crcOk = frame_[5] == SpiAnalyser::frameCrc(frame_);
    const bool sdhc = options_.kind == Kind::SdhcReject || options_.kind == Kind::SdhcIdle;
    firstCommand_ = true;
    ++commands_;

    if (!spiMode_) {
        // Still in SD bus mode, where every command's CRC counts: only a reset that arrives
        // with CS low, after the power-up clocks, switches the card to SPI mode.
        if (index != 0 || !crcOk || powerUpCount_ < options_.powerUpClocks) return;
        spiMode_ = true;
        idle_ = true;
        initAttempts_ = 0;
        respond({options_.kind == Kind::BadIdle ? options_.cmd0Response : R1_IDLE});
        return;
    }

    const uint8_t idleBit = idle_ ? R1_IDLE : 0;
    // In SPI mode the CRC is checked for CMD0 and CMD8 only.
    if ((index == 0 || index == 8) && !crcOk) {
        respond({uint8_t(idleBit | R1_CRC)});
        return;
    }
    switch (index) {
        case 0:
            idle_ = true;
            initAttempts_ = 0;
            respond({options_.kind == Kind::BadIdle ? options_.cmd0Response : R1_IDLE});
            return;
        case 1:
            ++cmd1s_;
            switch (options_.kind) {
                case Kind::SdhcReject: respond({R1_IDLE | R1_ILLEGAL}); return;
                case Kind::NeverReady:
                case Kind::SdhcIdle: respond({R1_IDLE}); return;
                default:
                    if (idle_ && initAttempts_ < options_.busyAttempts) {
                        ++initAttempts_;
                        respond({R1_IDLE});
                        return;
                    }
                    idle_ = false;
                    respond({0x00});
                    return;
            }
        case 8:
            // Version 2 cards echo the voltage range and the check pattern (R7).
            if (sdhc)
                respond({idleBit, 0x00, 0x00, uint8_t(arg >> 8 & 0x0F), uint8_t(arg)});
            else
                respond({uint8_t(idleBit | R1_ILLEGAL)});
            return;
        case 16:
            if (idle_)
                respond({uint8_t(idleBit | R1_ILLEGAL)});
            else
                respond({uint8_t(arg >= 1 && arg <= 512 ? 0x00 : R1_PARAMETER)});
            return;
        default: respond({uint8_t(idleBit | R1_ILLEGAL)}); return;
    }
}

}  // namespace sim
