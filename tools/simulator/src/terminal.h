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

// Bytes to send `delayMs` after the chunk before them went out (with nothing
// queued: after the bytes that caused them arrived).
struct Chunk {
  int delayMs = 0;
  Bytes bytes;
};

struct Reaction {
  std::vector<Chunk> output;
  std::vector<std::string> events;  // one readable line each, for the traffic log
};

class Terminal {
 public:
  explicit Terminal(Scenario scenario);

  Reaction receive(const Bytes& bytes, const LineState& line);

  // The scenario's command limit is reached.
  bool finished() const;

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
  void terminalByte(unsigned char byte, Reaction& r);
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
  Bytes line_;
  bool lineOverflow_ = false;
  Bytes currentLine_;  // the line being answered, for per-command pacing
  Bytes lastReply_;
};

}  // namespace quillsim
