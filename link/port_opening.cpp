// Opening and closing the port, and setting up the infrared adapter of the
// cradle. Everything meant for the adapter itself goes out with RTS low; the
// terminal is reached with RTS high.

#include "core/result_codes.h"
#include "link/protocol.h"
#include "link/terminal_link.h"

namespace quill {
namespace {

class InfraredAdapter {
public:
    InfraredAdapter(SerialLine& line, Clock& clock, uint32_t openRate)
        : line_(line), clock_(clock), openRate_(openRate) {}

    // The probe rate the adapter answered at, once it has been switched
    // over (the line then runs at the adapter's terminal rate); 0 when it
    // answered at none.
    uint32_t SetUp() {
        Apply(openRate_, true);
        const uint32_t found = FirstAnsweringRate();
        if (found == 0) return 0;
        clock_.Sleep(protocol::kAdapterSettleMs);
        Apply(found, false);
        for (uint8_t command : protocol::kAdapterSwitchBytes) {
            line_.Write(&command, 1);
            clock_.Sleep(protocol::kAdapterByteGapMs);
        }
        Apply(protocol::kAdapterTerminalRate, true);
        return found;
    }

private:
    uint32_t FirstAnsweringRate() {
        for (uint32_t rate : protocol::kAdapterProbeRates)
            if (Probe(rate)) return rate;
        return 0;
    }

    // Sends the probe byte with RTS low at `rate`; true when exactly that
    // byte comes back.
    bool Probe(uint32_t rate) {
        Apply(rate, false);
        line_.DiscardQueues();
        const uint8_t probe = protocol::kAdapterProbe;
        line_.Write(&probe, 1);
        const bool echoed = ReadEcho(probe);
        Apply(rate, true);
        return echoed;
    }

    bool ReadEcho(uint8_t expected) {
        if (line_.WaitForInput(protocol::kAdapterEchoWaitMs) != WaitOutcome::Received) return false;
        clock_.Sleep(protocol::kAdapterEchoSettleMs);
        uint8_t echo[protocol::kAdapterEchoCapacity];
        const size_t count = line_.ReadQueued(echo, sizeof echo);
        return count == 1 && echo[0] == expected;
    }

    // Changes rate and RTS and lets the adapter settle.
    void Apply(uint32_t rate, bool rtsHigh) {
        line_.Reconfigure(LineSettings{rate, rtsHigh});
        clock_.Sleep(protocol::kAdapterSettleMs);
    }

    SerialLine& line_;
    Clock& clock_;
    const uint32_t openRate_;
};

}  // namespace

int32_t TerminalLink::OpenPort(const ConnectionSettings& settings) {
    WaitForOwedReplies();
    line_.Close();
    pace_ = PaceFor(settings);
    adapterRate_ = 0;
    // Attaching anew to the same terminal keeps what it still owes and the
    // records held for later downloads; another port starts afresh.
    const std::string portName = PortName(settings.Port);
    ledger_.LineClosed();
    databaseCounts_.ForgetAll();  // taken anew after each attach
    if (portName != lastPortName_) {
        ledger_.Reset();
        cutOffCopy_.reset();
    }
    lastPortName_ = portName;
    if (!line_.Open(portName)) {
        state_.result = code::kCannotOpenPort;
        return 0;
    }
    const uint32_t rate = BaudRate(settings.Speed);
    if (!line_.Configure(LineSettings{rate, true})) {
        line_.Close();
        state_.result = code::kCannotConfigurePort;
        return 0;
    }
    if (settings.IsIrDA != 0) {
        adapterRate_ = InfraredAdapter(line_, clock_, rate).SetUp();
        if (adapterRate_ == 0) {
            line_.Close();
            state_.result = code::kCannotConfigureIrAdapter;
            return 0;
        }
    }
    state_.result = code::kSuccess;
    return 1;
}

void TerminalLink::ClosePort() {
    WaitForOwedReplies();
    AbandonPort();
}

void TerminalLink::AbandonPort() {
    CloseLine();
    state_.result = code::kSuccess;
}

void TerminalLink::CloseLine() {
    line_.Close();
    ledger_.LineClosed();
}

// What the terminal still sends would go with the closed port: a record for
// a later download among it. A record that came garbled, or cut short, is
// asked for again with NAK while the port is open: whatever reaches the
// terminal while it is closed (another program, the search's pings) would
// move it past that record. A NAK met with silence goes again after two
// silent waits, as a download's does. All of it within one limit: what is
// still owed then is left to its store when the line closes.
void TerminalLink::WaitForOwedReplies() {
    if (!line_.IsOpen()) return;
    const uint64_t closeByMs = clock_.NowMs() + protocol::kCloseLimitMs;
    // At the standard pace each read comes a settle after its wait.
    const uint64_t waitUntilMs = closeByMs - (pace_ == Pace::Standard ? protocol::kSettleBeforeReadMs : 0);
    auto take = [this](const uint8_t* bytes, size_t count) {
        return ledger_.Take(bytes, count, [this](const ReplyLine& reply) {
            ledger_.File(reply);
            return false;
        });
    };
    Receiver receiver(line_, clock_, pace_, waitUntilMs);
    if (ledger_.Owes()) receiver.Drain(take);
    std::optional<uint64_t> askedFor;  // the record this close asked for last
    int asked = 0, silentWaits = 0;
    for (;;) {
        ledger_.DropExpired(clock_.NowMs());
        if (!ledger_.Owes()) {
            const HandedOut* refused = ledger_.AnyRefused();
            if (refused == nullptr || asked == protocol::kFailedAttemptsBeforeGivingUp) return;
            const Store store = refused->store;
            const uint64_t answerId = refused->answerId;
            if (refused->mayHoldNext) ledger_.ReportLostBefore(store);
            AskForRefusedAgain(store, answerId);
            askedFor = answerId;
            ++asked;
            silentWaits = 0;
            continue;
        }
        const PassResult pass = receiver.RunPass(take);
        if (EndingCode(pass)) return;
        if (pass == PassResult::BytesTaken) silentWaits = 0;
        if (pass != PassResult::TimedOut || ++silentWaits != protocol::kTimeoutsBeforeResend || !askedFor) continue;
        const HandedOut* refused = ledger_.AnyRefused();
        if (refused != nullptr && refused->answerId == *askedFor && !ledger_.LineInProgress())
            AskForRefusedAgain(refused->store, *askedFor);
    }
}

void TerminalLink::AskForRefusedAgain(Store store, uint64_t answerId) {
    SendOwing(line_, clock_, ledger_, protocol::kRefuseRecord, ReplyKind::Record, store, false, answerId);
}

bool TerminalLink::IsOpen() const { return line_.IsOpen(); }

// Nothing more goes to a port whose device has gone: the next call finds it
// closed, and the script attaches again once the device is back. The ledger
// hears that the line was cut, as at any close, after the operation has
// given up what it waited for; an attach to the same port keeps it.
void TerminalLink::CloseIfGone() {
    if (line_.IsOpen() && line_.GoneError()) CloseLine();
}

}  // namespace quill
