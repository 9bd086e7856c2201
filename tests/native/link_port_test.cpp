// Opening and closing the port, and the infrared adapter of the cradle.

#include <gtest/gtest.h>

#include "core/result_codes.h"
#include "fake_line.h"

namespace quill {
namespace {

using fake::AdapterModel;
using fake::ForcedWait;
using fake::LinkBench;

constexpr uint8_t kProbe = 0x0F;

ConnectionSettings WithAdapter() { return ConnectionSettings{0, 0, 1}; }

TEST(OpenPort, OpensTheChosenPortAtTheChosenSpeedWithRtsRaised) {
    LinkBench bench(false);
    EXPECT_EQ(bench.link.OpenPort(ConnectionSettings{2, 1, 0}), 1);
    EXPECT_EQ(bench.state.result, code::kSuccess);
    EXPECT_TRUE(bench.link.IsOpen());
    EXPECT_EQ(bench.line.OpenedNames(), std::vector<std::string>{"COM3"});
    ASSERT_EQ(bench.line.Configured().size(), 1u);
    EXPECT_EQ(bench.line.Configured()[0].baudRate, 57600u);
    EXPECT_TRUE(bench.line.Configured()[0].rtsHigh);
    EXPECT_TRUE(bench.line.Writes().empty());
    EXPECT_TRUE(bench.line.Reconfigures().empty());
}

TEST(OpenPort, EachOpenTakesThePaceFromTheFastExchangeFlag) {
    const struct {
        const char* sentence;
        int32_t flag;
        Pace pace;
    } cases[] = {
        {"0 keeps the standard pace", 0, Pace::Standard},
        {"1 is the fast pace", 1, Pace::Fast},
        {"any other value keeps the standard pace", 2, Pace::Standard},
    };
    LinkBench bench(false);
    EXPECT_EQ(bench.link.pace(), Pace::Standard) << "before any open";
    for (const auto& c : cases) {
        EXPECT_EQ(bench.link.OpenPort(ConnectionSettings{0, 0, 0, c.flag}), 1) << c.sentence;
        EXPECT_EQ(bench.link.pace(), c.pace) << c.sentence;
    }
}

struct PortCase {
    int32_t port;
    const char* name;
};

TEST(OpenPort, PortIndexNamesThePortAndAnythingOutOfRangeOpensCom1) {
    for (const PortCase& c : {PortCase{0, "COM1"}, PortCase{15, "COM16"}, PortCase{16, "COM17"},
                              PortCase{255, "COM256"}, PortCase{256, "COM1"}, PortCase{-1, "COM1"}}) {
        LinkBench bench(false);
        bench.link.OpenPort(ConnectionSettings{c.port, 0, 0});
        EXPECT_EQ(bench.line.OpenedNames(), std::vector<std::string>{c.name}) << "port index " << c.port;
    }
}

struct SpeedCase {
    int32_t speed;
    uint32_t baud;
};

TEST(OpenPort, SpeedIndexGivesTheBaudRateAndAnythingOutOfRangeGives9600) {
    for (const SpeedCase& c : {SpeedCase{0, 115200}, SpeedCase{4, 9600}, SpeedCase{5, 4800},
                               SpeedCase{6, 2400}, SpeedCase{7, 9600}, SpeedCase{-1, 9600}}) {
        LinkBench bench(false);
        bench.link.OpenPort(ConnectionSettings{0, c.speed, 0});
        ASSERT_EQ(bench.line.Configured().size(), 1u);
        EXPECT_EQ(bench.line.Configured()[0].baudRate, c.baud) << "speed index " << c.speed;
    }
}

TEST(OpenPort, APortThatCannotBeOpenedLeavesCode2AndTheLinkClosed) {
    LinkBench bench(false);
    bench.line.failOpen = true;
    EXPECT_EQ(bench.link.OpenPort(ConnectionSettings{}), 0);
    EXPECT_EQ(bench.state.result, code::kCannotOpenPort);
    EXPECT_FALSE(bench.link.IsOpen());
    EXPECT_TRUE(bench.line.Configured().empty());
}

TEST(OpenPort, RejectedLineSettingsCloseThePortAndLeaveCode3) {
    LinkBench bench(false);
    bench.line.failConfigure = true;
    EXPECT_EQ(bench.link.OpenPort(ConnectionSettings{}), 0);
    EXPECT_EQ(bench.state.result, code::kCannotConfigurePort);
    EXPECT_FALSE(bench.link.IsOpen());
    EXPECT_EQ(bench.line.CloseCount(), 1);
}

TEST(OpenPort, OnAnOpenPortClosesItFirstAndReopensWithTheSettingsAsTheyAreNow) {
    LinkBench bench;
    EXPECT_EQ(bench.link.OpenPort(ConnectionSettings{1, 4, 0}), 1);
    EXPECT_FALSE(bench.line.OpenedWhileOpen());
    EXPECT_EQ(bench.line.CloseCount(), 1);
    EXPECT_EQ(bench.line.OpenedNames().back(), "COM2");
    EXPECT_EQ(bench.line.Configured().back().baudRate, 9600u);
    EXPECT_TRUE(bench.link.IsOpen());
}

TEST(ClosePort, ClosesAnOpenPortAndLeavesCode0) {
    LinkBench bench;
    bench.state.result = code::kTimeout;
    bench.link.ClosePort();
    EXPECT_FALSE(bench.link.IsOpen());
    EXPECT_EQ(bench.state.result, code::kSuccess);
    EXPECT_EQ(bench.line.CloseCount(), 1);
}

TEST(ClosePort, OnAClosedPortLeavesCode0AndChangesNothingElse) {
    LinkBench bench(false);
    bench.state.result = code::kCannotOpenPort;
    bench.state.data = "kept";
    bench.link.ClosePort();
    EXPECT_EQ(bench.state.result, code::kSuccess);
    EXPECT_EQ(bench.state.data, "kept");
    EXPECT_EQ(bench.line.CloseCount(), 0);
}

// ---- Infrared adapter.

std::vector<uint32_t> ProbedRates(const fake::FakeLine& line) {
    std::vector<uint32_t> rates;
    for (const fake::WriteRecord& write : line.Writes())
        if (write.bytes == std::string(1, kProbe)) {
            EXPECT_FALSE(write.settings.rtsHigh) << "probe written with RTS high";
            rates.push_back(write.settings.baudRate);
        }
    return rates;
}

// The adapter's set-up keeps its timings at either pace.
class AdapterAtEitherPace : public ::testing::TestWithParam<int32_t> {};
INSTANTIATE_TEST_SUITE_P(InfraredAdapter, AdapterAtEitherPace, ::testing::Values(0, 1),
                         [](const auto& info) { return info.param == 1 ? "Fast" : "Standard"; });

TEST_P(AdapterAtEitherPace, AnswerAtTheFirstRateTakesEightHundredMillisecondsInThisOrder) {
    LinkBench bench(false);
    bench.line.AttachAdapter(AdapterModel{9600});
    EXPECT_EQ(bench.link.OpenPort(ConnectionSettings{0, 0, 1, GetParam()}), 1);
    EXPECT_EQ(bench.state.result, code::kSuccess);
    EXPECT_EQ(bench.clock.NowMs(), 800u);

    struct Step {
        uint32_t baud;
        bool rtsHigh;
        uint64_t atMs;
    };
    const std::vector<Step> expected = {
        {115200, true, 0},    // both lines raised at the speed of the open
        {9600, false, 100},   // probe at 9600 with RTS low
        {9600, true, 250},    // echo at 200, read at 250; RTS high again
        {9600, false, 450},   // 100 ms to settle, 100 more: RTS low for the switching bytes
        {115200, true, 700},  // after the three bytes: terminal speed, RTS high
    };
    ASSERT_EQ(bench.line.Reconfigures().size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const fake::ReconfigureRecord& actual = bench.line.Reconfigures()[i];
        EXPECT_EQ(actual.settings.baudRate, expected[i].baud) << "step " << i;
        EXPECT_EQ(actual.settings.rtsHigh, expected[i].rtsHigh) << "step " << i;
        EXPECT_EQ(actual.atMs, expected[i].atMs) << "step " << i;
    }

    const std::vector<std::string> switching = {"\x07", "\x36", "\x51"};
    ASSERT_EQ(bench.line.Writes().size(), 4u);
    for (size_t i = 0; i < switching.size(); ++i) {
        const fake::WriteRecord& write = bench.line.Writes()[i + 1];
        EXPECT_EQ(write.bytes, switching[i]);
        EXPECT_EQ(write.atMs, 550u + 50 * i);
        EXPECT_EQ(write.settings.baudRate, 9600u);
        EXPECT_FALSE(write.settings.rtsHigh);
    }
    EXPECT_EQ(bench.line.Current().baudRate, 115200u);
    EXPECT_TRUE(bench.line.Current().rtsHigh);
}

TEST(InfraredAdapter, AnAdapterAt38400IsFoundAfterTwoFailedProbesAndSwitchedOverAtThatRate) {
    LinkBench bench(false);
    bench.line.AttachAdapter(AdapterModel{38400});
    EXPECT_EQ(bench.link.OpenPort(ConnectionSettings{0, 4, 1}), 1);
    EXPECT_EQ(ProbedRates(bench.line), (std::vector<uint32_t>{9600, 115200, 38400}));
    const auto& writes = bench.line.Writes();
    ASSERT_EQ(writes.size(), 6u);
    for (size_t i = 3; i < 6; ++i) {
        EXPECT_EQ(writes[i].settings.baudRate, 38400u);
        EXPECT_FALSE(writes[i].settings.rtsHigh);
    }
    EXPECT_EQ(writes[3].bytes + writes[4].bytes + writes[5].bytes, "\x07\x36\x51");
    EXPECT_EQ(bench.line.Current().baudRate, 115200u);
    EXPECT_TRUE(bench.line.Current().rtsHigh);
    EXPECT_EQ(bench.clock.NowMs(), 1300u);
    EXPECT_EQ(bench.link.adapterRate(), 38400u) << "the rate it answered at is known";

    EXPECT_EQ(bench.link.OpenPort(ConnectionSettings{0, 4, 0}), 1);
    EXPECT_EQ(bench.link.adapterRate(), 0u) << "an open on the cable has no adapter rate";
}

TEST(InfraredAdapter, NoAnswerAtAnyRateTriesAllFiveInOrderThenClosesWithCode4) {
    LinkBench bench(false);
    EXPECT_EQ(bench.link.OpenPort(WithAdapter()), 0);
    EXPECT_EQ(bench.state.result, code::kCannotConfigureIrAdapter);
    EXPECT_FALSE(bench.link.IsOpen());
    EXPECT_EQ(ProbedRates(bench.line), (std::vector<uint32_t>{9600, 115200, 38400, 57600, 19200}));
    EXPECT_EQ(bench.line.DiscardCount(), 5);
    EXPECT_EQ(bench.clock.NowMs(), 1350u);
}

struct EchoCase {
    const char* sentence;
    std::string echo;
};

TEST(InfraredAdapter, AProbeFailsUnlessExactlyTheProbeByteComesBack) {
    const EchoCase cases[] = {
        {"two bytes", std::string("\x0F\x0F")},
        {"another byte", std::string("\x0E")},
        {"five bytes, of which four are read", std::string(5, '\x0F')},
    };
    for (const EchoCase& c : cases) {
        LinkBench bench(false);
        bench.line.AttachAdapter(AdapterModel{9600, c.echo});
        EXPECT_EQ(bench.link.OpenPort(WithAdapter()), 0) << c.sentence;
        EXPECT_EQ(bench.state.result, code::kCannotConfigureIrAdapter) << c.sentence;
        ASSERT_FALSE(bench.line.Reads().empty()) << c.sentence;
        EXPECT_EQ(bench.line.Reads()[0].capacity, 4u) << c.sentence;
    }
}

TEST(InfraredAdapter, AFailedWaitFailsThatProbeAndTheSetUpGoesOnToTheNextRate) {
    LinkBench bench(false);
    bench.line.AttachAdapter(AdapterModel{9600});
    bench.line.ForceWaits({ForcedWait::Failed});
    EXPECT_EQ(bench.link.OpenPort(WithAdapter()), 0);
    EXPECT_EQ(bench.state.result, code::kCannotConfigureIrAdapter);
    EXPECT_EQ(ProbedRates(bench.line), (std::vector<uint32_t>{9600, 115200, 38400, 57600, 19200}));
}

}  // namespace
}  // namespace quill
