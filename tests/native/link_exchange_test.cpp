// One command line out, one reply line back: pacing, joining, dropping, and
// the ways an exchange ends without a reply.

#include <gtest/gtest.h>

#include "core/result_codes.h"
#include "fake_line.h"

namespace quill {
namespace {

using fake::ForcedWait;
using fake::LinkBench;
using fake::ScriptedReply;

const std::string kPing = "PNG\r";

TEST(ExchangeCommand, APromptAckIsTheReplyAfterOneWaitAndOneSettle) {
    LinkBench bench;
    bench.line.Reply(kPing, "ACK\r", 50);
    EXPECT_EQ(bench.link.ExchangeCommand(kPing), 1);
    EXPECT_EQ(bench.state.data, "ACK");
    EXPECT_EQ(bench.state.result, code::kSuccess);
    EXPECT_EQ(bench.clock.NowMs(), 100u);
    EXPECT_EQ(bench.line.AbortCount(), 1);
    EXPECT_EQ(bench.line.WrittenTexts(), std::vector<std::string>{kPing});
}

TEST(ExchangeCommand, ASilentTerminalGetsTheCommandAgainAtTheSecondTimeoutAndIsGivenUpAtTheFourth) {
    LinkBench bench;
    bench.state.data = "old";
    EXPECT_EQ(bench.link.ExchangeCommand(kPing), 0);
    EXPECT_EQ(bench.state.result, code::kTimeout);
    EXPECT_EQ(bench.state.data, "");
    ASSERT_EQ(bench.line.Writes().size(), 2u);
    EXPECT_EQ(bench.line.Writes()[0].atMs, 0u);
    EXPECT_EQ(bench.line.Writes()[1].atMs, 100u);
    EXPECT_EQ(bench.line.Writes()[1].bytes, kPing);
    EXPECT_EQ(bench.clock.NowMs(), 200u);
}

TEST(ExchangeCommand, PiecesInSeparateReadsJoinIntoOneReply) {
    LinkBench bench;
    bench.line.QueueAt(20, "AC");
    bench.line.QueueAt(90, "K\r");
    EXPECT_EQ(bench.link.ExchangeCommand(kPing), 1);
    EXPECT_EQ(bench.state.data, "ACK");
    EXPECT_EQ(bench.clock.NowMs(), 140u);
}

TEST(ExchangeCommand, AReplyTricklingInWithGapsUnderTwoTimeoutsIsWaitedFor) {
    LinkBench bench;
    bench.line.Reply(ScriptedReply{kPing, "12345\r", 20, 150});
    EXPECT_EQ(bench.link.ExchangeCommand(kPing), 1);
    EXPECT_EQ(bench.state.data, "12345");
    EXPECT_EQ(bench.line.WritesOf(kPing), 1);
    // The CR arrives at 20 + 5 * 150 and is read 50 ms later.
    EXPECT_EQ(bench.clock.NowMs(), 820u);
}

TEST(ExchangeCommand, TheFirstLineOfAReadIsTheReplyAndTheRestOfThatReadIsDropped) {
    LinkBench bench;
    bench.line.Reply(kPing, "OK\rERR\r");
    EXPECT_EQ(bench.link.ExchangeCommand(kPing), 1);
    EXPECT_EQ(bench.state.data, "OK");
    EXPECT_EQ(bench.line.QueuedCount(), 0u);
}

TEST(ExchangeCommand, BytesQueuedBeforeTheCommandGoesOutAreDroppedNotTakenAsItsReply) {
    LinkBench bench;
    bench.line.Reply(kPing, "ACK\r", 20);
    bench.line.Reply("GSN\r", "SN42\r", 20);
    bench.line.QueueAt(100, "NAK\r");
    EXPECT_EQ(bench.link.ExchangeCommand(kPing), 1);
    EXPECT_EQ(bench.state.data, "ACK");
    bench.clock.Sleep(100);
    EXPECT_EQ(bench.link.ExchangeCommand("GSN\r"), 1);
    EXPECT_EQ(bench.state.data, "SN42");
    EXPECT_EQ(bench.line.QueuedCount(), 0u);
}

TEST(ExchangeCommand, TheReplyEndsAtItsFirstNul) {
    LinkBench bench;
    bench.line.Reply(kPing, std::string("AB\0CD\r", 6));
    EXPECT_EQ(bench.link.ExchangeCommand(kPing), 1);
    EXPECT_EQ(bench.state.data, "AB");
}

TEST(ExchangeCommand, OnAClosedPortLeavesCode1SendsNothingAndKeepsTheReply) {
    LinkBench bench(false);
    bench.state.data = "old";
    EXPECT_EQ(bench.link.ExchangeCommand(kPing), 0);
    EXPECT_EQ(bench.state.result, code::kPortNotInitialised);
    EXPECT_EQ(bench.state.data, "old");
    EXPECT_TRUE(bench.line.Writes().empty());
}

TEST(ExchangeCommand, AnEmptyOrOverlongCommandLineIsNotSentAndChangesNothing) {
    for (const std::string& command : {std::string(), std::string(33, 'A')}) {
        LinkBench bench;
        bench.state.result = code::kUnknownReply;
        bench.state.data = "old";
        EXPECT_EQ(bench.link.ExchangeCommand(command), 0) << command.size() << " bytes";
        EXPECT_EQ(bench.state.result, code::kUnknownReply);
        EXPECT_EQ(bench.state.data, "old");
        EXPECT_TRUE(bench.line.Writes().empty());
    }
}

TEST(ExchangeCommand, ACommandLineOf32BytesIsSentWhole) {
    LinkBench bench;
    const std::string command = std::string(31, 'A') + "\r";
    bench.line.Reply(command, "OK\r");
    EXPECT_EQ(bench.link.ExchangeCommand(command), 1);
    EXPECT_EQ(bench.line.WrittenTexts(), std::vector<std::string>{command});
}

// ---- Input the line must not lose or overrun on.

TEST(ExchangeCommand, AReplyLongerThanOneReadIsTakenInOnePassWithoutWaitingAgain) {
    LinkBench bench;
    const std::string reply(300, 'x');
    bench.line.Reply(kPing, reply + "\r", 20);
    EXPECT_EQ(bench.link.ExchangeCommand(kPing), 1);
    EXPECT_EQ(bench.state.data, reply);
    EXPECT_EQ(bench.clock.NowMs(), 70u);
    // A look at the queue before the command goes out, then one pass.
    ASSERT_EQ(bench.line.Reads().size(), 3u);
    EXPECT_EQ(bench.line.Reads()[0].count, 0u);
    EXPECT_EQ(bench.line.Reads()[1].count, 256u);
    EXPECT_EQ(bench.line.Reads()[2].count, 45u);
}

TEST(ExchangeCommand, BytesBeyondTheReadHoldingTheReplyStayQueued) {
    LinkBench bench;
    bench.line.Reply(kPing, "ACK\r" + std::string(300, 'y'));
    EXPECT_EQ(bench.link.ExchangeCommand(kPing), 1);
    EXPECT_EQ(bench.state.data, "ACK");
    EXPECT_EQ(bench.line.QueuedCount(), 304u - 256u);
}

TEST(ExchangeCommand, AReplyOf1023BytesFitsTheReplyBuffer) {
    LinkBench bench;
    const std::string reply(1023, 'z');
    bench.line.Reply(kPing, reply + "\r");
    EXPECT_EQ(bench.link.ExchangeCommand(kPing), 1);
    EXPECT_EQ(bench.state.data, reply);
}

TEST(ExchangeCommand, AnOverlongReplyIsConsumedToItsCrAndRefusedWithCode9) {
    LinkBench bench;
    bench.line.Reply(kPing, std::string(1100, 'z') + "\r");
    bench.line.Reply("GSN\r", "SN42\r");
    EXPECT_EQ(bench.link.ExchangeCommand(kPing), 0);
    EXPECT_EQ(bench.state.result, code::kTransferError);
    EXPECT_EQ(bench.state.data, "");
    EXPECT_EQ(bench.link.ExchangeCommand("GSN\r"), 1);
    EXPECT_EQ(bench.state.data, "SN42");
}

TEST(ExchangeCommand, AFailedWaitEndsTheExchangeAtOnceWithCode5) {
    LinkBench bench;
    bench.line.Reply(kPing, "ACK\r");
    bench.line.ForceWaits({ForcedWait::Failed});
    EXPECT_EQ(bench.link.ExchangeCommand(kPing), 0);
    EXPECT_EQ(bench.state.result, code::kPortError);
    EXPECT_EQ(bench.state.data, "");
    EXPECT_EQ(bench.clock.NowMs(), 0u);
}

TEST(ExchangeCommand, FourSignalsInARowWithNothingQueuedEndTheExchangeAsATimeout) {
    LinkBench bench;
    bench.line.ForceWaits({ForcedWait::ReceivedEmpty, ForcedWait::ReceivedEmpty, ForcedWait::ReceivedEmpty,
                           ForcedWait::ReceivedEmpty, ForcedWait::ReceivedEmpty});
    EXPECT_EQ(bench.link.ExchangeCommand(kPing), 0);
    EXPECT_EQ(bench.state.result, code::kTimeout);
    EXPECT_EQ(bench.clock.NowMs(), 200u);
    EXPECT_EQ(bench.line.WritesOf(kPing), 1);
}

TEST(ExchangeCommand, SignalsWithNothingQueuedLeaveTheTimeoutCountAlone) {
    LinkBench bench;
    bench.line.ForceWaits({ForcedWait::ReceivedEmpty, ForcedWait::ReceivedEmpty, ForcedWait::ReceivedEmpty});
    EXPECT_EQ(bench.link.ExchangeCommand(kPing), 0);
    EXPECT_EQ(bench.state.result, code::kTimeout);
    // Three empty passes of 50 ms, then the four time-outs of a silent terminal.
    EXPECT_EQ(bench.clock.NowMs(), 150u + 200u);
    ASSERT_EQ(bench.line.Writes().size(), 2u);
    EXPECT_EQ(bench.line.Writes()[1].atMs, 250u);
}

TEST(ExchangeCommand, BytesArrivingRestartTheCountOfEmptySignals) {
    LinkBench bench;
    const auto empty = ForcedWait::ReceivedEmpty;
    const auto natural = ForcedWait::Natural;
    bench.line.QueueAt(160, "AC");
    bench.line.QueueAt(400, "K\r");
    bench.line.ForceWaits({empty, empty, empty, natural, empty, empty, empty});
    EXPECT_EQ(bench.link.ExchangeCommand(kPing), 1);
    EXPECT_EQ(bench.state.data, "ACK");
}

}  // namespace
}  // namespace quill
