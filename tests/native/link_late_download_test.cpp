// A download whose command is answered within the exchange's four waits,
// after a call that had to write its command twice to a terminal that needs
// a moment after each reply (deaf for 30 ms, as the end-to-end
// `BusyTerminal` terminal). Found end to end on a busy machine at the fast
// pace, before the link's owed replies were reworked: the call first waited
// two silent waits for the reply still owed to the previous call's unheard
// copy, then wrote GDF1 once and gave up with code 8 two waits later, before
// the terminal's answer came 150 to 190 ms after that GDF1. On this line:
// GDF1 at 0 (R0 at 1), at 1 (unheard) and at 101 (R1 at 102); the third
// call wrote GDF1 at 202, not at 102, and gave up at 302; R2 came at 352.
// No record was lost (the next call handed R2 out), but a reply within
// 200 ms of its command is the exchange's to take, as at the standard pace.

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/result_codes.h"
#include "fake_line.h"
#include "record_lines.h"

namespace quill {
namespace {

using fake::LinkBench;
using fake::ReceivedLine;

std::string Record(int i) { return "R" + std::to_string(i); }

// Document 1 as the simulator plays it: GDF1 is answered with the next
// record (OVER after the last), the place moving on with the next line
// heard; deaf for 30 ms after the last byte of each reply; the k-th line it
// hears (from 0) answered `lateMs[k]` after it arrived, 1 ms when the table
// has no entry for it, and never before the reply to a line before it.
class BusyDocument {
public:
    BusyDocument(LinkBench& bench, int records, std::vector<uint32_t> lateMs)
        : bench_(bench), records_(records), lateMs_(std::move(lateMs)) {
        bench_.line.onWrite = [this](const std::string& bytes) { Hear(bytes); };
    }

private:
    static constexpr uint32_t kDeafMs = 30;
    static constexpr uint32_t kPromptMs = 1;

    void Hear(const std::string& bytes) {
        const uint64_t now = bench_.clock.NowMs();
        if (lastReplyAtMs_ && now >= *lastReplyAtMs_ && now < *lastReplyAtMs_ + kDeafMs) return;
        const size_t heard = heard_++;
        if (bytes != "GDF1\r") return;
        const uint32_t late = heard < lateMs_.size() ? lateMs_[heard] : kPromptMs;
        const std::string line = place_ < records_ ? ReceivedLine(Record(place_)) : "OVER\r";
        if (place_ < records_) ++place_;
        lastReplyAtMs_ = std::max<uint64_t>(now + late, lastReplyAtMs_.value_or(0));  // in the order of the lines
        bench_.line.QueueAt(*lastReplyAtMs_, line);
    }

    LinkBench& bench_;
    const int records_;
    const std::vector<uint32_t> lateMs_;
    size_t heard_ = 0;
    int place_ = 0;
    std::optional<uint64_t> lastReplyAtMs_;
};

TEST(BusyTerminal, ACommandAnsweredWithinItsFourWaitsIsTakenAfterACallThatWroteItsCommandTwice) {
    for (const Pace pace : {Pace::Standard, Pace::Fast}) {
        SCOPED_TRACE(pace == Pace::Fast ? "fast" : "standard");
        LinkBench bench(true, pace);
        // The first call's GDF1 is answered at once; the second call's,
        // written at once after that reply, goes unheard, and its copy is
        // answered at once; the third call's GDF1 (the third line heard) is
        // answered 150 ms after it arrived.
        BusyDocument terminal(bench, 4, {1, 1, 150});
        // Pulled to the end as a script does, a failed call repeated.
        std::vector<std::string> pulled;
        for (int call = 0; call < 8; ++call) {
            const uint64_t startMs = bench.clock.NowMs();
            const int32_t got = bench.link.GetDocumentRecord(1);
            if (got == 0) break;
            EXPECT_EQ(got, 1) << "call " << call << " from " << startMs << " ms, code " << bench.state.result;
            if (got == 1) pulled.push_back(bench.state.data);
        }
        std::string writes;
        for (const auto& write : bench.line.Writes()) writes += " " + std::to_string(write.atMs);
        EXPECT_EQ(pulled, (std::vector<std::string>{"R0", "R1", "R2", "R3"})) << "GDF1 written at (ms)" << writes;
    }
}

}  // namespace
}  // namespace quill
