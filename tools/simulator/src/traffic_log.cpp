#include "traffic_log.h"

#include <time.h>

namespace quillsim {

std::uint64_t monotonicMs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
}

TrafficLog::TrafficLog(const std::string& path) {
  if (path.empty()) return;
  file_ = std::fopen(path.c_str(), "a");
  failed_ = file_ == nullptr;
}

TrafficLog::~TrafficLog() {
  if (file_) std::fclose(file_);
}

void TrafficLog::write(const LineSnapshot& line, const std::string& what) {
  if (!file_) return;
  std::fprintf(file_, "%llu baud=%u RTS=%d DTR=%d %s\n", static_cast<unsigned long long>(monotonicMs()),
               line.baud, line.rts ? 1 : 0, line.dtr ? 1 : 0, what.c_str());
  std::fflush(file_);
}

}  // namespace quillsim
