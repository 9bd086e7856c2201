// A terminal on the fake line that plays the protocol as tools/simulator
// does: documents and databases of records, a place in each store that moves
// on when any line other than NAK follows a record it sent, NAK sending that
// record again (or, with none, the last reply), ERR for a line it cannot
// read, and the load dialogue (PDB, record lines answered ACK, NAK or FULL,
// OVER); CDC and CDB clear a store and start its records afresh. Each line
// it is written, and each reply it gives, may meet one fault (or two that
// come together), chosen per line in the order the lines are written: the
// line's own, its reply's, a cable pulled out of the cradle at some point of
// the exchange, or the host's thread frozen while the reply comes.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "fake_line.h"

namespace quill::fake {

// What the line does to one line written to the terminal and to its reply.
enum class LineFault {
    None,
    Unheard,        // the terminal never hears the line (noise, or busy)
    HeardGarbled,   // it hears something it cannot read: ERR (NAK for a line in load mode)
    Late150,        // the reply comes 150 ms late
    Late300,        // 300 ms late
    Late450,        // 450 ms late: beyond the 400 ms a reply is waited for
    ReplyLost,      // heard and acted on, its reply lost whole on the way
    BadChecksum,    // a checksum byte of the reply flipped (a text byte for a short reply)
    BadText,        // a text byte of the reply flipped
    BadLead,        // the reply's first byte flipped
    LostCr,         // the reply's CR lost: it joins whatever comes next
    Slow10,         // the reply's bytes 10 ms apart
    Slow45,         // 45 ms apart
    Stall250,       // the reply's first bytes come, the rest 250 ms later
    Stall500,       // 500 ms later
    HostFrozen,     // the host's thread stops 30 ms after the line, for 300 ms: its reads come late
    LateLostCr,     // 300 ms late, and its CR lost
    GarbledTwice,   // heard garbled, and the refusal it answers garbled too
    AckLeadIn,      // a record or the end of the records led in by an ACK line
    Full,           // a copy of an upload answered FULL, not stored (any other line: heard, answered at once)
    UnplugUnheard,  // the cable pulled out as the line goes: never heard
    UnplugHeard,    // pulled out once the terminal has heard the line and acted on it, before its reply
    UnplugInReply,  // pulled out after the reply's first bytes
    UnplugReplied,  // pulled out 20 ms after the whole reply came (the host had not read it yet)
    LateGarbled,    // 300 ms late, and a checksum byte flipped
};
constexpr int kLineFaultCount = static_cast<int>(LineFault::LateGarbled) + 1;
// The faults before these were the explorer's first set.
constexpr int kFirstLineFaultCount = static_cast<int>(LineFault::Slow45) + 1;
bool PullsTheCable(LineFault fault);
const char* Describe(LineFault fault);

// A store of the terminal, as the script names it.
struct StoreName {
    char kind;  // 'D' document, 'B' database
    int number;
    bool operator<(const StoreName& other) const {
        return kind != other.kind ? kind < other.kind : number < other.number;
    }
};

class ModelTerminal {
public:
    // Documents and databases hold records "<kind><n>-<i>".
    ModelTerminal(FakeLine& line, VirtualClock& clock, std::map<StoreName, int> sizes);

    // The fault for the k-th line written (from 0); lines beyond the list
    // meet none.
    std::vector<LineFault> faults;

    // A line reaching the terminal other than through the link's port (a
    // ping of the search for the terminal): heard, its reply goes nowhere.
    void HearElsewhere(const std::string& line);

    // A record put into a database on the terminal itself (by its user).
    void StoreElsewhere(int database, const std::string& text);
    // From the next line written on, no line meets a fault.
    void CleanLine();

    // What the script is doing as the next lines are written (the record it
    // loads, the store it pulls), and how many times it has attached: kept
    // with every line written.
    std::string context;
    int attaches = 0;
    int call = 0;  // the script's calls begun

    // Records the terminal has moved past (sent and then followed by a line
    // other than NAK), per store, since the store was last cleared; the texts
    // of those records, in order, per clearing (the first list before any);
    // what uploads stored, per database; how many times the terminal said
    // OVER for a store since it was last cleared.
    int MovedPast(StoreName store) const;
    std::vector<std::vector<std::string>> MovedPastTexts(StoreName store) const;
    int Clearings(StoreName store) const;
    int EndsSaid(StoreName store) const;
    const std::vector<std::string>& Stored(int database) const;
    // The record sent and not yet moved past, if any.
    std::string Held() const { return PendingText(); }
    // Every line written, with its fault and what the terminal made of it.
    struct WireLine {
        std::string line;        // without its CR; "\x7F..." when heard garbled
        LineFault fault;
        bool recordPending;      // a record sent and not yet moved past when it came
        bool answeredRecord;     // the reply was a record line
        uint64_t atMs = 0;       // when it was written
        uint64_t replyEndMs = 0; // when the last byte of its reply came (0: no reply)
        std::string record;      // the record its reply carried
        std::string pending;     // the record sent and not yet moved past when it came
        std::string context;     // what the script was doing
        int attach = 0;          // the script's attaches before it
        bool heard = false;      // the terminal read it as written
        uint64_t cableOutMs = 0; // when its fault pulled the cable out (0: it did not)
        std::string reply;       // what the terminal answered, before the line's fault
        int call = 0;            // the script's call it was written in
    };
    const std::vector<WireLine>& Wire() const { return wire_; }
    const std::vector<std::string>& Log() const { return log_; }
    int LinesWritten() const { return linesWritten_; }

private:
    struct Pending {
        StoreName store;
        int index;
    };
    struct Records {
        std::vector<std::string> texts;
        int place = 0;
        int ends = 0;
        std::vector<std::vector<std::string>> movedPast{1};  // per clearing
    };

    void Written(const std::string& bytes);
    std::string Answer(const std::string& line, bool garbled);
    std::string NextRecord(StoreName store);
    std::string PendingText() const;
    void Clear(StoreName store);
    void PullCable(uint64_t atMs);
    void Commit();
    void Send(std::string reply, LineFault fault);

    FakeLine& line_;
    VirtualClock& clock_;
    std::map<StoreName, Records> records_;
    std::map<int, std::vector<std::string>> stored_;
    std::optional<Pending> pending_;
    std::string lastReply_ = "ERR\r";
    bool loading_ = false;
    int loadDatabase_ = 0;
    uint64_t lastReplyEndMs_ = 0;
    int linesWritten_ = 0;
    std::vector<std::string> log_;
    std::vector<WireLine> wire_;
};

}  // namespace quill::fake
