#include "pty_port.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace quillsim {
namespace {

struct SpeedRow {
  speed_t code;
  unsigned baud;
};

constexpr SpeedRow kSpeeds[] = {
    {B50, 50},         {B75, 75},         {B110, 110},       {B134, 134},       {B150, 150},
    {B200, 200},       {B300, 300},       {B600, 600},       {B1200, 1200},     {B1800, 1800},
    {B2400, 2400},     {B4800, 4800},     {B9600, 9600},     {B19200, 19200},   {B38400, 38400},
    {B57600, 57600},   {B115200, 115200}, {B230400, 230400}, {B460800, 460800}, {B500000, 500000},
    {B576000, 576000}, {B921600, 921600}, {B1000000, 1000000},
};

constexpr speed_t kInitialSpeed = B9600;

std::string lastError(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

}  // namespace

void UniqueFd::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

PtyPort PtyPort::open(std::string& error) {
  auto fail = [&error](const char* what) {
    error = lastError(what);
    return PtyPort();
  };
  PtyPort port;
  port.master_.reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!port.master_.valid()) return fail("posix_openpt");
  if (::grantpt(port.master()) != 0 || ::unlockpt(port.master()) != 0) {
    return fail("unlockpt");
  }
  char name[128];
  if (::ptsname_r(port.master(), name, sizeof name) != 0) return fail("ptsname");
  port.slavePath_ = name;
  port.slave_.reset(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!port.slave_.valid()) return fail("open slave");

  termios settings{};
  if (::tcgetattr(port.slave_.get(), &settings) != 0) return fail("tcgetattr");
  ::cfmakeraw(&settings);
  ::cfsetispeed(&settings, kInitialSpeed);
  ::cfsetospeed(&settings, kInitialSpeed);
  if (::tcsetattr(port.slave_.get(), TCSANOW, &settings) != 0) return fail("tcsetattr");

  int flags = ::fcntl(port.master(), F_GETFL);
  if (flags < 0 || ::fcntl(port.master(), F_SETFL, flags | O_NONBLOCK) != 0) {
    return fail("fcntl");
  }
  return port;
}

unsigned PtyPort::baud() const {
  termios settings{};
  if (::tcgetattr(slave_.get(), &settings) != 0) return 0;
  speed_t code = ::cfgetispeed(&settings);
  if (code == B0) code = ::cfgetospeed(&settings);
  return baudOfSpeed(code);
}

int PtyPort::unreadBySlave() const {
  int queued = 0;
  return ::ioctl(slave_.get(), FIONREAD, &queued) == 0 ? queued : 0;
}

UniqueFd PtyPort::unplug() {
  master_.reset();
  slavePath_.clear();
  return std::move(slave_);
}

unsigned baudOfSpeed(unsigned speedCode) {
  for (const SpeedRow& row : kSpeeds) {
    if (row.code == speedCode) return row.baud;
  }
  return 0;
}

unsigned speedOfBaud(unsigned baud) {
  for (const SpeedRow& row : kSpeeds) {
    if (row.baud == baud) return row.code;
  }
  return B0;
}

}  // namespace quillsim
