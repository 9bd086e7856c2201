// The RTS and DTR lines as the modem-line shim inside Wine records them.
//
// The shim appends one line per modem-line change request to a file, with
// the number N of the pty slave /dev/pts/N whose lines changed:
//   <monotonic ms> RTS=<0|1> DTR=<0|1> pty=<N>
// This reader follows that file and keeps the state of its last complete line
// for its own pty (a line without a pty number counts for every pty). Until
// a line has been read both lines count as raised (as a port opens).
#pragma once

#include <cstdint>
#include <string>

namespace quillsim {

struct ModemState {
  bool rts = true;
  bool dtr = true;
};

class ModemLines {
 public:
  // An empty path: no shim; the lines stay raised.
  explicit ModemLines(std::string path);
  ~ModemLines();
  ModemLines(const ModemLines&) = delete;
  ModemLines& operator=(const ModemLines&) = delete;

  // From now on only the lines of /dev/pts/`number` count.
  void followPty(unsigned number) { pty_ = number; }

  // Reads what was appended since the last call and returns the current state.
  ModemState refresh();

  ModemState current() const { return state_; }

 private:
  void reopenIfReplaced();
  void takeLine(const std::string& line);

  std::string path_;
  int fd_ = -1;
  std::uint64_t inode_ = 0;
  std::uint64_t offset_ = 0;
  std::string partial_;
  ModemState state_;
  long long pty_ = -1;  // -1: every pty's lines count
};

}  // namespace quillsim
