// Bit errors on the line, reproducible from a seed. Each direction draws from
// its own generator, so the k-th byte received (or sent) meets the same fate
// in every run, however the two directions interleave.
#pragma once

#include <cstdint>
#include <vector>

#include "bytes.h"
#include "scenario.h"

namespace quillsim {

enum class Direction { Received, Sent };

// One byte changed by the noise.
struct Flip {
  std::size_t index;     // in the bytes given to apply()
  std::uint64_t offset;  // bytes of this direction before it since the start
  unsigned char before;
  unsigned char after;
};

class LineNoise {
 public:
  LineNoise() = default;  // a clean line
  explicit LineNoise(const Noise& noise);

  // Flips one random bit of each byte chosen by chance, in place; returns
  // what it changed, in order.
  std::vector<Flip> apply(Direction direction, Bytes& bytes);

 private:
  struct Stream {
    std::uint64_t state = 0;  // splitmix64
    std::uint64_t offset = 0;

    std::uint64_t next();
  };

  double probability_ = 0;
  Stream received_;
  Stream sent_;
};

}  // namespace quillsim
