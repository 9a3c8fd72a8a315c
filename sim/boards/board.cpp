#include "sim/boards/board.h"

namespace sim {

Board::Board(const BoardConfig& cfg)
    : desc_(boardFor(cfg.chip)),
      nets(sched, desc_.nets),
      intc(bus),
      cp0(sched, intc),
      system(bus, cfg.config),
      ports(bus, nets),
      uart1({1, irq::U1E, irq::U1RX, irq::U1TX, desc_.uart1Tx, desc_.uart1Rx}, bus, nets, sched, intc, [this] { return pbdiv(); }),
      uart2({2, irq::U2E, irq::U2RX, irq::U2TX, desc_.uart2Tx, desc_.uart2Rx}, bus, nets, sched, intc, [this] { return pbdiv(); }),
      timer2(2, irq::T2, bus, sched, intc, [this] { return pbdiv(); }),
      i2c1({1, irq::I2C1B, irq::I2C1M, desc_.i2c1Sda, desc_.i2c1Scl}, bus, nets, ports, sched, intc, [this] { return pbdiv(); }),
      spi2({2, irq::SPI2E, irq::SPI2TX, irq::SPI2RX, desc_.spi2Sck, desc_.spi2Sdi, desc_.spi2Sdo}, bus, ports, sched, intc,
           [this] { return pbdiv(); }),
      adc1(bus, sched, intc, ports, [this] { return pbdiv(); }, [this] { return sysclk_; }),
      cfg_(cfg),
      sysclk_(systemClockFromConfig(cfg.config, cfg.crystalHz)) {
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

void ResetLog::add(const ResetRecord& r) {
    ++count_;
    if (first_.size() < kKept) first_.push_back(r);
    for (auto& [cause, n] : causes_)
        if (cause == r.cause) {
            ++n;
            return;
        }
    if (causes_.size() < kCauses) causes_.push_back({r.cause, 1});
}

uint64_t ResetLog::of(const std::string& cause) const {
    for (const auto& [c, n] : causes_)
        if (c == cause) return n;
    return 0;
}

void Board::reset(const std::string& cause) {
    ResetRecord r{sched.now(), cause};
    resets_.add(r);
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
