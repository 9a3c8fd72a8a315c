// The interrupt controller and the host backend's handler dispatch: order of service,
// nesting by priority, and the vector table binding.
#include <string>
#include <vector>

#include "platform/isr.h"
#include "tests/common/board_fixture.h"

namespace {

std::vector<std::string> g_log;
sim::Board* g_board = nullptr;

void clearFlag(unsigned irq) { platform::sfrWrite(platform::ifsAddress(irq) + platform::kClrOffset, 1u << (irq % 32)); }

}  // namespace

// Test handlers on otherwise unused vectors: ADC1, change notice and Timer3 to Timer5.
PLATFORM_ISR(ADC, 2, testAdcHandler) {
    g_log.push_back("adc>");
    clearFlag(sim::irq::AD1);
    g_board->intc.raise(sim::irq::CN);  // higher level: preempts this handler
    g_board->intc.raise(sim::irq::T3);  // lower level: waits until this one returns
    (void)platform::sfrRead(PORTD.address);
    g_log.push_back("<adc");
}
PLATFORM_ISR(CHANGE_NOTICE, 5, testCnHandler) {
    g_log.push_back("cn ipl=" + std::to_string(g_board->cp0.ipl()));
    clearFlag(sim::irq::CN);
}
PLATFORM_ISR(TIMER_3, 1, testT3Handler) {
    g_log.push_back("t3");
    clearFlag(sim::irq::T3);
}
PLATFORM_ISR(TIMER_4, 7, testT4Handler) {
    g_log.push_back("t4");
    clearFlag(sim::irq::T4);
}
PLATFORM_ISR(TIMER_5, 7, testT5Handler) {
    g_log.push_back("t5");
    clearFlag(sim::irq::T5);
}

namespace {

class Interrupts : public BoardTest {
protected:
    void SetUp() override {
        g_log.clear();
        g_board = &board;
        ASSERT_TRUE(runFor(0.001, [] {
            bootSequence();
            INTSetVectorPriority(INT_ADC_VECTOR, INT_PRIORITY_LEVEL_2);
            INTSetVectorPriority(INT_CHANGE_NOTICE_VECTOR, INT_PRIORITY_LEVEL_5);
            INTSetVectorPriority(INT_TIMER_3_VECTOR, INT_PRIORITY_LEVEL_1);
            INTEnable(INT_AD1, INT_ENABLED);
            INTEnable(INT_CN, INT_ENABLED);
            INTEnable(INT_T3, INT_ENABLED);
        }));
    }
    void touch() {
        ASSERT_TRUE(runFor(0.001, [] { (void)platform::sfrRead(PORTD.address); }));
    }
};

TEST_F(Interrupts, HigherLevelsNestLowerOnesWait) {
    board.intc.raise(sim::irq::AD1);
    touch();
    EXPECT_EQ(g_log, (std::vector<std::string>{"adc>", "cn ipl=5", "<adc", "t3"}));
    EXPECT_EQ(platform::host::levelMismatches(), 0u);
    EXPECT_EQ(board.cp0.ipl(), 0u);
    EXPECT_TRUE(board.cp0.status() & 1u);
}

// Timer4 (vector 16) and Timer5 (vector 20): a handler runs at the level of the request it
// serves, so the other one waits, and the order shows which the controller presented first.
TEST_F(Interrupts, ServedByPriorityThenSubPriorityThenVector) {
    struct Case {
        unsigned t4Priority, t4Sub, t5Priority, t5Sub;
        std::vector<std::string> order;
    };
    const Case cases[] = {
        {5, 0, 1, 0, {"t4", "t5"}},
        {1, 0, 5, 0, {"t5", "t4"}},
        {3, 1, 3, 2, {"t5", "t4"}},  // same level: higher sub-priority first
        {3, 2, 3, 2, {"t4", "t5"}},  // all equal: lower vector first
    };
    for (const Case& c : cases) {
        g_log.clear();
        ASSERT_TRUE(runFor(0.001, [&] {
            INTDisableInterrupts();
            INTSetVectorPriority(INT_TIMER_4_VECTOR, INT_PRIORITY(c.t4Priority));
            INTSetVectorSubPriority(INT_TIMER_4_VECTOR, INT_SUB_PRIORITY(c.t4Sub));
            INTSetVectorPriority(INT_TIMER_5_VECTOR, INT_PRIORITY(c.t5Priority));
            INTSetVectorSubPriority(INT_TIMER_5_VECTOR, INT_SUB_PRIORITY(c.t5Sub));
            INTEnable(INT_T4, INT_ENABLED);
            INTEnable(INT_T5, INT_ENABLED);
        }));
        board.intc.raise(sim::irq::T4);
        board.intc.raise(sim::irq::T5);
        auto pending = board.intc.pending();
        ASSERT_TRUE(pending);
        EXPECT_EQ(board.bus.read(INTSTAT.address) & INTSTAT_VEC.mask, pending->vector);
        ASSERT_TRUE(runFor(0.001, [] { INTEnableSystemMultiVectoredInt(); }));
        EXPECT_EQ(g_log, c.order);
    }
    EXPECT_GT(platform::host::levelMismatches(), 0u);  // bound at 7, programmed lower
}

// The controller's answer follows every register it depends on, also when the flags stay
// the same: a priority, an enable, the vector mode.
TEST_F(Interrupts, TheRequestFollowsPrioritiesEnablesAndTheVectorMode) {
    ASSERT_TRUE(runFor(0.001, [] {
        INTDisableInterrupts();
        INTEnableSystemMultiVectoredInt();
        INTDisableInterrupts();
        INTSetVectorPriority(INT_TIMER_4_VECTOR, INT_PRIORITY_LEVEL_5);
        INTSetVectorPriority(INT_TIMER_5_VECTOR, INT_PRIORITY_LEVEL_3);
        INTEnable(INT_T4, INT_ENABLED);
        INTEnable(INT_T5, INT_ENABLED);
    }));
    board.intc.raise(sim::irq::T4);
    board.intc.raise(sim::irq::T5);
    const unsigned t4 = unsigned(sim::Intc::vectorOf(sim::irq::T4)), t5 = unsigned(sim::Intc::vectorOf(sim::irq::T5));
    auto vector = [&] {
        auto r = board.intc.pending();
        return r ? int(r->vector) : -1;
    };
    EXPECT_EQ(vector(), int(t4));
    ASSERT_TRUE(runFor(0.001, [] { INTSetVectorPriority(INT_TIMER_5_VECTOR, INT_PRIORITY_LEVEL_6); }));
    EXPECT_EQ(vector(), int(t5));
    ASSERT_TRUE(runFor(0.001, [] { INTEnable(INT_T5, INT_DISABLED); }));
    EXPECT_EQ(vector(), int(t4));
    board.bus.write(INTCON.address + platform::kClrOffset, INTCON_MVEC.value);  // single-vector mode
    EXPECT_EQ(vector(), 0);
    board.intc.lower(sim::irq::T4);
    EXPECT_EQ(vector(), -1);
}

TEST_F(Interrupts, NothingIsTakenWhileDisabledOrAtAHigherLevel) {
    ASSERT_TRUE(runFor(0.001, [] { INTDisableInterrupts(); }));
    board.intc.raise(sim::irq::T3);
    touch();
    EXPECT_TRUE(g_log.empty());
    board.cp0.setStatus(board.cp0.status() | 1u | (1u << 10));  // enabled, but at level 1
    touch();
    EXPECT_TRUE(g_log.empty());
    board.cp0.setStatus(board.cp0.status() & ~(0x3Fu << 10));
    touch();
    EXPECT_EQ(g_log, (std::vector<std::string>{"t3"}));
}

// The handler runs only when CP0's entry is its vector; through the general exception
// vector (Cause.IV clear, or Status.BEV set) the run-time's exception path resets the device.
TEST_F(Interrupts, BoundHandlerRunsOnlyThroughItsVector) {
    struct Case {
        const char* name;
        void (*set)(sim::Cp0&);
    };
    const Case cases[] = {
        {"iv_clear", [](sim::Cp0& c) { c.write(sim::cp0reg::Cause, 0, 0); }},
        {"bev_set", [](sim::Cp0& c) { c.setStatus(c.status() | sim::status::BEV); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        platform::host::runtimeStartup();
        SetUp();
        size_t resets = board.resets().count();
        c.set(board.cp0);
        board.intc.raise(sim::irq::T3);
        EXPECT_FALSE(runFor(0.001, [] { (void)static_cast<uint32_t>(PORTD); }));
        EXPECT_EQ(board.resets().count(), resets + 1);
        EXPECT_TRUE(g_log.empty());
    }
}

}  // namespace
