#include "sim/boards/board.h"

namespace sim {

Board::Board(const BoardConfig& cfg)
    : nets(sched),
      intc(bus),
      cp0(sched, intc),
      system(bus, cfg.config),
      ports(bus, nets),
      uart1({1, 0xBF806000, irq::U1E, irq::U1RX, irq::U1TX}, bus, nets, sched, intc, [this] { return pbdiv(); }),
      uart2({2, 0xBF806200, irq::U2E, irq::U2RX, irq::U2TX}, bus, nets, sched, intc, [this] { return pbdiv(); }),
      timer2(2, 0xBF800800, irq::T2, bus, sched, intc, [this] { return pbdiv(); }),
      i2c1({1, 0xBF805000, irq::I2C1B, irq::I2C1M, 'D', 9, 10}, bus, nets, ports, sched, intc,
           [this] { return pbdiv(); }),
      spi2({2, 0xBF805A00, irq::SPI2E, irq::SPI2TX, irq::SPI2RX, 'G', 6, 7, 8}, bus, ports, sched, intc,
           [this] { return pbdiv(); }),
      adc1(bus, sched, intc, ports, [this] { return pbdiv(); }, [this] { return sysclk_; }),
      cfg_(cfg),
      sysclk_(systemClockFromConfig(cfg.config, cfg.crystalHz)) {
    // The SD slot's pull-up on SDI2: with no card, or a card released, the line reads 1.
    nets.get("RG7").setPull(Pull::Up);
    system.onSoftwareReset = [this] { softwareReset(); };
    system.onClockChange = [this] {
        for (Model* m : models()) m->clockChanged();
    };
}

std::vector<Model*> Board::models() {
    std::vector<Model*> all{&intc, &cp0, &system, &ports, &uart1, &uart2, &timer2, &i2c1, &spi2, &adc1};
    for (auto& m : extra_) all.push_back(m.get());
    return all;
}

void Board::softwareReset() {
    ResetRecord r{sched.now(), "software reset"};
    resets_.push_back(r);
    bus.resetAll();
    for (Model* m : models()) m->reset();
    resetListeners.notify(r);
}

void Board::stopAt(Cycles at) {
    if (stopEvent_) sched.cancel(stopEvent_);
    stopEvent_ = sched.at(at, [this] {
        stopEvent_ = 0;
        stopListeners.notify();
    });
}

}  // namespace sim
