#include "line_noise.h"

namespace quillsim {
namespace {

constexpr int kBitsPerByte = 8;
constexpr int kMantissaBits = 53;
constexpr std::uint64_t kGoldenGamma = 0x9E3779B97F4A7C15ull;
// Tells the sending generator's seed from the receiving one's.
constexpr std::uint64_t kSentStreamSalt = 0x5E17u;

double unitInterval(std::uint64_t draw) {
  return static_cast<double>(draw >> (64 - kMantissaBits)) / static_cast<double>(1ull << kMantissaBits);
}

}  // namespace

std::uint64_t LineNoise::Stream::next() {
  std::uint64_t z = (state += kGoldenGamma);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

LineNoise::LineNoise(const Noise& noise) : probability_(noise.probability) {
  received_.state = noise.seed;
  sent_.state = noise.seed ^ (kSentStreamSalt * kGoldenGamma);
}

std::vector<Flip> LineNoise::apply(Direction direction, Bytes& bytes) {
  std::vector<Flip> flips;
  if (probability_ <= 0) return flips;
  Stream& stream = direction == Direction::Received ? received_ : sent_;
  for (std::size_t i = 0; i < bytes.size(); ++i, ++stream.offset) {
    if (unitInterval(stream.next()) >= probability_) continue;
    auto before = static_cast<unsigned char>(bytes[i]);
    auto after = static_cast<unsigned char>(before ^ (1u << (stream.next() % kBitsPerByte)));
    bytes[i] = static_cast<char>(after);
    flips.push_back(Flip{i, stream.offset, before, after});
  }
  return flips;
}

}  // namespace quillsim
