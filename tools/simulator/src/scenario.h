// What the simulated terminal holds and how it misbehaves; read from a
// scenario file (format in ../README.md).
#pragma once

#include <array>
#include <cstdint>
#include <istream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "bytes.h"

namespace quillsim {

constexpr int kFirstDocument = 0;
constexpr int kLastDocument = 9;
constexpr int kFirstDatabase = 1;
constexpr int kLastDatabase = 3;

enum class Store { Document, Database };

// Which records a fault applies to; an empty number or record means "any".
struct RecordSelector {
  Store store = Store::Document;
  std::optional<int> number;
  std::optional<int> record;

  bool matches(Store s, int n, int r) const;
};

// A command pattern: "*" matches every command line; a three-letter pattern
// matches every line that begins with it; any other pattern matches the whole line.
bool patternMatches(const std::string& pattern, const Bytes& line);

struct FixedReply {
  std::string pattern;
  Bytes text;
};

struct Pacing {
  std::string pattern;
  int milliseconds = 0;
};

struct Corruption {
  RecordSelector where;
  int times = 0;
};

struct AckPrefix {
  RecordSelector where;
  int gapMs = 0;  // 0: the ACK line and the record go out in one write
};

// Bit errors on the line: each byte, in either direction, has one random bit
// flipped with this probability.
struct Noise {
  double probability = 0;
  std::uint64_t seed = 0;
};

// The cable pulled out as the reply to a line goes out: the pty closes and
// its link goes; a new pty is linked in its place later, or never.
struct Unplug {
  int line = 0;                   // the terminal's line (from 1) whose reply is cut
  int bytesSent = 0;              // how much of that reply goes out first
  std::optional<int> backAfterMs;  // plugged back this long after
};

struct IrAdapter {
  unsigned baud = 0;
  Bytes answer;  // what a probe byte 0x0F brings back
};

struct Scenario {
  Bytes serial = "QT000001";
  Bytes clock = "20240101120000";
  Bytes state = "READY";
  Bytes freeMemory = "32000";
  std::map<int, Bytes> documentCountReplies;
  std::map<int, Bytes> databaseCountReplies;
  Bytes clearReply = "OK";
  Bytes unknownReply = "ERR";
  char leadByte = '#';
  std::optional<unsigned> lineBaud;
  std::array<std::vector<Bytes>, kLastDocument + 1> documents;
  std::array<std::vector<Bytes>, kLastDatabase + 1> databases;  // index 0 unused

  std::optional<IrAdapter> adapter;
  // The terminal hears the line only through the adapter, once the adapter
  // has been switched over (0x51 at its baud), until the next probe byte.
  bool behindAdapter = false;
  bool silent = false;
  int silentFirst = 0;
  std::vector<FixedReply> fixedReplies;
  std::vector<Pacing> delays;
  std::vector<Pacing> trickles;
  std::vector<Corruption> corruptions;
  std::vector<AckPrefix> ackPrefixes;
  std::vector<RecordSelector> ackOver;
  std::optional<int> fullAfter;
  bool loadSilent = false;
  std::optional<int> ackDelayMs;  // the answer to each upload record goes out this late
  std::optional<Noise> noise;
  int busyMs = 0;  // after each reply the terminal hears nothing for this long
  std::vector<Unplug> unplugs;
  std::optional<int> stopAfterCommands;
  std::optional<int> stopIdleMs;
};

struct ScenarioParse {
  std::optional<Scenario> scenario;
  std::string error;  // "line N: what is wrong" when scenario is empty
};

ScenarioParse parseScenario(std::istream& in);

// The deterministic text of generated record `index` (0-based) of a store.
Bytes generatedRecord(Store store, int number, int index);

}  // namespace quillsim
