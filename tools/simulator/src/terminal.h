// The simulated terminal and the infrared adapter in its cradle: bytes in,
// timed bytes out. No I/O here; the server feeds it and sends what it returns.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "bytes.h"
#include "scenario.h"

namespace quillsim {

// The line as it stood when bytes arrived.
struct LineState {
  unsigned baud = 0;
  bool rts = true;  // high: the terminal is addressed; low: the adapter is
  bool dtr = true;
};

// Where a chunk's delay counts from. The first chunk of a reply counts from
// the arrival of what it answers, so a reply that waits behind an earlier one
// is not held up by that one's delay as well; the rest of a reply (trickled
// bytes, a record after its ACK line) counts from the chunk before it.
enum class Pace { FromArrival, AfterPrevious };

// Bytes to send `delayMs` after the moment that `pace` names; never before the
// chunks queued ahead of them.
struct Chunk {
  int delayMs = 0;
  Bytes bytes;
  Pace pace = Pace::FromArrival;
  int line = 0;  // the terminal's line this answers; 0 for the adapter's answers
};

// Bytes as the terminal's port got them.
struct Arrival {
  Bytes bytes;
  std::vector<bool> flipped;  // per byte: changed by line noise; empty when none was
  bool busy = false;          // the terminal is still catching its breath after a reply
};

struct Reaction {
  std::vector<Chunk> output;
  std::vector<std::string> events;  // one readable line each, for the traffic log
};

class Terminal {
 public:
  explicit Terminal(Scenario scenario);

  Reaction receive(const Arrival& arrival, const LineState& line);

  // The scenario's command limit is reached.
  bool finished() const;

  // Lines heard so far (the number of the last one).
  int linesSeen() const { return linesSeen_; }

  // The clock and every record of the databases, one escaped record a line.
  std::string dump() const;

 private:
  struct Command {
    std::string name;        // three letters, or "OVER"
    std::optional<int> number;
  };
  struct Position {
    Store store;
    int number;
    int index;
  };

  void adapterByte(unsigned char byte, const LineState& line, Reaction& r);
  void terminalByte(unsigned char byte, bool flipped, Reaction& r);
  void handleLine(const Bytes& line, Reaction& r);
  void dispatch(const Bytes& line, const std::optional<Command>& cmd, Reaction& r);
  void answerUploadRecord(const Bytes& line, Reaction& r);
  void sendNextRecord(Store store, int number, Reaction& r);
  std::vector<Chunk> recordChunks(const Position& p, Reaction& r);
  void resend(Reaction& r);
  void clearStore(Store store, int number, Reaction& r);
  void commitPending();
  void respond(const std::vector<Chunk>& chunks, Reaction& r);
  void respondLine(const Bytes& text, Reaction& r);
  int replyDelayMs() const;
  std::string flipNote(const char* lead) const;

  static std::optional<Command> parseCommand(const Bytes& line);
  static bool inRange(Store store, const std::optional<int>& number);
  std::vector<Bytes>& records(Store store, int number);
  int& cursor(Store store, int number);

  Scenario sc_;
  std::map<int, int> documentCursor_;
  std::map<int, int> databaseCursor_;
  std::map<std::tuple<Store, int, int>, int> sendCounts_;
  std::optional<Position> pending_;
  bool loading_ = false;
  int loadDatabase_ = 0;
  int loadedCount_ = 0;
  int linesSeen_ = 0;
  bool adapterSwitched_ = false;  // see Scenario::behindAdapter
  Bytes line_;
  bool lineOverflow_ = false;
  int flipsInLine_ = 0;       // noise flips among the bytes of line_ (and its CR)
  int flipsInCurrent_ = 0;    // the same for the line being answered
  bool answeringRecord_ = false;  // the line being answered is an upload record
  Bytes currentLine_;  // the line being answered, for per-command pacing
  Bytes lastReply_;
};

}  // namespace quillsim
