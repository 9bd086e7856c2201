#include "modem_lines.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace quillsim {
namespace {
constexpr std::size_t kReadChunk = 4096;
}

ModemLines::ModemLines(std::string path) : path_(std::move(path)) {}

ModemLines::~ModemLines() {
  if (fd_ >= 0) ::close(fd_);
}

ModemState ModemLines::refresh() {
  if (path_.empty()) return state_;
  reopenIfReplaced();
  if (fd_ < 0) return state_;
  char buffer[kReadChunk];
  for (;;) {
    ssize_t got = ::pread(fd_, buffer, sizeof buffer, static_cast<off_t>(offset_));
    if (got <= 0) break;
    offset_ += static_cast<std::uint64_t>(got);
    partial_.append(buffer, static_cast<std::size_t>(got));
  }
  std::size_t start = 0;
  for (std::size_t end; (end = partial_.find('\n', start)) != std::string::npos; start = end + 1) {
    takeLine(partial_.substr(start, end - start));
  }
  partial_.erase(0, start);
  return state_;
}

// A file that was removed, replaced or cut short is read again from its start.
void ModemLines::reopenIfReplaced() {
  struct stat byPath {};
  if (::stat(path_.c_str(), &byPath) != 0) return;
  bool replaced = fd_ < 0 || static_cast<std::uint64_t>(byPath.st_ino) != inode_ ||
                  static_cast<std::uint64_t>(byPath.st_size) < offset_;
  if (!replaced) return;
  if (fd_ >= 0) ::close(fd_);
  fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  inode_ = static_cast<std::uint64_t>(byPath.st_ino);
  offset_ = 0;
  partial_.clear();
}

void ModemLines::takeLine(const std::string& line) {
  unsigned long long ms = 0;
  int rts = -1;
  int dtr = -1;
  unsigned pty = 0;
  const int fields = std::sscanf(line.c_str(), "%llu RTS=%d DTR=%d pty=%u", &ms, &rts, &dtr, &pty);
  if (fields < 3) return;
  if ((rts != 0 && rts != 1) || (dtr != 0 && dtr != 1)) return;
  if (fields == 4 && pty_ >= 0 && static_cast<long long>(pty) != pty_) return;  // another line's
  state_.rts = rts == 1;
  state_.dtr = dtr == 1;
}

}  // namespace quillsim
