#include "simulator_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace simtest {
namespace {

constexpr int kStartTimeoutMs = 5000;
constexpr int kPollStepMs = 10;
constexpr int kRealTimePriority = 10;  // as tools/terminal-ports asks for

speed_t speedCode(unsigned baud) {
  switch (baud) {
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B0;
  }
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The first line that the simulator prints, within the time.
std::string readFirstLine(int fd, int timeoutMs) {
  std::string line;
  long long deadline = monotonicMs() + timeoutMs;
  char c;
  while (monotonicMs() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, kPollStepMs) <= 0) continue;
    if (::read(fd, &c, 1) != 1) break;
    if (c == '\n') return line;
    line += c;
  }
  return {};
}

std::vector<std::string> splitWords(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

// The simulator keeps its times as well as the computer lets it: under the
// round-robin real-time policy where that is allowed (as root), as
// tools/terminal-ports runs it, and as it is otherwise.
void keepTimeWherePossible() {
  sched_param parameters{};
  parameters.sched_priority = kRealTimePriority;
  ::sched_setscheduler(0, SCHED_RR, &parameters);
}

}  // namespace

long long monotonicMs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

SimulatorProcess::SimulatorProcess(const std::string& scenario, const std::string& extraArguments) {
  char pattern[] = "/tmp/quill-sim-test-XXXXXX";
  if (!::mkdtemp(pattern)) return;
  directory_ = pattern;
  std::ofstream(directory_ + "/scenario.txt", std::ios::binary) << scenario;

  std::vector<std::string> args = {QUILL_SIM_BINARY,   "--scenario",  directory_ + "/scenario.txt",
                                   "--log",            directory_ + "/traffic.log",
                                   "--dump",           directory_ + "/dump.txt",
                                   "--modem-log",      directory_ + "/modem.log"};
  for (const std::string& w : splitWords(extraArguments)) args.push_back(w);

  int out[2];
  if (::pipe(out) != 0) return;
  pid_ = ::fork();
  if (pid_ == 0) {
    keepTimeWherePossible();
    ::dup2(out[1], STDOUT_FILENO);
    ::close(out[0]);
    ::close(out[1]);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  slavePath_ = readFirstLine(out[0], kStartTimeoutMs);
  ::close(out[0]);
  if (!slavePath_.empty()) openSlave(slavePath_);
}

bool SimulatorProcess::openSlave(const std::string& path) {
  if (port_ >= 0) ::close(port_);
  port_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (port_ < 0) return false;
  termios settings{};
  ::tcgetattr(port_, &settings);
  ::cfmakeraw(&settings);
  ::tcsetattr(port_, TCSANOW, &settings);
  setBaud(9600);
  return true;
}

bool SimulatorProcess::hungUp() {
  pollfd p{port_, POLLIN, 0};
  return ::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP) != 0;
}

SimulatorProcess::~SimulatorProcess() {
  stop();
  if (port_ >= 0) ::close(port_);
  std::error_code ignored;
  if (!directory_.empty()) std::filesystem::remove_all(directory_, ignored);
}

void SimulatorProcess::send(const Bytes& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(port_, bytes.data() + done, bytes.size() - done);
    if (n > 0) done += static_cast<std::size_t>(n);
  }
}

Bytes SimulatorProcess::readLine(int timeoutMs) {
  Bytes line;
  long long deadline = monotonicMs() + timeoutMs;
  char c;
  while (monotonicMs() < deadline) {
    pollfd p{port_, POLLIN, 0};
    if (::poll(&p, 1, kPollStepMs) <= 0) continue;
    while (::read(port_, &c, 1) == 1) {
      line += c;
      if (c == '\r') return line;
    }
  }
  return line;
}

Bytes SimulatorProcess::readFor(int ms) {
  Bytes bytes;
  long long deadline = monotonicMs() + ms;
  char buffer[256];
  while (monotonicMs() < deadline) {
    pollfd p{port_, POLLIN, 0};
    if (::poll(&p, 1, kPollStepMs) <= 0) continue;
    ssize_t n = ::read(port_, buffer, sizeof buffer);
    if (n > 0) bytes.append(buffer, static_cast<std::size_t>(n));
  }
  return bytes;
}

bool SimulatorProcess::readTimed(std::size_t count, Bytes& bytes, std::vector<long long>& arrivals,
                                 int timeoutMs) {
  long long deadline = monotonicMs() + timeoutMs;
  char c;
  while (bytes.size() < count && monotonicMs() < deadline) {
    pollfd p{port_, POLLIN, 0};
    if (::poll(&p, 1, 1) <= 0) continue;
    while (bytes.size() < count && ::read(port_, &c, 1) == 1) {
      bytes += c;
      arrivals.push_back(monotonicMs());
    }
  }
  return bytes.size() == count;
}

void SimulatorProcess::setBaud(unsigned baud) {
  termios settings{};
  ::tcgetattr(port_, &settings);
  ::cfsetispeed(&settings, speedCode(baud));
  ::cfsetospeed(&settings, speedCode(baud));
  ::tcsetattr(port_, TCSANOW, &settings);
}

void SimulatorProcess::setModemLines(bool rts, bool dtr) {
  std::ofstream log(directory_ + "/modem.log", std::ios::app);
  log << monotonicMs() << " RTS=" << (rts ? 1 : 0) << " DTR=" << (dtr ? 1 : 0) << "\n";
}

void SimulatorProcess::setModemLinesOf(unsigned pty, bool rts, bool dtr) {
  std::ofstream log(directory_ + "/modem.log", std::ios::app);
  log << monotonicMs() << " RTS=" << (rts ? 1 : 0) << " DTR=" << (dtr ? 1 : 0) << " pty=" << pty << "\n";
}

unsigned SimulatorProcess::ptyNumber() const {
  return static_cast<unsigned>(std::stoul(slavePath_.substr(slavePath_.find_last_not_of("0123456789") + 1)));
}

std::string SimulatorProcess::dump() {
  std::string path = directory_ + "/dump.txt";
  ::unlink(path.c_str());
  ::kill(pid_, SIGUSR1);
  for (long long deadline = monotonicMs() + kStartTimeoutMs; monotonicMs() < deadline;) {
    if (::access(path.c_str(), R_OK) == 0) return readFile(path);
    ::usleep(kPollStepMs * 1000);
  }
  return {};
}

void SimulatorProcess::holdUp(int ms) {
  ::kill(pid_, SIGSTOP);
  ::usleep(static_cast<useconds_t>(ms) * 1000);
  ::kill(pid_, SIGCONT);
}

int SimulatorProcess::stop() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, &status_, 0);
    pid_ = -1;
  }
  return status_;
}

int SimulatorProcess::waitForExit(int timeoutMs) {
  for (long long deadline = monotonicMs() + timeoutMs; pid_ > 0 && monotonicMs() < deadline;) {
    if (::waitpid(pid_, &status_, WNOHANG) == pid_) {
      pid_ = -1;
      return status_;
    }
    ::usleep(kPollStepMs * 1000);
  }
  return pid_ > 0 ? -1 : status_;
}

std::string SimulatorProcess::logText() const { return readFile(directory_ + "/traffic.log"); }

}  // namespace simtest
