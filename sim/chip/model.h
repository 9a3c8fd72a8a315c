#pragma once

namespace sim {

class Board;

// A peripheral or device on the virtual board. Registers declared on the bus are reset by
// the bus; reset() clears the model's own state (buffers, shift registers, schedules).
class Model {
public:
    virtual ~Model() = default;
    virtual void reset() {}
    // The peripheral bus clock changed (OSCCON.PBDIV): timing that depends on it rebases.
    virtual void clockChanged() {}
};

}  // namespace sim
