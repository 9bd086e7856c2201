// Runs quill-terminal-sim with a scenario and talks to it over its pty, the
// way the component does.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace simtest {

using Bytes = std::string;

class SimulatorProcess {
 public:
  explicit SimulatorProcess(const std::string& scenario, const std::string& extraArguments = {});
  ~SimulatorProcess();
  SimulatorProcess(const SimulatorProcess&) = delete;
  SimulatorProcess& operator=(const SimulatorProcess&) = delete;

  bool started() const { return port_ >= 0; }
  const std::string& slavePath() const { return slavePath_; }
  const std::string& directory() const { return directory_; }

  void send(const Bytes& bytes);
  // Bytes up to and including the next CR; whatever came when time runs out.
  Bytes readLine(int timeoutMs = 1000);
  // Everything that arrives within the time.
  Bytes readFor(int ms);
  // Arrival times (ms, monotonic) of the next `count` bytes, one entry per byte.
  bool readTimed(std::size_t count, Bytes& bytes, std::vector<long long>& arrivals, int timeoutMs = 2000);

  // Talks from now on over the slave at `path` (a pty plugged back in the
  // first one's place), raw at 9600 baud; false when it does not open.
  bool openSlave(const std::string& path);
  // True when the slave reports that its master has closed.
  bool hungUp();

  void setBaud(unsigned baud);
  // Appends a line to the modem-line log as the shim would.
  void setModemLines(bool rts, bool dtr = true);
  // The same, as the shim writes it for the pty /dev/pts/`pty`.
  void setModemLinesOf(unsigned pty, bool rts, bool dtr = true);
  // N of this simulator's slave /dev/pts/N.
  unsigned ptyNumber() const;

  // Asks for a database dump and returns it.
  std::string dump();
  // Takes the processor away from the simulator for `ms`, as a computer too
  // busy to run it would (SIGSTOP, then SIGCONT).
  void holdUp(int ms);
  // Stops the simulator (SIGTERM) and returns its exit status.
  int stop();
  // Waits for the simulator to end by itself; -1 when it did not.
  int waitForExit(int timeoutMs);

  std::string logText() const;

 private:
  std::string directory_;
  std::string slavePath_;
  pid_t pid_ = -1;
  int port_ = -1;
  int status_ = -1;
};

long long monotonicMs();

}  // namespace simtest
