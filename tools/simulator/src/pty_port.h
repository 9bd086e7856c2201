// The pty that stands in for the terminal's serial port. The simulator works
// the master side and keeps the slave open itself, so that the line stays up
// while the program under test closes and reopens the slave.
#pragma once

#include <string>

namespace quillsim {

// An owned file descriptor.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = other.release();
    }
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

class PtyPort {
 public:
  // Opens a raw pty; `error` says why when the returned port is not open.
  static PtyPort open(std::string& error);

  bool isOpen() const { return master_.valid() && slave_.valid(); }
  int master() const { return master_.get(); }
  const std::string& slavePath() const { return slavePath_; }

  // The line speed that the slave's user last set, in baud (0 if unknown).
  unsigned baud() const;

  // Bytes sent to the slave that its reader has not taken yet.
  int unreadBySlave() const;

  // The cable pulled out: closes the master, so that the slave's user gets
  // an error from every operation, and leaves the port closed. Returns the
  // slave, for the caller to hold until the program under test has let go
  // of it (a Wine server whose pty lost its master first may fill its log).
  UniqueFd unplug();

 private:
  UniqueFd master_;
  UniqueFd slave_;
  std::string slavePath_;
};

// The baud rate of a termios speed code (0 if unknown), and back.
unsigned baudOfSpeed(unsigned speedCode);
unsigned speedOfBaud(unsigned baud);

}  // namespace quillsim
