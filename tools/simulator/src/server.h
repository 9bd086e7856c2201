// The simulator's event loop: the pty, the modem-line log, the terminal and
// the traffic log brought together.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "line_noise.h"
#include "modem_lines.h"
#include "pty_port.h"
#include "terminal.h"
#include "traffic_log.h"

namespace quillsim {

struct ServerOptions {
  std::string linkPath;      // symlink to the slave, made at start and removed at exit
  std::string logPath;       // traffic log
  std::string dumpPath;      // database dump, written on SIGUSR1 and at exit
  std::string modemLogPath;  // the modem-line shim's log
};

class Server {
 public:
  Server(Scenario scenario, ServerOptions options);

  // Serves until SIGTERM or SIGINT, or until the scenario's stop condition.
  // Returns the process exit status.
  int run();

 private:
  struct Scheduled {
    Chunk chunk;
    std::uint64_t arrivedMs;             // of the bytes it answers
    std::optional<std::uint64_t> dueMs;  // unknown until the chunk before went out
    bool onWire = false;                 // noise applied, writing begun
  };

  bool start();
  void followOwnPty();
  bool makeLink();
  void removeLink();
  bool handleSignals(int signalFd);
  bool receiveAvailable();
  void schedule(const std::vector<Chunk>& chunks, std::uint64_t arrivedMs);
  void armFront();
  void sendDue();
  std::size_t bytesBeforeUnplug(const Chunk& chunk) const;
  void countSent(const Chunk& chunk, std::size_t count);
  void unplugDue(int line);
  bool cutReplyTaken() const;
  void unplug(int line);
  bool plugBack();
  void putOnWire(Scheduled& next);
  void noteBehindTime(const Scheduled& next);
  void noteLateReply(const Scheduled& next);
  void finishChunk();
  void logFlips(const std::vector<Flip>& flips, const char* direction, const std::string& where);
  void logUnsent();
  int pollTimeoutMs() const;
  const char* stopReason() const;
  bool lastReplyTaken();
  void writeDump();
  LineSnapshot snapshot() const;

  Terminal terminal_;
  ServerOptions options_;
  std::optional<int> stopIdleMs_;
  std::uint64_t busyMs_;
  LineNoise noise_;
  PtyPort port_;
  ModemLines modem_;
  TrafficLog log_;
  std::deque<Scheduled> outgoing_;
  bool waitingToWrite_ = false;
  std::uint64_t lastReceivedMs_ = 0;
  std::uint64_t finishedSinceMs_ = 0;
  std::uint64_t lastSentMs_ = 0;
  std::uint64_t busyUntilMs_ = 0;
  // The cable pulled out as the reply to a line goes out, and the bytes of
  // that reply sent so far; the slaves of the ptys closed so, held to the end.
  std::vector<Unplug> unplugs_;
  std::map<int, std::size_t> sentOfCutReply_;
  std::optional<int> unplugDueAt_;  // the line whose reply is cut, once its bytes sent have arrived
  std::uint64_t unplugDueSinceMs_ = 0;
  std::optional<std::uint64_t> plugBackAtMs_;
  std::vector<UniqueFd> unpluggedSlaves_;
  std::uint64_t plannedMs_ = 0;  // when the chunk last put on the wire was due
};

}  // namespace quillsim
