// A terminal on the fake line that plays the protocol as tools/simulator
// does: documents and databases of records, a place in each store that moves
// on when any line other than NAK follows a record it sent, NAK sending that
// record again (or, with none, the last reply), ERR for a line it cannot
// read, and the load dialogue (PDB, record lines answered ACK, NAK or FULL,
// OVER). Each line it is written, and each reply it gives, may meet one
// fault, chosen per line in the order the lines are written.
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
};
constexpr int kLineFaultCount = static_cast<int>(LineFault::Slow45) + 1;
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

    // Records the terminal has moved past (sent and then followed by a line
    // other than NAK), per store, and what uploads stored, per database.
    int MovedPast(StoreName store) const;
    const std::vector<std::string>& Stored(int database) const;
    // Every line written, with its fault and what the terminal made of it.
    struct WireLine {
        std::string line;        // without its CR; "\x7F..." when heard garbled
        LineFault fault;
        bool recordPending;      // a record sent and not yet moved past when it came
        bool answeredRecord;     // the reply was a record line
    };
    const std::vector<WireLine>& Wire() const { return wire_; }
    const std::vector<std::string>& Log() const { return log_; }
    int LinesWritten() const { return linesWritten_; }

private:
    struct Pending {
        StoreName store;
        int index;
    };

    void Written(const std::string& bytes);
    std::string Answer(const std::string& line, bool garbled);
    std::string NextRecord(StoreName store);
    void Commit();
    void Send(std::string reply, LineFault fault);

    FakeLine& line_;
    VirtualClock& clock_;
    std::map<StoreName, int> sizes_;
    std::map<StoreName, int> place_;
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
