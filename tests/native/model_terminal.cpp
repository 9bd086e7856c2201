#include "model_terminal.h"

#include <algorithm>

#include "record_lines.h"

namespace quill::fake {
namespace {

constexpr uint32_t kPromptMs = 20;  // a reply without a fault, from its line

const std::string kCr = "\r";

constexpr uint32_t kStallAfterBytes = 3;
constexpr uint32_t kFreezeAfterMs = 30;
constexpr uint32_t kFreezeForMs = 300;
constexpr uint32_t kUnplugByteGapMs = 5;  // a reply cut by the cable comes a byte at a time

std::optional<uint32_t> LateBy(LineFault fault) {
    switch (fault) {
        case LineFault::Late150: return 150;
        case LineFault::Late300:
        case LineFault::LateLostCr:
        case LineFault::LateGarbled: return 300;
        case LineFault::Late450: return 450;
        default: return std::nullopt;
    }
}

uint32_t ByteGap(LineFault fault) {
    if (fault == LineFault::Slow10) return 10;
    if (fault == LineFault::Slow45) return 45;
    if (fault == LineFault::UnplugInReply) return kUnplugByteGapMs;
    return 0;
}

std::optional<uint32_t> StallFor(LineFault fault) {
    if (fault == LineFault::Stall250) return 250;
    if (fault == LineFault::Stall500) return 500;
    return std::nullopt;
}

// A flipped bit that leaves no CR behind.
char Flipped(char byte) {
    const char flipped = static_cast<char>(byte ^ 0x01);
    return flipped == '\r' ? static_cast<char>(byte ^ 0x02) : flipped;
}

std::string Spoiled(std::string reply, LineFault fault) {
    const size_t length = reply.size() - 1;  // before the CR
    if (length == 0) return reply;
    switch (fault) {
        case LineFault::BadChecksum:
        case LineFault::LateGarbled:
            reply[length >= 3 ? length - 2 : length - 1] = Flipped(reply[length >= 3 ? length - 2 : length - 1]);
            break;
        case LineFault::BadText: reply[length / 2] = Flipped(reply[length / 2]); break;
        case LineFault::BadLead: reply[0] = Flipped(reply[0]); break;
        case LineFault::LostCr:
        case LineFault::LateLostCr: reply.pop_back(); break;
        case LineFault::GarbledTwice: reply[length / 2] = Flipped(reply[length / 2]); break;
        default: break;
    }
    return reply;
}

bool AllDigits(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A line the terminal takes for a command: the name and its number, if any.
struct Command {
    std::string name;
    int number = -1;
};

std::optional<Command> ParseCommand(const std::string& line) {
    for (const char* plain : {"PNG", "GFM", "GSN", "GST", "GCS", "NAK", "OVER"})
        if (line == plain) return Command{plain};
    if (line.size() <= 3) return std::nullopt;
    const std::string name = line.substr(0, 3), number = line.substr(3);
    for (const char* numbered : {"GDC", "GRC", "CDC", "CDB", "GDF", "GDB", "PDB"})
        if (name == numbered && AllDigits(number) && number.size() < 6) return Command{name, std::stoi(number)};
    return std::nullopt;
}

// Upload lines carry the checksum high byte first.
std::optional<std::string> UploadText(const std::string& line) {
    if (line.size() < 2) return std::nullopt;
    const std::string text = line.substr(0, line.size() - 2);
    const unsigned sum = Sum(text);
    if (static_cast<uint8_t>(line[line.size() - 2]) != NotCr(sum >> 8)) return std::nullopt;
    if (static_cast<uint8_t>(line[line.size() - 1]) != NotCr(sum & 0xFF)) return std::nullopt;
    return text;
}

}  // namespace

const char* Describe(LineFault fault) {
    switch (fault) {
        case LineFault::None: return "heard, answered at once";
        case LineFault::Unheard: return "not heard";
        case LineFault::HeardGarbled: return "heard garbled";
        case LineFault::Late150: return "answered 150 ms late";
        case LineFault::Late300: return "answered 300 ms late";
        case LineFault::Late450: return "answered 450 ms late";
        case LineFault::ReplyLost: return "answered, the reply lost whole";
        case LineFault::BadChecksum: return "answered with a checksum byte flipped";
        case LineFault::BadText: return "answered with a text byte flipped";
        case LineFault::BadLead: return "answered with its first byte flipped";
        case LineFault::LostCr: return "answered, the reply's CR lost";
        case LineFault::Slow10: return "answered 10 ms a byte";
        case LineFault::Slow45: return "answered 45 ms a byte";
        case LineFault::Stall250: return "answered, its reply stalled 250 ms after 3 bytes";
        case LineFault::Stall500: return "answered, its reply stalled 500 ms after 3 bytes";
        case LineFault::HostFrozen: return "answered, the host frozen 300 ms from 30 ms after the line";
        case LineFault::LateLostCr: return "answered 300 ms late, the reply's CR lost";
        case LineFault::GarbledTwice: return "heard garbled, the refusal garbled too";
        case LineFault::AckLeadIn: return "answered, a record or OVER led in by ACK";
        case LineFault::Full: return "a copy answered FULL";
        case LineFault::UnplugUnheard: return "the cable pulled out as it goes, not heard";
        case LineFault::UnplugHeard: return "heard, the cable pulled out before the reply";
        case LineFault::UnplugInReply: return "answered, the cable pulled out after 3 bytes of the reply";
        case LineFault::UnplugReplied: return "answered, the cable pulled out 20 ms after the reply came";
        case LineFault::LateGarbled: return "answered 300 ms late, a checksum byte flipped";
    }
    return "?";
}

bool PullsTheCable(LineFault fault) {
    return fault == LineFault::UnplugUnheard || fault == LineFault::UnplugHeard ||
           fault == LineFault::UnplugInReply || fault == LineFault::UnplugReplied;
}

ModelTerminal::ModelTerminal(FakeLine& line, VirtualClock& clock, std::map<StoreName, int> sizes)
    : line_(line), clock_(clock) {
    for (const auto& [store, size] : sizes)
        for (int i = 0; i < size; ++i)
            records_[store].texts.push_back(std::string(1, store.kind) + std::to_string(store.number) + "-" +
                                            std::to_string(i));
    line_.onWrite = [this](const std::string& bytes) { Written(bytes); };
}

int ModelTerminal::MovedPast(StoreName store) const {
    const auto records = records_.find(store);
    return records == records_.end() ? 0 : records->second.place;
}

std::vector<std::vector<std::string>> ModelTerminal::MovedPastTexts(StoreName store) const {
    const auto records = records_.find(store);
    return records == records_.end() ? std::vector<std::vector<std::string>>(1) : records->second.movedPast;
}

int ModelTerminal::Clearings(StoreName store) const { return static_cast<int>(MovedPastTexts(store).size()) - 1; }

int ModelTerminal::EndsSaid(StoreName store) const {
    const auto records = records_.find(store);
    return records == records_.end() ? 0 : records->second.ends;
}

void ModelTerminal::StoreElsewhere(int database, const std::string& text) {
    log_.push_back(std::to_string(clock_.NowMs()) + " database " + std::to_string(database) + " given \"" + text +
                   "\" on the terminal");
    records_[{'B', database}].texts.push_back(text);
}

void ModelTerminal::CleanLine() {
    if (static_cast<int>(faults.size()) > linesWritten_) faults.resize(static_cast<size_t>(linesWritten_));
}

const std::vector<std::string>& ModelTerminal::Stored(int database) const {
    static const std::vector<std::string> kNone;
    const auto stored = stored_.find(database);
    return stored == stored_.end() ? kNone : stored->second;
}

void ModelTerminal::HearElsewhere(const std::string& line) {
    log_.push_back(std::to_string(clock_.NowMs()) + " elsewhere \"" + line + "\"");
    Commit();
    loading_ = false;
    lastReply_ = "ACK\r";
}

void ModelTerminal::Written(const std::string& bytes) {
    const int k = linesWritten_++;
    const LineFault fault = k < static_cast<int>(faults.size()) ? faults[static_cast<size_t>(k)] : LineFault::None;
    std::string line = bytes;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string shown;
    for (char c : line) shown += (c >= 0x20 && c < 0x7F) ? c : '.';
    log_.push_back(std::to_string(clock_.NowMs()) + " line " + std::to_string(k) + " \"" + shown + "\": " +
                   Describe(fault));
    const uint64_t now = clock_.NowMs();
    wire_.push_back(
        {line, fault, pending_.has_value(), false, now, 0, {}, PendingText(), context, attaches, false, 0, {}, call});
    if (fault == LineFault::HostFrozen) line_.FreezeHostAt(now + kFreezeAfterMs, kFreezeForMs);
    if (fault == LineFault::UnplugUnheard) PullCable(now);
    if (fault == LineFault::Unheard || fault == LineFault::UnplugUnheard) return;
    const bool garbled = fault == LineFault::HeardGarbled || fault == LineFault::GarbledTwice;
    wire_.back().heard = !garbled;
    std::string reply = Answer(garbled ? "\x7F" + line : line, garbled);
    lastReply_ = reply;
    wire_.back().reply = reply;
    wire_.back().answeredRecord = reply.size() > 0 && reply[0] == '#';
    if (wire_.back().answeredRecord) wire_.back().record = PendingText();
    if (fault == LineFault::UnplugHeard) {
        PullCable(now + 5);
        log_.back() += ", its reply lost with the cable";
        return;
    }
    if (fault == LineFault::AckLeadIn && (wire_.back().answeredRecord || reply == "OVER\r"))
        reply = (reply == "OVER\r" ? "ACK" : "ACK\r") + reply;
    Send(reply, fault);
}

// What the terminal does with a line and answers to it.
std::string ModelTerminal::Answer(const std::string& line, bool garbled) {
    const std::optional<Command> command = garbled ? std::nullopt : ParseCommand(line);
    if (loading_ && !command) {
        const std::optional<std::string> text = garbled ? std::nullopt : UploadText(line);
        if (!text) return "NAK\r";
        if (!wire_.empty() && wire_.back().fault == LineFault::Full) return "FULL\r";
        stored_[loadDatabase_].push_back(*text);
        records_[{'B', loadDatabase_}].texts.push_back(*text);
        return "ACK\r";
    }
    if (line != "NAK") Commit();
    if (loading_ && (!command || (command->name != "PDB" && command->name != "OVER"))) loading_ = false;
    if (!command) return "ERR\r";
    const std::string& name = command->name;
    if (name == "NAK") {
        if (pending_) return ReceivedLine(PendingText());
        return lastReply_;
    }
    if (name == "PNG") return "ACK\r";
    if (name == "OVER") {
        if (!loading_) return "ERR\r";
        loading_ = false;
        return "ACK\r";
    }
    if (name == "GDF" || name == "GDB") return NextRecord({name == "GDF" ? 'D' : 'B', command->number});
    if (name == "GRC" || name == "GDC") {
        const auto records = records_.find({name == "GRC" ? 'B' : 'D', command->number});
        return std::to_string(records == records_.end() ? 0 : records->second.texts.size()) + kCr;
    }
    if (name == "CDC" || name == "CDB") {
        Clear({name == "CDC" ? 'D' : 'B', command->number});
        return "OK\r";
    }
    if (name == "PDB") {
        loading_ = true;
        loadDatabase_ = command->number;
        return "ACK\r";
    }
    return "ERR\r";
}

std::string ModelTerminal::NextRecord(StoreName store) {
    Records& records = records_[store];
    const int index = records.place;
    if (index >= static_cast<int>(records.texts.size())) {
        ++records.ends;
        return "OVER\r";
    }
    pending_ = Pending{store, index};
    return ReceivedLine(records.texts[static_cast<size_t>(index)]);
}

std::string ModelTerminal::PendingText() const {
    if (!pending_) return {};
    return records_.at(pending_->store).texts[static_cast<size_t>(pending_->index)];
}

void ModelTerminal::Clear(StoreName store) {
    Records& records = records_[store];
    records.texts.clear();
    records.place = 0;
    records.ends = 0;
    records.movedPast.emplace_back();
}

void ModelTerminal::PullCable(uint64_t atMs) {
    line_.UnplugAt(atMs);
    wire_.back().cableOutMs = atMs;
}

// A line other than NAK after a record moves the place past it.
void ModelTerminal::Commit() {
    if (!pending_) return;
    Records& records = records_[pending_->store];
    records.place = pending_->index + 1;
    records.movedPast.back().push_back(records.texts[static_cast<size_t>(pending_->index)]);
    pending_.reset();
}

// Replies go out in the order of their lines, each at its own time or
// straight after the one before.
void ModelTerminal::Send(std::string reply, LineFault fault) {
    if (fault == LineFault::ReplyLost) return;
    const uint64_t now = clock_.NowMs();
    const uint64_t start = std::max<uint64_t>(now + LateBy(fault).value_or(kPromptMs), lastReplyEndMs_);
    const uint32_t gap = ByteGap(fault);
    reply = Spoiled(std::move(reply), fault);
    const uint32_t stall = StallFor(fault).value_or(0);
    if (stall != 0 && reply.size() > kStallAfterBytes) {
        line_.QueueAt(start, reply.substr(0, kStallAfterBytes), gap);
        line_.QueueAt(start + stall, reply.substr(kStallAfterBytes), gap);
        lastReplyEndMs_ = start + stall + gap * (reply.size() - kStallAfterBytes - 1) + 1;
    } else {
        line_.QueueAt(start, reply, gap);
        lastReplyEndMs_ = start + gap * (reply.size() - 1) + 1;
    }
    wire_.back().replyEndMs = lastReplyEndMs_;
    if (fault == LineFault::UnplugInReply) PullCable(start + kStallAfterBytes * kUnplugByteGapMs - 2);
    if (fault == LineFault::UnplugReplied) PullCable(lastReplyEndMs_ + 20);
    std::string shown;
    for (char c : reply) shown += (c >= 0x20 && c < 0x7F) ? std::string(1, c) : c == '\r' ? "\\r" : ".";
    log_.back() += ", reply \"" + shown + "\" from " + std::to_string(start) + " ms";
}

}  // namespace quill::fake
