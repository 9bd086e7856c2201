// The terminal link: opening the port (with the infrared adapter of the
// cradle when asked), the command exchange, the short queries and the record
// transfers. Written once against SerialLine and Clock; every operation
// leaves its outcome in the ComponentState it was given. Between calls the
// link keeps only the replies the terminal still owes and what they brought
// for later downloads (ReplyLedger), and the record count of each database
// it loads into (DatabaseCounts). A port whose device has gone (a cable or
// adapter pulled out) ends the operation with code 2 and is closed after it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/component_state.h"
#include "core/connection_settings.h"
#include "link/database_counts.h"
#include "link/pace.h"
#include "link/reply_ledger.h"
#include "link/serial_line.h"

namespace quill {

class TerminalLink {
public:
    TerminalLink(SerialLine& line, Clock& clock, const LocalTimeSource& localTime,
                 ComponentState& state);

    // Port (opening, closing, the infrared adapter). Each open also takes
    // the pace of the exchange from the settings.
    // Every close, and the close before an open, first waits for the
    // replies still owed (until 400 ms after their lines, longer while bytes
    // keep coming) and files what they bring, 0.5 s at most in all.
    int32_t OpenPort(const ConnectionSettings& settings);  // 1 open, 0 not
    void ClosePort();                                      // leaves result 0
    // Closes at once: for a link that is thrown away with its port.
    void AbandonPort();
    // Lines the link did not write have reached the terminal meanwhile
    // (the search for it): it has moved past what it sent last.
    void TerminalSpokenToElsewhere() { ledger_.TerminalSpokenToElsewhere(); }
    bool IsOpen() const;
    Pace pace() const { return pace_; }
    // The rate the infrared adapter answered its probe at in the last open;
    // 0 when that open had no adapter or found none.
    uint32_t adapterRate() const { return adapterRate_; }

    // One command line out, one reply line back into state.data.
    int32_t ExchangeCommand(const std::string& commandLine);  // 1 reply, 0 none
    // The same exchange, saying also whether the line gave out (failed, or
    // kept sending without an end) rather than the terminal not answering.
    struct Exchanged {
        bool replied;
        bool lineGaveOut;
    };
    Exchanged Exchange(const std::string& commandLine);

    // Queries and housekeeping.
    int32_t PingTerminal();
    int32_t GetFreeMemory();
    int32_t GetSerialNumber();
    int32_t GetTerminalTime();
    int32_t SetTerminalTime();
    int32_t GetCurrentState();
    int32_t GetDocumentCount(int32_t document);
    int32_t GetDatabaseCount(int32_t database);
    int32_t ClearDocument(int32_t document);
    int32_t ClearTerminalDatabase(int32_t database);

    // Record transfer.
    int32_t GetDocumentRecord(int32_t document);   // 1 record, 0 end, -1 failure
    int32_t GetDatabaseRecord(int32_t database);   // 1 record, 0 end, -1 failure
    int32_t PutDatabaseRecord(int32_t database);   // 1 stored, 0 not
    int32_t FinishLoad();                          // 1 confirmed, 0 not

private:
    // Runs a script's operation; when it found the port's device gone (it
    // ended with code 2), the port is closed after it.
    template <class Operation>
    int32_t ClosingAGonePort(Operation&& operation) {
        const int32_t value = operation();
        CloseIfGone();
        return value;
    }
    void CloseIfGone();
    // Closes the port; the ledger hears that the line was cut.
    void CloseLine();
    int32_t LoadRecord(int32_t database);
    // Reads the database's count until two readings agree; false when the
    // line gave out meanwhile.
    bool AskCount(int32_t database);
    bool StoredBeforeTheCut(int32_t database, const std::string& recordLine);
    void WaitForOwedReplies();
    void AskForRefusedAgain(Store store, uint64_t answerId);

    SerialLine& line_;
    Clock& clock_;
    const LocalTimeSource& localTime_;
    ComponentState& state_;
    Pace pace_ = Pace::Standard;
    uint32_t adapterRate_ = 0;
    ReplyLedger ledger_{clock_};
    DatabaseCounts databaseCounts_;
    std::optional<CutOffCopy> cutOffCopy_;  // kept for an attach to the same port
    std::optional<int32_t> loadingInto_;     // the database of the load Finish ends
    std::string lastPortName_;  // of the last open, for the ledger
};

}  // namespace quill
