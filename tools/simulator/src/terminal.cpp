#include "terminal.h"

#include <cctype>

#include "record_codec.h"

namespace quillsim {
namespace {

constexpr unsigned char kProbeByte = 0x0F;
constexpr unsigned char kSwitchedOverByte = 0x51;  // the last of the adapter's switching bytes
constexpr std::size_t kMaxLineLength = 4096;
constexpr std::size_t kSetClockLength = 17;  // "SST" and fourteen digits
constexpr std::size_t kCommandNameLength = 3;

const Bytes kAck = "ACK";
const Bytes kNak = "NAK";
const Bytes kOver = "OVER";
const Bytes kAckOver = "ACKOVER";
const Bytes kOk = "OK";
const Bytes kFull = "FULL";

bool allDigits(const Bytes& text) {
  if (text.empty()) return false;
  for (unsigned char c : text) {
    if (!std::isdigit(c)) return false;
  }
  return true;
}

const char* storeName(Store store) { return store == Store::Document ? "document" : "database"; }

}  // namespace

Terminal::Terminal(Scenario scenario) : sc_(std::move(scenario)) {}

Reaction Terminal::receive(const Arrival& arrival, const LineState& line) {
  Reaction r;
  Bytes unheard;
  for (std::size_t i = 0; i < arrival.bytes.size(); ++i) {
    unsigned char byte = static_cast<unsigned char>(arrival.bytes[i]);
    if (!line.rts) {
      adapterByte(byte, line, r);
    } else if (arrival.busy) {
      unheard += static_cast<char>(byte);
    } else if (sc_.behindAdapter && !adapterSwitched_) {
      r.events.push_back("terminal cannot hear byte " + hexByte(byte) + " at " + std::to_string(line.baud) +
                         " baud: the adapter is not switched over");
    } else if (sc_.lineBaud && line.baud != *sc_.lineBaud) {
      r.events.push_back("terminal ignores byte " + hexByte(byte) + " at " + std::to_string(line.baud) +
                         " baud (it listens at " + std::to_string(*sc_.lineBaud) + ")");
    } else {
      terminalByte(byte, i < arrival.flipped.size() && arrival.flipped[i], r);
    }
  }
  if (!unheard.empty()) r.events.push_back("busy: dropped " + toHex(unheard));
  return r;
}

bool Terminal::finished() const {
  return sc_.stopAfterCommands && linesSeen_ >= *sc_.stopAfterCommands;
}

std::string Terminal::dump() const {
  std::string out = "clock " + escape(sc_.clock) + "\n";
  for (int n = kFirstDatabase; n <= kLastDatabase; ++n) {
    const auto& db = sc_.databases[n];
    for (std::size_t i = 0; i < db.size(); ++i) {
      out += "database " + std::to_string(n) + " " + std::to_string(i) + " " + escape(db[i]) + "\n";
    }
  }
  return out;
}

void Terminal::adapterByte(unsigned char byte, const LineState& line, Reaction& r) {
  std::string where = " at " + std::to_string(line.baud) + " baud";
  // A probe starts the adapter's set-up afresh; its last switching byte
  // opens the way to the terminal.
  if (byte == kProbeByte) adapterSwitched_ = false;
  if (sc_.adapter && byte == kProbeByte && line.baud == sc_.adapter->baud) {
    r.events.push_back("adapter answers probe " + hexByte(byte) + where);
    r.output.push_back(Chunk{0, sc_.adapter->answer});
    return;
  }
  r.events.push_back("adapter takes byte " + hexByte(byte) + where + ", no answer");
  if (sc_.adapter && byte == kSwitchedOverByte && line.baud == sc_.adapter->baud) {
    adapterSwitched_ = true;
    if (sc_.behindAdapter) r.events.push_back("adapter switched over by byte " + hexByte(byte) + where);
  }
}

void Terminal::terminalByte(unsigned char byte, bool flipped, Reaction& r) {
  if (flipped) ++flipsInLine_;
  if (byte != static_cast<unsigned char>(kCr)) {
    if (line_.size() < kMaxLineLength) {
      line_ += static_cast<char>(byte);
    } else {
      lineOverflow_ = true;
    }
    return;
  }
  Bytes complete;
  complete.swap(line_);
  flipsInCurrent_ = flipsInLine_;
  flipsInLine_ = 0;
  if (lineOverflow_) {
    lineOverflow_ = false;
    r.events.push_back("line longer than " + std::to_string(kMaxLineLength) + " bytes dropped");
    return;
  }
  handleLine(complete, r);
}

void Terminal::handleLine(const Bytes& line, Reaction& r) {
  ++linesSeen_;
  currentLine_ = line;
  answeringRecord_ = false;
  r.events.push_back("line " + std::to_string(linesSeen_) + " \"" + escape(line) + "\"" + flipNote("with "));
  if (sc_.silent || linesSeen_ <= sc_.silentFirst) {
    r.events.push_back("silent");
    return;
  }
  std::optional<Command> cmd = parseCommand(line);
  if (loading_ && !cmd) {
    answeringRecord_ = true;
    answerUploadRecord(line, r);
    return;
  }
  if (line != kNak) commitPending();
  if (loading_ && cmd->name != "PDB" && cmd->name != kOver) {
    loading_ = false;
    r.events.push_back("load mode left without OVER");
  }
  for (const FixedReply& fixed : sc_.fixedReplies) {
    if (patternMatches(fixed.pattern, line)) {
      respondLine(fixed.text, r);
      return;
    }
  }
  dispatch(line, cmd, r);
}

void Terminal::dispatch(const Bytes& line, const std::optional<Command>& cmd, Reaction& r) {
  if (!cmd) return respondLine(sc_.unknownReply, r);
  const std::string& name = cmd->name;
  if (name == "NAK") return resend(r);
  if (name == "PNG") return respondLine(kAck, r);
  if (name == "GFM") return respondLine(sc_.freeMemory, r);
  if (name == "GSN") return respondLine(sc_.serial, r);
  if (name == "GST") return respondLine(sc_.clock, r);
  if (name == "GCS") return respondLine(sc_.state, r);
  if (name == "SST") {
    sc_.clock = line.substr(kCommandNameLength);
    r.events.push_back("clock set to " + sc_.clock);
    return respondLine(kOk, r);
  }
  if (name == kOver) {
    if (!loading_) return respondLine(sc_.unknownReply, r);
    loading_ = false;
    r.events.push_back("load of database " + std::to_string(loadDatabase_) + " finished");
    return respondLine(kAck, r);
  }
  Store store = (name == "GDC" || name == "CDC" || name == "GDF") ? Store::Document : Store::Database;
  if (!inRange(store, cmd->number)) return respondLine(sc_.unknownReply, r);
  int n = *cmd->number;
  if (name == "GDC" || name == "GRC") {
    const auto& overrides = store == Store::Document ? sc_.documentCountReplies : sc_.databaseCountReplies;
    auto found = overrides.find(n);
    return respondLine(found != overrides.end() ? found->second : std::to_string(records(store, n).size()), r);
  }
  if (name == "CDC" || name == "CDB") return clearStore(store, n, r);
  if (name == "GDF" || name == "GDB") return sendNextRecord(store, n, r);
  // PDB
  loading_ = true;
  loadDatabase_ = n;
  r.events.push_back("load mode for database " + std::to_string(n));
  respondLine(kAck, r);
}

void Terminal::answerUploadRecord(const Bytes& line, Reaction& r) {
  if (sc_.loadSilent) {
    r.events.push_back("record not answered (load-silent)");
    return;
  }
  UploadRecord record = decodeUploadLine(line);
  if (!record.checksumOk) {
    r.events.push_back("record refused: bad checksum");
    return respondLine(kNak, r);
  }
  if (sc_.fullAfter && loadedCount_ >= *sc_.fullAfter) {
    r.events.push_back("record refused: memory full");
    return respondLine(kFull, r);
  }
  auto& db = sc_.databases[loadDatabase_];
  db.push_back(record.text);
  ++loadedCount_;
  r.events.push_back("stored database " + std::to_string(loadDatabase_) + " record " +
                     std::to_string(db.size() - 1) + " \"" + escape(record.text) + "\"" +
                     flipNote("received with "));
  respondLine(kAck, r);
}

void Terminal::sendNextRecord(Store store, int number, Reaction& r) {
  int position = cursor(store, number);
  if (position >= static_cast<int>(records(store, number).size())) {
    bool ackOver = false;
    for (const RecordSelector& s : sc_.ackOver) ackOver = ackOver || s.matches(store, number, position);
    r.events.push_back(std::string(storeName(store)) + " " + std::to_string(number) + " has no more records");
    return respondLine(ackOver ? kAckOver : kOver, r);
  }
  pending_ = Position{store, number, position};
  respond(recordChunks(*pending_, r), r);
}

std::vector<Chunk> Terminal::recordChunks(const Position& p, Reaction& r) {
  int sends = ++sendCounts_[std::make_tuple(p.store, p.number, p.index)];
  bool corrupt = false;
  for (const Corruption& c : sc_.corruptions) {
    corrupt = corrupt || (c.where.matches(p.store, p.number, p.index) && sends <= c.times);
  }
  Bytes line = encodeDownloadLine(sc_.leadByte, records(p.store, p.number)[p.index], corrupt);
  r.events.push_back(std::string("send ") + storeName(p.store) + " " + std::to_string(p.number) + " record " +
                     std::to_string(p.index) + " (send " + std::to_string(sends) +
                     (corrupt ? ", checksum corrupted)" : ")"));
  for (const AckPrefix& a : sc_.ackPrefixes) {
    if (!a.where.matches(p.store, p.number, p.index)) continue;
    if (a.gapMs == 0) return {Chunk{0, kAck + kCr + line}};
    return {Chunk{0, kAck + kCr}, Chunk{a.gapMs, line, Pace::AfterPrevious}};
  }
  return {Chunk{0, line}};
}

void Terminal::resend(Reaction& r) {
  if (pending_) {
    r.events.push_back("NAK: record sent again");
    return respond(recordChunks(*pending_, r), r);
  }
  if (!lastReply_.empty()) {
    r.events.push_back("NAK: last reply sent again");
    return respond({Chunk{0, lastReply_}}, r);
  }
  respondLine(sc_.unknownReply, r);
}

void Terminal::clearStore(Store store, int number, Reaction& r) {
  if (sc_.clearReply == kOk) {
    records(store, number).clear();
    cursor(store, number) = 0;
    for (auto it = sendCounts_.begin(); it != sendCounts_.end();) {
      bool same = std::get<0>(it->first) == store && std::get<1>(it->first) == number;
      it = same ? sendCounts_.erase(it) : std::next(it);
    }
    r.events.push_back(std::string(storeName(store)) + " " + std::to_string(number) + " cleared");
  }
  respondLine(sc_.clearReply, r);
}

void Terminal::commitPending() {
  if (!pending_) return;
  cursor(pending_->store, pending_->number) = pending_->index + 1;
  pending_.reset();
}

void Terminal::respond(const std::vector<Chunk>& chunks, Reaction& r) {
  std::vector<Chunk> paced = chunks;
  for (Chunk& c : paced) c.line = linesSeen_;
  if (!paced.empty()) paced.front().delayMs += replyDelayMs();
  for (const Pacing& t : sc_.trickles) {
    if (!patternMatches(t.pattern, currentLine_)) continue;
    std::vector<Chunk> single;
    for (const Chunk& c : paced) {
      for (std::size_t i = 0; i < c.bytes.size(); ++i) {
        single.push_back(i == 0 ? Chunk{c.delayMs, c.bytes.substr(i, 1), c.pace, c.line}
                                : Chunk{t.milliseconds, c.bytes.substr(i, 1), Pace::AfterPrevious, c.line});
      }
    }
    paced.swap(single);
    break;
  }
  lastReply_.clear();
  for (const Chunk& c : paced) lastReply_ += c.bytes;
  r.output.insert(r.output.end(), paced.begin(), paced.end());
}

void Terminal::respondLine(const Bytes& text, Reaction& r) { respond({Chunk{0, text + kCr}}, r); }

// An upload record's answer waits for the load's acknowledgement delay when
// the scenario has one; any other answer waits for the first matching delay.
int Terminal::replyDelayMs() const {
  if (answeringRecord_ && sc_.ackDelayMs) return *sc_.ackDelayMs;
  for (const Pacing& d : sc_.delays) {
    if (patternMatches(d.pattern, currentLine_)) return d.milliseconds;
  }
  return 0;
}

// " (<lead>K flipped bytes)" when line noise changed bytes of the line being
// answered; empty otherwise.
std::string Terminal::flipNote(const char* lead) const {
  if (flipsInCurrent_ == 0) return {};
  return std::string(" (") + lead + std::to_string(flipsInCurrent_) +
         (flipsInCurrent_ == 1 ? " flipped byte)" : " flipped bytes)");
}

std::optional<Terminal::Command> Terminal::parseCommand(const Bytes& line) {
  static const char* const kPlain[] = {"PNG", "GFM", "GSN", "GST", "GCS", "NAK", "OVER"};
  static const char* const kNumbered[] = {"GDC", "GRC", "CDC", "CDB", "GDF", "GDB", "PDB"};
  for (const char* plain : kPlain) {
    if (line == plain) return Command{plain, std::nullopt};
  }
  if (line.size() <= kCommandNameLength) return std::nullopt;
  std::string name = line.substr(0, kCommandNameLength);
  Bytes argument = line.substr(kCommandNameLength);
  if (name == "SST" && line.size() == kSetClockLength && allDigits(argument)) return Command{name, std::nullopt};
  for (const char* numbered : kNumbered) {
    if (name != numbered || !allDigits(argument)) continue;
    if (argument.size() > 6) return Command{name, -1};
    return Command{name, std::stoi(argument)};
  }
  return std::nullopt;
}

bool Terminal::inRange(Store store, const std::optional<int>& number) {
  if (!number) return false;
  return store == Store::Document ? (*number >= kFirstDocument && *number <= kLastDocument)
                                  : (*number >= kFirstDatabase && *number <= kLastDatabase);
}

std::vector<Bytes>& Terminal::records(Store store, int number) {
  return store == Store::Document ? sc_.documents[number] : sc_.databases[number];
}

int& Terminal::cursor(Store store, int number) {
  return store == Store::Document ? documentCursor_[number] : databaseCursor_[number];
}

}  // namespace quillsim
