// I/O ports A to G: TRIS, PORT, LAT and ODC per port, each pin a net of the board.
// Port B pins are analog inputs while their AD1PCFG bit is 0 (the reset state).
#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "sim/chip/model.h"
#include "sim/wires/net.h"
#include "sim/chip/sfr_bus.h"

namespace sim {

class Ports : public Model {
public:
    static constexpr unsigned kPorts = 7;  // A..G

    Ports(SfrBus& bus, Nets& nets);

    static std::string pinName(char port, unsigned bit) { return std::string("R") + port + std::to_string(bit); }
    Net& pin(char port, unsigned bit) { return *pins_[port - 'A'][bit]; }
    bool analog(char port, unsigned bit) const { return port == 'B' && !ad1pcfg_->bit(bit); }
    // Level the PORT register reads for this pin.
    bool readPin(char port, unsigned bit) const;

    // A peripheral takes the pin over: the port's own driver lets go of it while claimed.
    void claim(char port, unsigned bit, bool claimed);

    void reset() override;

private:
    struct Port {
        Register* tris;
        Register* port;
        Register* lat;
        Register* odc;
    };
    std::array<Port, kPorts> ports_{};
    std::array<std::array<Net*, 16>, kPorts> pins_{};
    std::array<std::array<int, 16>, kPorts> driver_{};
    std::array<uint16_t, kPorts> claimed_{};
    Register* ad1pcfg_;
    void update(unsigned k);
};

}  // namespace sim
