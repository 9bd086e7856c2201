// The traffic log: every byte received and sent, and what the terminal made
// of it, one line each:
//   <ms> baud=<baud> RTS=<0|1> DTR=<0|1> RX <hex bytes> |<printable>|
//   <ms> baud=<baud> RTS=<0|1> DTR=<0|1> TX <hex bytes> |<printable>|
//   <ms> baud=<baud> RTS=<0|1> DTR=<0|1> EV <event text>
// <ms> is CLOCK_MONOTONIC in milliseconds, the clock of the modem-line log.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "bytes.h"

namespace quillsim {

std::uint64_t monotonicMs();

struct LineSnapshot {
  unsigned baud = 0;
  bool rts = true;
  bool dtr = true;
};

class TrafficLog {
 public:
  // An empty path logs nothing.
  explicit TrafficLog(const std::string& path);
  ~TrafficLog();
  TrafficLog(const TrafficLog&) = delete;
  TrafficLog& operator=(const TrafficLog&) = delete;

  bool failed() const { return failed_; }
  void received(const Bytes& bytes, const LineSnapshot& line) { write(line, "RX " + traffic(bytes)); }
  void sent(const Bytes& bytes, const LineSnapshot& line) { write(line, "TX " + traffic(bytes)); }
  void event(const std::string& text, const LineSnapshot& line) { write(line, "EV " + text); }

 private:
  static std::string traffic(const Bytes& bytes) { return toHex(bytes) + " |" + toPrintable(bytes) + "|"; }
  void write(const LineSnapshot& line, const std::string& what);

  std::FILE* file_ = nullptr;
  bool failed_ = false;
};

}  // namespace quillsim
