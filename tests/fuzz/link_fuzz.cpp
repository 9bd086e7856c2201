// The receive path under whatever the line may do: the fuzzer picks the
// operations, the time between them, the pace of each open, the outcome of
// waits, and either raw bytes at chosen times or how a terminal that answers
// every line in turn delays, splits, drops, prefixes or garbles its replies
// (a record with a wrong checksum byte, an upload's ACK or NAK with a flipped
// bit, an upload refused). Checked after every operation:
//   - it ended in bounded virtual time, with a known result code, and its
//     texts fit their buffers (reads and writes inside buffers: the
//     sanitizers);
//   - with the terminal model, while every reply arrives within the time a
//     reply is waited for: a download hands out only records of its own
//     store, each once and in order, and skips one only where a download of
//     that store failed with code 9 since its last record, one such failure
//     for each record skipped (or the store was cleared); a query's reply
//     answers a command that same call
//     wrote; an upload that says stored was stored, and stored once unless
//     the terminal acknowledged a copy later than a second copy goes out or
//     the database's count may not have been read (its GRC line missed or
//     answered late, waits forced, or a database without one).

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "component/extension_tables.h"
#include "core/numbers.h"
#include "core/result_codes.h"
#include "fake_line.h"
#include "link/protocol.h"
#include "record_lines.h"

namespace quill::fuzz {
namespace {

using fake::LinkBench;

// The longest one operation may take: an upload's. Settling what is owed and
// a receive loop, each a pass over, for the database's count, for the
// announcement and for the copies; then, after each of up to four failed
// attempts, what is owed, the count read twice, the announcement again and
// a receive loop for the next copy, each line after a settle.
constexpr uint64_t kPassMs = protocol::kInputWaitMs + protocol::kSettleBeforeReadMs;
constexpr uint64_t kExchangeBoundMs = protocol::kLateReplyLimitMs + kPassMs + protocol::kReceiveLimitMs + kPassMs;
constexpr uint64_t kOperationBoundMs =
    3 * kExchangeBoundMs +
    protocol::kFailedAttemptsBeforeGivingUp * (4 * (kExchangeBoundMs + protocol::kSettleBeforeReadMs));
// A reply whose CR arrives later than this after its line is beyond what
// the link promises to attribute right.
constexpr uint64_t kPromisedReplyMs = protocol::kLateReplyLimitMs - kPassMs;
// An acknowledgement later than this may meet a second copy of the record.
constexpr uint64_t kSecondCopyAfterMs = protocol::kSilentWaitsBeforeNextCopy * protocol::kInputWaitMs;
// A count answered within this is read by the exchange that asked for it.
constexpr uint64_t kPromptCountMs = protocol::kInputWaitMs - 10;

// QUILL_FUZZ_TRACE=1 prints every operation, write and arrival of a run
// (for replaying one input).
const bool kTrace = std::getenv("QUILL_FUZZ_TRACE") != nullptr;

std::string Printable(const std::string& bytes) {
    std::string out;
    for (char c : bytes) {
        const auto b = static_cast<uint8_t>(c);
        if (b >= 0x20 && b < 0x7F) {
            out += c;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", b);
            out += hex;
        }
    }
    return out;
}

void Require(bool holds, const char* invariant) {
    if (holds) return;
    std::fprintf(stderr, "broken: %s\n", invariant);
    std::abort();
}

bool StartsWith(const std::string& text, const std::string& prefix) { return text.compare(0, prefix.size(), prefix) == 0; }

// A terminal that answers every line written to it with one line, in turn,
// each after a delay the fuzzer picks; it may also ignore a line altogether.
class ModelTerminal {
public:
    ModelTerminal(LinkBench& bench, FuzzedDataProvider& fuzz) : bench_(bench), fuzz_(fuzz) {
        for (int n = 0; n <= 9; ++n) Fill("D", n);
        for (int n = 1; n <= 3; ++n) Fill("B", n);
        bench_.line.onWrite = [this](const std::string& bytes) { Answer(bytes); };
    }

    // Set once a reply came later than the link promises to place it, or
    // was cut by closing the port while it came in.
    bool beyondPromise = false;
    bool ReplyComingIn() const { return lastReplyEndMs_ > bench_.clock.NowMs(); }
    // Set once an acknowledgement came late enough to meet a second copy.
    bool lateAcknowledgement = false;
    std::map<std::string, int> stored;  // copies of each uploaded record, by its first field
    // Per database: since the last open or clearing, a GRC line was missed
    // or answered late, so the link may have no count to go by.
    std::map<std::string, bool> countMayBeUnread;
    void PortOpened() { countMayBeUnread.clear(); }

private:
    struct Store {
        int size = 0;
        int place = 0;
        int loaded = 0;  // records stored by uploads (databases)
    };

    void Fill(const std::string& letter, int n) { stores_[letter + std::to_string(n)].size = fuzz_.ConsumeIntegralInRange(0, 4); }

    void Answer(const std::string& bytes) {
        const size_t written = bench_.line.Writes().size() - 1;
        std::string line = bytes;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const bool countLine = line.compare(0, 3, "GRC") == 0;
        if (fuzz_.ConsumeIntegralInRange(0, 15) == 0) {  // never saw the line
            if (countLine) countMayBeUnread[line.substr(3)] = true;
            if (kTrace) std::fprintf(stderr, "  write #%zu \"%s\" lost\n", written, Printable(bytes).c_str());
            return;
        }
        const std::string reply = Garbled(ReplyTo(line, written));
        // Mostly within what the link promises to place right, now and then beyond.
        const uint32_t longest = fuzz_.ConsumeIntegralInRange(0, 7) == 0 ? 360 : 240;
        const uint32_t delay = fuzz_.ConsumeIntegralInRange<uint32_t>(0, longest);
        const uint32_t gap = fuzz_.ConsumeIntegralInRange<uint32_t>(0, 2);
        const uint64_t now = bench_.clock.NowMs();
        const uint64_t start = std::max(now + delay, lastReplyEndMs_);
        lastReplyEndMs_ = start + gap * reply.size();
        if (lastReplyEndMs_ > now + kPromisedReplyMs) beyondPromise = true;
        if (answeredLoadRecord_ && lastReplyEndMs_ > now + kSecondCopyAfterMs) lateAcknowledgement = true;
        if (countLine && lastReplyEndMs_ > now + kPromptCountMs) countMayBeUnread[line.substr(3)] = true;
        bench_.line.QueueAt(start, reply, gap);
        if (kTrace)
            std::fprintf(stderr, "  %llu write #%zu \"%s\" -> at %llu gap %u \"%s\"\n", (unsigned long long)now,
                         written, Printable(bytes).c_str(), (unsigned long long)start, gap, Printable(reply).c_str());
    }

    std::string ReplyTo(const std::string& line, size_t written) {
        static const std::set<std::string> kCommands = {"PNG", "GFM", "GSN", "GST", "SST", "GCS", "GDC", "GRC",
                                                        "CDC", "CDB", "GDF", "GDB", "PDB", "OVE", "NAK"};
        const std::string letters = line.substr(0, 3);
        const std::string number = line.size() > 3 ? line.substr(3) : "";
        answeredLoadRecord_ = loading_ && kCommands.count(letters) == 0;
        if (answeredLoadRecord_) {
            // Mostly stored; now and then refused as if its checksum failed.
            if (fuzz_.ConsumeIntegralInRange(0, 7) == 0) return last_ = "NAK\r";
            ++stored[line.substr(0, line.find('\t'))];
            ++stores_["B" + loadDatabase_].loaded;
            return last_ = "ACK\r";
        }
        if (letters != "NAK") loading_ = false;
        if (line == "NAK") return last_;
        if (letters == "PNG" || line == "OVER") return last_ = "ACK\r";
        if (letters == "GSN" || letters == "GCS") return last_ = "W" + std::to_string(written) + "\r";
        if (letters == "GFM") return last_ = std::to_string(written) + "\r";
        if (letters == "GST") return last_ = std::string(14 - std::to_string(written).size(), '0') + std::to_string(written) + "\r";
        if (letters == "SST") return last_ = "OK\r";
        if (letters == "GDC") return last_ = std::to_string(stores_["D" + number].size) + "\r";
        if (letters == "GRC") {
            const Store& store = stores_["B" + number];
            return last_ = std::to_string(store.size + store.loaded) + "\r";
        }
        if (letters == "CDC" || letters == "CDB") {
            Store& store = stores_[(letters == "CDC" ? "D" : "B") + number];
            store.place = store.size;
            store.loaded = 0;
            if (letters == "CDB") countMayBeUnread.erase(number);
            return last_ = "OK\r";
        }
        if (letters == "GDF" || letters == "GDB") return last_ = NextRecord((letters == "GDF" ? "D" : "B") + number);
        if (letters == "PDB") {
            loading_ = true;
            loadDatabase_ = number;
            return last_ = "ACK\r";
        }
        return last_ = "ERR\r";
    }

    // Now and then a record goes out with a wrong checksum byte, and an
    // upload's ACK or NAK with one bit of a letter flipped; the CR is never
    // touched.
    std::string Garbled(std::string reply) {
        if (fuzz_.ConsumeIntegralInRange(0, 7) != 0) return reply;
        const size_t record = reply.compare(0, 4, "ACK\r") == 0 ? 4 : 0;
        if (reply.size() > record + 3 && reply[record] == '#') {
            char& low = reply[reply.size() - 3];
            low = static_cast<char>(low ^ ((low ^ 0x01) == '\r' ? 0x02 : 0x01));
        } else if (answeredLoadRecord_) {
            const size_t letter = fuzz_.ConsumeIntegralInRange<size_t>(0, 2);
            reply[letter] = static_cast<char>(reply[letter] ^ (1 << fuzz_.ConsumeIntegralInRange(0, 6)));
        }
        return reply;
    }

    std::string NextRecord(const std::string& name) {
        Store& store = stores_[name];
        if (store.place >= store.size) return fuzz_.ConsumeBool() ? "OVER\r" : "ACKOVER\r";
        const std::string record = fake::ReceivedLine(name + "-" + std::to_string(store.place++));
        return fuzz_.ConsumeBool() ? record : "ACK\r" + record;
    }

    LinkBench& bench_;
    FuzzedDataProvider& fuzz_;
    std::map<std::string, Store> stores_;
    std::string last_ = "ERR\r";
    bool loading_ = false;
    std::string loadDatabase_;
    bool answeredLoadRecord_ = false;
    uint64_t lastReplyEndMs_ = 0;
};

// In the order of the script methods that call them: Open is Attach (0),
// Finish is Finish (15).
enum class Operation {
    Open, Close, Ping, FreeMemory, SerialNumber, Time, SetTime, State, DocumentCount, DatabaseCount,
    ClearDocument, ClearDatabase, GetData, GetRecord, PutRecord, Finish, kMaxValue = Finish
};
static_assert(static_cast<int32_t>(Operation::Open) == method::kAttach);
static_assert(static_cast<int32_t>(Operation::DocumentCount) == method::kGetDataCount);
static_assert(static_cast<int32_t>(Operation::Finish) == method::kFinish);

// The range the script method bounds the operation's number to, if it takes one.
std::optional<Range> NumberRange(Operation op) {
    switch (op) {
        case Operation::DocumentCount:
        case Operation::ClearDocument:
        case Operation::GetData:
            return protocol::kDocumentRange;
        case Operation::DatabaseCount:
        case Operation::ClearDatabase:
        case Operation::GetRecord:
        case Operation::PutRecord:
            return protocol::kDatabaseRange;
        default:
            return std::nullopt;
    }
}

class Session {
public:
    Session(FuzzedDataProvider& fuzz, bool modelled) : fuzz_(fuzz) {
        if (modelled) terminal_.emplace(bench_, fuzz_);
    }

    void Run() {
        for (int call = 0; call < 40 && fuzz_.remaining_bytes() > 0; ++call) {
            bench_.clock.Sleep(fuzz_.ConsumeIntegralInRange<uint32_t>(0, 600));
            if (!terminal_) QueueRawBytes();
            ForceWaits();
            RunOne(fuzz_.ConsumeEnum<Operation>());
        }
    }

private:
    void QueueRawBytes() {
        const uint64_t now = bench_.clock.NowMs();
        for (int i = fuzz_.ConsumeIntegralInRange(0, 3); i > 0; --i) {
            const uint64_t at = now + fuzz_.ConsumeIntegralInRange<uint32_t>(0, 400);
            const uint32_t gap = fuzz_.ConsumeIntegralInRange<uint32_t>(0, 20);
            bench_.line.QueueAt(at, fuzz_.ConsumeRandomLengthString(2048), gap);
        }
    }

    void ForceWaits() {
        if (fuzz_.ConsumeIntegralInRange(0, 7) != 0) return;
        const auto forced = static_cast<fake::ForcedWait>(fuzz_.ConsumeIntegralInRange(0, 2));
        for (int i = fuzz_.ConsumeIntegralInRange(1, 5); i > 0; --i) bench_.line.ForceWaits({forced});
    }

    void RunOne(Operation op) {
        const uint64_t start = bench_.clock.NowMs();
        const size_t writesBefore = bench_.line.Writes().size();
        const int32_t number = fuzz_.ConsumeIntegralInRange(-1, 10);
        TerminalLink& link = bench_.link;
        int32_t value = 0;
        switch (op) {
            case Operation::Open: {
                if (terminal_ && terminal_->ReplyComingIn()) terminal_->beyondPromise = true;
                // Another port is another terminal, which the model is not.
                const int32_t port = terminal_ ? 0 : fuzz_.ConsumeIntegralInRange(0, 1);
                // Either pace keeps every promise checked here.
                const int32_t fast = fuzz_.ConsumeBool() ? kFastExchangeOn : 0;
                value = link.OpenPort(ConnectionSettings{port, 0, 0, fast});
                if (terminal_) terminal_->PortOpened();  // the counts are asked anew
                break;
            }
            case Operation::Close:
                if (terminal_ && terminal_->ReplyComingIn()) terminal_->beyondPromise = true;
                link.ClosePort();
                break;
            case Operation::Ping: value = link.PingTerminal(); break;
            case Operation::FreeMemory: value = link.GetFreeMemory(); break;
            case Operation::SerialNumber: value = link.GetSerialNumber(); break;
            case Operation::Time: value = link.GetTerminalTime(); break;
            case Operation::SetTime: value = link.SetTerminalTime(); break;
            case Operation::State: value = link.GetCurrentState(); break;
            case Operation::DocumentCount: value = link.GetDocumentCount(number); break;
            case Operation::DatabaseCount: value = link.GetDatabaseCount(number); break;
            case Operation::ClearDocument:
                value = link.ClearDocument(number);
                mayHaveLost_ = true;
                break;
            case Operation::ClearDatabase:
                value = link.ClearTerminalDatabase(number);
                mayHaveLost_ = true;
                break;
            case Operation::GetData: value = link.GetDocumentRecord(number); break;
            case Operation::GetRecord: value = link.GetDatabaseRecord(number); break;
            case Operation::PutRecord: value = Upload(number); break;
            case Operation::Finish: value = link.FinishLoad(); break;
        }
        if (kTrace)
            std::fprintf(stderr, "%llu..%llu op %d(%d) = %d result %d data \"%s\"\n", (unsigned long long)start,
                         (unsigned long long)bench_.clock.NowMs(), static_cast<int>(op), number, value,
                         bench_.state.result, Printable(bench_.state.data).c_str());
        CheckBounds(start);
        CheckResultCode(op, number);
        if (!terminal_ || terminal_->beyondPromise) return;
        CheckAttribution(op, number, value, writesBefore);
    }

    int32_t Upload(int32_t number) {
        ComponentState& state = bench_.state;
        state.fields = {};
        state.fields[0] = "U" + std::to_string(uploads_++);
        state.fields[fuzz_.ConsumeIntegralInRange(1, 5)] = fuzz_.ConsumeRandomLengthString(16);
        const std::string tag = state.fields[0];
        // Forced waits may end the count's exchange or the upload with its
        // copy's fate unknown; a database outside 1 to 3 has no count.
        const bool forced = bench_.line.ForcedWaitsLeft() > 0;
        const bool counted = number >= protocol::kDatabaseRange.lowest && number <= protocol::kDatabaseRange.highest;
        const int32_t value = bench_.link.PutDatabaseRecord(number);
        if (!terminal_) return value;
        if (value == 1) uploaded_.push_back(tag);
        if (forced || !counted || terminal_->countMayBeUnread[std::to_string(number)]) mayBeStoredTwice_.insert(tag);
        return value;
    }

    void CheckBounds(uint64_t start) {
        Require(bench_.clock.NowMs() - start <= kOperationBoundMs, "an operation ends in bounded time");
        const ComponentState& state = bench_.state;
        Require(state.result >= 0 && state.result <= code::kHighestKnown, "a known result code");
        Require(state.data.size() <= protocol::kMaxReplyLength, "Data fits the reply buffer");
        for (const std::string& field : state.fields)
            Require(field.size() <= protocol::kMaxReplyLength, "a field fits the reply buffer");
    }

    // A number outside the method's range never reaches the operation
    // through a script (it is bounded first), and may leave 6 or 7.
    void CheckResultCode(Operation op, int32_t number) {
        const std::optional<Range> range = NumberRange(op);
        if (range && (number < range->lowest || number > range->highest)) return;
        const std::vector<int32_t>& codes = MethodResultCodes(static_cast<int32_t>(op));
        Require(std::binary_search(codes.begin(), codes.end(), bench_.state.result),
                "an operation leaves only the codes its method lists");
    }

    void CheckAttribution(Operation op, int32_t number, int32_t value, size_t writesBefore) {
        const size_t writesAfter = bench_.line.Writes().size();
        const std::string& data = bench_.state.data;
        auto writtenByThisCall = [&](size_t written) { return written >= writesBefore && written < writesAfter; };
        switch (op) {
            case Operation::SerialNumber:
            case Operation::State:
                if (value == 1) {
                    Require(StartsWith(data, "W"), "a query's reply is the terminal's answer to a query");
                    Require(writtenByThisCall(std::stoul(data.substr(1))), "a query's reply answers its own command");
                }
                break;
            case Operation::FreeMemory:
                if (bench_.state.result == code::kSuccess)
                    Require(writtenByThisCall(static_cast<size_t>(value)), "free memory answers its own command");
                break;
            case Operation::GetData:
            case Operation::GetRecord: {
                const std::string store = (op == Operation::GetData ? "D" : "B") + std::to_string(number);
                if (value == 1) CheckRecord(store, data);
                if (value == -1 && bench_.state.result == code::kTransferError) ++reportedSinceLast_[store];
                break;
            }
            case Operation::PutRecord:
                if (!terminal_->lateAcknowledgement)
                    for (const auto& [tag, copies] : terminal_->stored)
                        Require(copies == 1 || mayBeStoredTwice_.count(tag) != 0,
                                "a record is stored once unless acknowledged late or its count unread");
                for (const std::string& tag : uploaded_)
                    Require(terminal_->stored.count(tag) == 1, "a record said stored was stored");
                break;
            default: break;
        }
    }

    // "<store>-<index>": the store asked for, the next index after the last.
    void CheckRecord(const std::string& store, const std::string& data) {
        Require(StartsWith(data, store + "-"), "a download hands out only records of its own store");
        const int index = std::stoi(data.substr(store.size() + 1));
        auto last = lastIndex_.find(store);
        const int previous = last == lastIndex_.end() ? -1 : last->second;
        Require(index > previous, "records of a store come once each, in order");
        Require(mayHaveLost_ || index - previous - 1 <= reportedSinceLast_[store],
                "no record of a store is skipped without a failure with code 9 in its place");
        lastIndex_[store] = index;
        reportedSinceLast_.erase(store);
    }

    FuzzedDataProvider& fuzz_;
    LinkBench bench_;
    std::optional<ModelTerminal> terminal_;
    std::map<std::string, int> lastIndex_;
    std::vector<std::string> uploaded_;
    std::set<std::string> mayBeStoredTwice_;  // uploads whose count may not have been read
    std::map<std::string, int> reportedSinceLast_;  // per store: downloads failed with code 9 since its last record
    int uploads_ = 0;
    bool mayHaveLost_ = false;
};

}  // namespace
}  // namespace quill::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider fuzz(data, size);
    const bool modelled = fuzz.ConsumeBool();
    quill::fuzz::Session(fuzz, modelled).Run();
    return 0;
}
