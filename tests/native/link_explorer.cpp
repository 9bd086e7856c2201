// Every combination of line faults over the first lines of a job, at both
// paces, against a terminal that plays the protocol as the simulator does,
// driven by a script that follows the retry policy of docs/SCRIPTING.md and
// may pause, attach anew, press Apply or run the search between two calls.
//
// The oracle is strict: every record the terminal moved past reaches the
// script once, in order, in its own store; one is missing only where a
// download failed with code 9 in its place, and only when the faults meet
// one of the protocol's limits below; every upload said stored is stored
// once, and every record stored is said stored; no call takes longer than
// its bound. A broken run prints as a script of its faults; each one found
// is kept as a regression case in the table at the end.
//
// The depth (lines whose faults are enumerated) is 3 here; QUILL_EXPLORE_DEPTH
// asks for more (tools/fuzz runs 4), and QUILL_EXPLORE_WALKS for that many
// seeded random walks with faults on any of the first 40 lines
// (QUILL_EXPLORE_SEED picks the seed).

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/result_codes.h"
#include "fake_line.h"
#include "link/protocol.h"
#include "model_terminal.h"

namespace quill {
namespace {

using fake::LineFault;
using fake::LinkBench;
using fake::ModelTerminal;
using fake::StoreName;

// ---- What the script does.

enum class Job { PullDocument, PullDatabase, LoadDatabase };
enum class Between { Nothing, Pause, Reattach, Apply, Search };

struct FaultRun {
    Pace pace = Pace::Standard;
    Job job = Job::PullDocument;
    Between between = Between::Nothing;
    int afterCall = 0;  // the script's call (from 1) after which it does `between`
    std::vector<LineFault> faults;
};

const StoreName kDocument{'D', 1};
const StoreName kDatabase{'B', 2};
constexpr int kDocumentRecords = 3;
constexpr int kDatabaseRecords = 2;
constexpr int kLoadDatabase = 3;
const std::vector<std::string> kLoadRows = {"U0", "U1"};

const char* Describe(Job job) {
    switch (job) {
        case Job::PullDocument: return "pulling document 1 (3 records) with GetData";
        case Job::PullDatabase: return "pulling database 2 (2 records) with GetRecord";
        case Job::LoadDatabase: return "loading 2 records into database 3 with PutRecord, then Finish";
    }
    return "?";
}

const char* Describe(Between between) {
    switch (between) {
        case Between::Nothing: return "";
        case Between::Pause: return "pauses 600 ms";
        case Between::Reattach: return "calls Deattach and Attach";
        case Between::Apply: return "presses Apply";
        case Between::Search: return "runs the search for the terminal";
    }
    return "?";
}

std::string Describe(const FaultRun& run) {
    std::ostringstream out;
    out << (run.pace == Pace::Fast ? "at the fast pace, " : "at the standard pace, ") << Describe(run.job);
    if (run.between != Between::Nothing)
        out << "; the script " << Describe(run.between) << " after call " << run.afterCall;
    out << "\n";
    for (size_t k = 0; k < run.faults.size(); ++k)
        if (run.faults[k] != LineFault::None) out << "  line " << k << ": " << fake::Describe(run.faults[k]) << "\n";
    return out.str();
}

// ---- What the script saw.

struct Call {
    std::string method;
    int32_t value;
    int32_t result;
    std::string data;
    uint64_t tookMs;
};

struct Played {
    std::vector<Call> calls;
    bool stopped = false;  // the retry policy gave up
    std::map<std::string, int32_t> uploaded;  // row -> what PutRecord said at last
    std::vector<std::string> wireLog;
    std::vector<ModelTerminal::WireLine> wire;
    int movedPast = 0;
    std::vector<std::string> stored;
};

class Script {
public:
    explicit Script(const FaultRun& run) : run_(run), bench_(false, run.pace), terminal_(bench_.line, bench_.clock, Sizes()) {
        terminal_.faults = run.faults;
        settings_.FastExchange = run.pace == Pace::Fast ? kFastExchangeOn : 0;
    }

    Played Play() {
        Attach();
        switch (run_.job) {
            case Job::PullDocument: Pull(kDocument); break;
            case Job::PullDatabase: Pull(kDatabase); break;
            case Job::LoadDatabase: Load(); break;
        }
        bench_.link.ClosePort();
        played_.wireLog = terminal_.Log();
        played_.wire = terminal_.Wire();
        played_.movedPast = terminal_.MovedPast(run_.job == Job::PullDocument ? kDocument : kDatabase);
        played_.stored = terminal_.Stored(kLoadDatabase);
        return played_;
    }

private:
    static std::map<StoreName, int> Sizes() { return {{kDocument, kDocumentRecords}, {kDatabase, kDatabaseRecords}}; }

    bool Attach() { return bench_.link.OpenPort(settings_) == 1; }

    // One script call, and what the script does after it.
    int32_t Call(const char* method, const std::function<int32_t()>& call) {
        const uint64_t start = bench_.clock.NowMs();
        const int32_t value = call();
        played_.calls.push_back({method, value, bench_.state.result, bench_.state.data, bench_.clock.NowMs() - start});
        if (static_cast<int>(played_.calls.size()) == run_.afterCall) DoBetween();
        return value;
    }

    void DoBetween() {
        TerminalLink& link = bench_.link;
        switch (run_.between) {
            case Between::Nothing: break;
            case Between::Pause: bench_.clock.Sleep(600); break;
            case Between::Reattach:
                link.ClosePort();
                Attach();
                break;
            case Between::Apply: link.OpenPort(settings_); break;
            case Between::Search:
                link.ClosePort();
                terminal_.HearElsewhere("PNG");
                link.TerminalSpokenToElsewhere();
                bench_.clock.Sleep(300);
                Attach();
                break;
        }
    }

    // GetData or GetRecord to the end, each failure retried twice, the port
    // attached anew after code 1 or 5.
    void Pull(StoreName store) {
        int retries = 0;
        for (int guard = 0; guard < 40; ++guard) {
            const int32_t got = Call(store.kind == 'D' ? "GetData" : "GetRecord", [&] {
                return store.kind == 'D' ? bench_.link.GetDocumentRecord(store.number)
                                         : bench_.link.GetDatabaseRecord(store.number);
            });
            if (got == 1) {
                retries = 0;
                continue;
            }
            if (got == 0) return;
            if (++retries > 2) break;
            const int32_t result = played_.calls.back().result;
            if (result == code::kPortNotInitialised || result == code::kPortError) {
                bench_.link.ClosePort();
                if (!Attach()) break;
            }
        }
        played_.stopped = true;
    }

    // PutRecord for each row, once more after 8, 9 or 19, after a new
    // attach for 1 or 5; then Finish.
    void Load() {
        for (const std::string& row : kLoadRows) {
            auto put = [&] {
                bench_.state.fields = {row, "", "", "", "", ""};
                return bench_.link.PutDatabaseRecord(kLoadDatabase);
            };
            int32_t stored = Call("PutRecord", put);
            const int32_t result = played_.calls.back().result;
            if (stored != 1 &&
                (result == code::kTimeout || result == code::kTransferError || result == code::kCannotEnterLoadMode))
                stored = Call("PutRecord", put);
            const int32_t retried = played_.calls.back().result;
            if (stored != 1 && (retried == code::kPortNotInitialised || retried == code::kPortError)) {
                bench_.link.ClosePort();
                if (Attach()) stored = Call("PutRecord", put);
            }
            played_.uploaded[row] = stored;
            if (stored != 1) {
                played_.stopped = true;
                break;
            }
        }
        Call("Finish", [&] { return bench_.link.FinishLoad(); });
    }

    const FaultRun& run_;
    LinkBench bench_;
    ModelTerminal terminal_;
    ConnectionSettings settings_;
    Played played_;
};

// ---- The protocol's limits: faults after which no NAK, count or wait can
// bring a record back or tell whether a copy was stored. Each is kept as
// narrow as the faults that make it.

bool IsUploadRecord(const std::string& line) { return line.find('\t') != std::string::npos; }

struct Limit {
    const char* name;
    // What it excuses: anything of the store's records (taken for another
    // line's, handed out twice, skipped), or
    bool anyRecordFault;
    bool recordLostWithCode9;
    bool recordLostWithoutFailure;
    bool storedUnreported;  // or stored more than once
    bool acknowledgedUnstored;
    std::function<bool(const Played&)> holds;
};

// A record's whole reply lost on the line, its command heard: the link
// sees only silence, as from a command never heard. Asking with NAK would
// then bring the record before it again (the one the terminal sent last),
// taken for the next; so the command goes again, and moves the terminal
// past the record nobody saw. Nothing on the line says it existed.
bool RecordReplyLostWhole(const Played& played) {
    for (const auto& wire : played.wire)
        if (wire.fault == LineFault::ReplyLost && wire.answeredRecord) return true;
    return false;
}

// A reply later than the 400 ms it is waited for: by then the link has
// given its line up as never heard and written another (a record's command
// again, which moves the terminal past the record; a copy of an upload
// again, which the terminal stores too); the late reply arrives as the
// answer to that later line, where nothing tells it apart.
bool ReplyLaterThanTheLimit(const Played& played) {
    for (const auto& wire : played.wire)
        if (wire.fault == LineFault::Late450) return true;
    return false;
}

// A NAK the terminal hears garbled: it takes it for another line, moves past
// the record it was to send again and answers ERR. A NAK now would bring
// the ERR again, not the record.
bool NakHeardGarbled(const Played& played) {
    for (const auto& wire : played.wire)
        if (wire.line == "NAK" && wire.fault == LineFault::HeardGarbled && wire.recordPending) return true;
    return false;
}

// The terminal's answer to a copy of an upload never read (lost, late or
// garbled), and the database's count unknown to hold against (its GRC
// after the attach not read): whether the copy was stored cannot be known.
bool AcknowledgementAndCountUnread(const Played& played) {
    bool acknowledgementUnread = false, countUnread = false;
    for (const auto& wire : played.wire) {
        const bool faulty = wire.fault != LineFault::None && wire.fault != LineFault::Slow10 &&
                            wire.fault != LineFault::Slow45;
        if (IsUploadRecord(wire.line) && faulty && wire.fault != LineFault::Unheard &&
            wire.fault != LineFault::HeardGarbled)
            acknowledgementUnread = true;
        if (wire.line.rfind("GRC", 0) == 0 && faulty) countUnread = true;
    }
    return acknowledgementUnread && countUnread;
}

// A count carries no checksum; it is taken once two readings agree. Two
// readings garbled into the same wrong number (on a one-digit count the
// model flips the same bit whichever byte it spoils) make a copy whose
// answer cannot be read pass for stored when it was not, or go again when it
// was stored.
bool CountReadWrongTwiceAlike(const Played& played) {
    int countsGarbled = 0;
    bool acknowledgementUnread = false;
    for (const auto& wire : played.wire) {
        const bool garbled = wire.fault == LineFault::BadChecksum || wire.fault == LineFault::BadText ||
                             wire.fault == LineFault::BadLead;
        if (wire.line.rfind("GRC", 0) == 0 && garbled) ++countsGarbled;
        if (IsUploadRecord(wire.line) && wire.fault != LineFault::None && wire.fault != LineFault::Slow10 &&
            wire.fault != LineFault::Slow45)
            acknowledgementUnread = true;
    }
    return countsGarbled >= 2 && acknowledgementUnread;
}

// The search right after a close whose half second ran out while it asked
// for a garbled or cut record again (its NAK met a fault of its own, even a
// reply 10 ms a byte): the search's pings reach the terminal and move it
// past that record, which the next download reports lost with code 9. A
// close waits no longer, whatever the line does.
bool CloseOutOfTimeBeforeTheSearch(const Played& played) {
    std::optional<uint64_t> searchAtMs;
    for (const std::string& entry : played.wireLog)
        if (entry.find(" elsewhere ") != std::string::npos) searchAtMs = std::stoull(entry);
    if (!searchAtMs) return false;
    for (size_t k = 0; k < played.wire.size(); ++k) {
        const auto& wire = played.wire[k];
        if (wire.line != "NAK" || wire.fault == LineFault::None) continue;
        for (const std::string& entry : played.wireLog) {
            if (entry.find(" line " + std::to_string(k) + " \"") == std::string::npos) continue;
            const uint64_t writtenAtMs = std::stoull(entry);
            if (writtenAtMs < *searchAtMs && writtenAtMs + protocol::kCloseLimitMs >= *searchAtMs) return true;
        }
    }
    return false;
}

const Limit kLimits[] = {
    {"CountReadWrongTwiceAlike", false, false, false, true, true, CountReadWrongTwiceAlike},
    {"RecordReplyLostWhole", false, true, true, false, false, RecordReplyLostWhole},
    {"ReplyLaterThanTheLimit", true, true, true, true, true, ReplyLaterThanTheLimit},
    {"NakHeardGarbled", false, true, false, false, false, NakHeardGarbled},
    {"AcknowledgementAndCountUnread", false, false, false, true, false, AcknowledgementAndCountUnread},
    {"CloseOutOfTimeBeforeTheSearch", false, true, false, false, false, CloseOutOfTimeBeforeTheSearch},
};

bool Excused(const Played& played, bool Limit::*excuses) {
    for (const Limit& limit : kLimits)
        if (limit.*excuses && limit.holds(played)) return true;
    return false;
}

// ---- The oracle.

constexpr uint64_t kCallBoundMs = 2 * protocol::kReceiveLimitMs;

std::string Check(const FaultRun& run, const Played& played) {
    for (const Call& call : played.calls)
        if (call.tookMs > kCallBoundMs) return call.method + " took " + std::to_string(call.tookMs) + " ms";
    if (run.job == Job::LoadDatabase) {
        std::map<std::string, int> copies;
        for (const std::string& text : played.stored) ++copies[text.substr(0, text.find('\t'))];
        for (const auto& [row, said] : played.uploaded) {
            if (said == 1 && copies[row] == 0 && !Excused(played, &Limit::acknowledgedUnstored))
                return row + " said stored, never stored";
            if (said == 1 && copies[row] > 1 && !Excused(played, &Limit::storedUnreported))
                return row + " said stored, stored " + std::to_string(copies[row]) + " times";
            if (said != 1 && copies[row] != 0 && !Excused(played, &Limit::storedUnreported))
                return row + " stored but said not stored";
        }
        for (const auto& [row, count] : copies)
            if (count > 1 && !Excused(played, &Limit::storedUnreported)) return row + " stored twice";
        return {};
    }
    if (Excused(played, &Limit::anyRecordFault)) return {};
    const StoreName store = run.job == Job::PullDocument ? kDocument : kDatabase;
    const std::string prefix = std::string(1, store.kind) + std::to_string(store.number) + "-";
    int expected = 0, code9 = 0;
    bool anyFailure = false;
    auto missing = [&](int upTo) -> std::string {
        if (upTo <= expected) return {};
        const int lost = upTo - expected;
        if (code9 < lost && !Excused(played, &Limit::recordLostWithoutFailure))
            return "record " + prefix + std::to_string(expected) + " skipped" +
                   (anyFailure ? " without code 9 in its place" : " with success");
        if (!Excused(played, &Limit::recordLostWithCode9) && !Excused(played, &Limit::recordLostWithoutFailure))
            return "record " + prefix + std::to_string(expected) + " lost (reported with code 9) though a NAK could bring it";
        return {};
    };
    for (const Call& call : played.calls) {
        if (call.value == -1) {
            anyFailure = true;
            if (call.result == code::kTransferError) ++code9;
            continue;
        }
        if (call.value == 0) break;
        if (call.data.rfind(prefix, 0) != 0) return "\"" + call.data + "\" handed out for " + prefix;
        const int index = std::stoi(call.data.substr(prefix.size()));
        if (index < expected) return "record " + call.data + " handed out twice or out of order";
        if (const std::string broken = missing(index); !broken.empty()) return broken;
        expected = index + 1;
        code9 = 0;
        anyFailure = false;
    }
    if (played.stopped) {
        if (Excused(played, &Limit::recordLostWithCode9) || Excused(played, &Limit::recordLostWithoutFailure)) return {};
        return "the pull stopped after three failures in a row";
    }
    return missing(played.movedPast);
}

std::string Report(const FaultRun& run, const Played& played, const std::string& broken) {
    std::ostringstream out;
    out << Describe(run) << "broken: " << broken << "\nthe script saw:\n";
    for (const Call& call : played.calls)
        out << "  " << call.method << " = " << call.value << ", Result " << call.result << ", Data \"" << call.data
            << "\" (" << call.tookMs << " ms)\n";
    out << "the wire:\n";
    for (const std::string& line : played.wireLog) out << "  " << line << "\n";
    return out.str();
}

std::string Verdict(const FaultRun& run) {
    const Played played = Script(run).Play();
    const std::string broken = Check(run, played);
    return broken.empty() ? std::string() : Report(run, played, broken);
}

// ---- The exploration.

int FromEnvironment(const char* name, int fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::atoi(value) : fallback;
}

// Broken runs printed in full; the rest are counted by what broke.
const int kShown = FromEnvironment("QUILL_EXPLORE_SHOW", 5);

std::vector<FaultRun> Shapes() {
    std::vector<FaultRun> shapes;
    for (Pace pace : {Pace::Standard, Pace::Fast})
        for (Job job : {Job::PullDocument, Job::PullDatabase, Job::LoadDatabase}) {
            shapes.push_back({pace, job, Between::Nothing, 0, {}});
            for (Between between : {Between::Pause, Between::Reattach, Between::Apply, Between::Search})
                for (int after : {1, 2}) shapes.push_back({pace, job, between, after, {}});
        }
    return shapes;
}

// Calls `visit` with every combination of faults over `depth` lines.
void EachCombination(int depth, const std::function<void(const std::vector<LineFault>&)>& visit) {
    std::vector<LineFault> faults(static_cast<size_t>(depth), LineFault::None);
    for (;;) {
        visit(faults);
        size_t k = 0;
        while (k < faults.size()) {
            const int next = static_cast<int>(faults[k]) + 1;
            if (next < fake::kLineFaultCount) {
                faults[k] = static_cast<LineFault>(next);
                break;
            }
            faults[k++] = LineFault::None;
        }
        if (k == faults.size()) return;
    }
}

TEST(Explorer, EveryCombinationOfFaultsOverTheFirstLinesKeepsEveryRecordOnce) {
    const int depth = FromEnvironment("QUILL_EXPLORE_DEPTH", 3);
    const auto began = std::chrono::steady_clock::now();
    long explored = 0;
    int broken = 0;
    std::map<std::string, int> reasons;
    for (FaultRun shape : Shapes()) {
        EachCombination(depth, [&](const std::vector<LineFault>& faults) {
            shape.faults = faults;
            ++explored;
            const std::string report = Verdict(shape);
            if (report.empty()) return;
            ++reasons[report.substr(report.find("broken: "), report.find('\n', report.find("broken: ")) - report.find("broken: "))];
            if (++broken <= kShown) ADD_FAILURE() << report;
        });
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    std::printf("explorer: depth %d, %ld sequences, %d broken, %.1f s\n", depth, explored, broken, seconds);
    for (const auto& [reason, count] : reasons) std::printf("  %6d %s\n", count, reason.c_str());
    EXPECT_EQ(broken, 0);
}

// Sequences the exploration found broken, each kept at both paces.
struct Regression {
    const char* sentence;
    Job job;
    Between between;
    int afterCall;
    std::vector<LineFault> faults;
};

const Regression kRegressions[] = {
    {"a record whose CR is lost after a late reply (the second copy's R1 dropped when its reply expired)",
     Job::PullDocument, Between::Pause, 1, {LineFault::Late150, LineFault::LostCr}},
    {"the NAK a download wrote last answered after it gave up (its answer thrown away)", Job::PullDocument,
     Between::Nothing, 0,
     {LineFault::None, LineFault::Unheard, LineFault::BadChecksum, LineFault::BadChecksum, LineFault::Late150}},
    {"a record's CR lost and the NAK asking for it answered 300 ms late (three failures in a row)",
     Job::PullDocument, Between::Nothing, 0, {LineFault::LostCr, LineFault::Late300}},
    {"a record's CR lost and the NAK's answer's too (the waits for them counted as attempts)", Job::PullDocument,
     Between::Pause, 1, {LineFault::LostCr, LineFault::LostCr}},
    {"the search while the second answer of a twice-written command is on its way", Job::PullDocument,
     Between::Search, 1, {LineFault::Late150}},
    {"the end of the records cut short after the search, asked for with NAK and taken for a lost record "
     "(found by a random walk)",
     Job::PullDocument, Between::Search, 2,
     {LineFault::None, LineFault::None, LineFault::Slow10, LineFault::LostCr, LineFault::None, LineFault::ReplyLost,
      LineFault::LostCr, LineFault::BadLead, LineFault::Late150}},
    {"the search after the second answer came garbled (the pings moved the terminal past it)", Job::PullDocument,
     Between::Search, 1, {LineFault::Late150, LineFault::BadChecksum}},
    {"an upload acknowledged 300 ms late with no count to ask (the copy went again at 200 ms)",
     Job::LoadDatabase, Between::Nothing, 0, {LineFault::HeardGarbled, LineFault::None, LineFault::Late300}},
    {"a retry's count whose CR was lost, joined with the next reading's (found by a random walk)",
     Job::LoadDatabase, Between::Apply, 2,
     {LineFault::None, LineFault::None, LineFault::BadText, LineFault::None, LineFault::None, LineFault::None,
      LineFault::BadLead, LineFault::LostCr}},
    {"the end of the records with a text byte flipped, asked for with NAK and reported lost with code 9 "
     "(found by a random walk)",
     Job::PullDocument, Between::Search, 2,
     {LineFault::None, LineFault::None, LineFault::None, LineFault::BadText, LineFault::None, LineFault::BadChecksum,
      LineFault::None, LineFault::Late300}},
    {"the end of a database garbled, and the NAK's OVER garbled too (found by a random walk)", Job::PullDatabase,
     Between::Search, 1,
     {LineFault::None, LineFault::None, LineFault::BadText, LineFault::BadChecksum, LineFault::Unheard,
      LineFault::None, LineFault::BadText}},
    {"the end of a database with its first byte flipped, again at each NAK (found by a random walk)",
     Job::PullDatabase, Between::Reattach, 1,
     {LineFault::None, LineFault::Slow10, LineFault::BadText, LineFault::BadLead, LineFault::BadLead,
      LineFault::Late150, LineFault::BadLead}},
    {"a copy of a record whose CR was lost, then the next record garbled (dropped as the copy's tail, and "
     "passed over; found at depth 4)",
     Job::PullDocument, Between::Nothing, 0,
     {LineFault::BadChecksum, LineFault::Late150, LineFault::LostCr, LineFault::BadChecksum}},
    {"a close out of time, its NAK answered 10 ms a byte, then the search (found at depth 4)", Job::PullDocument,
     Between::Search, 1, {LineFault::HeardGarbled, LineFault::Late300, LineFault::LostCr, LineFault::Slow10}},
    {"the end of the records with its CR lost, then garbled much later and the NAK heard garbled (the garbled "
     "end taken for the tail of the first; found by a random walk of seed 99)",
     Job::PullDocument, Between::Nothing, 0,
     {LineFault::None, LineFault::None, LineFault::None, LineFault::LostCr, LineFault::Unheard, LineFault::BadLead,
      LineFault::HeardGarbled}},
    {"the count after the attach read one off (a bit flipped), then a copy's acknowledgement lost",
     Job::LoadDatabase, Between::Nothing, 0,
     {LineFault::BadText, LineFault::None, LineFault::None, LineFault::None, LineFault::ReplyLost}},
};

TEST(Explorer, EverySequenceFoundBrokenOnceNowKeepsEveryRecordOnce) {
    for (const Regression& regression : kRegressions)
        for (Pace pace : {Pace::Standard, Pace::Fast}) {
            const FaultRun run{pace, regression.job, regression.between, regression.afterCall, regression.faults};
            EXPECT_EQ(Verdict(run), "") << regression.sentence;
        }
}

TEST(Explorer, SeededRandomWalksBeyondTheEnumeratedLines) {
    const int walks = FromEnvironment("QUILL_EXPLORE_WALKS", 300);
    const unsigned seed = static_cast<unsigned>(FromEnvironment("QUILL_EXPLORE_SEED", 1211));
    std::mt19937 random(seed);
    const std::vector<FaultRun> shapes = Shapes();
    int broken = 0;
    for (int walk = 0; walk < walks; ++walk) {
        FaultRun run = shapes[std::uniform_int_distribution<size_t>(0, shapes.size() - 1)(random)];
        run.faults.assign(40, LineFault::None);
        for (LineFault& fault : run.faults)
            if (std::uniform_int_distribution<int>(0, 7)(random) == 0)
                fault = static_cast<LineFault>(std::uniform_int_distribution<int>(1, fake::kLineFaultCount - 1)(random));
        const std::string report = Verdict(run);
        if (report.empty()) continue;
        if (++broken <= kShown) ADD_FAILURE() << "walk " << walk << " of seed " << seed << ", " << report;
    }
    std::printf("explorer: %d random walks of seed %u, %d broken\n", walks, seed, broken);
    EXPECT_EQ(broken, 0);
}

}  // namespace
}  // namespace quill
