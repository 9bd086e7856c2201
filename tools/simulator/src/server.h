// The simulator's event loop: the pty, the modem-line log, the terminal and
// the traffic log brought together.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

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
    std::uint64_t delayMs;  // after the chunk before it went out
    Bytes bytes;
    std::uint64_t dueMs;    // 0 until the chunk is next in line
  };

  bool start();
  bool makeLink();
  void removeLink();
  bool handleSignals(int signalFd);
  bool receiveAvailable();
  void schedule(const std::vector<Chunk>& chunks);
  void armFront();
  void sendDue();
  int pollTimeoutMs() const;
  bool idleTooLong() const;
  bool lastReplyTaken();
  void writeDump();
  LineSnapshot snapshot() const;

  Terminal terminal_;
  ServerOptions options_;
  std::optional<int> stopIdleMs_;
  PtyPort port_;
  ModemLines modem_;
  TrafficLog log_;
  std::deque<Scheduled> outgoing_;
  bool waitingToWrite_ = false;
  std::uint64_t lastReceivedMs_ = 0;
  std::uint64_t finishedSinceMs_ = 0;
  std::uint64_t lastSentMs_ = 0;
};

}  // namespace quillsim
