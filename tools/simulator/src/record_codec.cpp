#include "record_codec.h"

namespace quillsim {
namespace {

constexpr unsigned kChecksumModulus = 0x10000;
constexpr std::uint8_t kCrStandIn = 0x0E;
constexpr std::uint8_t kCorruptionMask = 0x80;
constexpr std::size_t kChecksumLength = 2;

std::uint8_t travellingByte(unsigned value) {
  auto byte = static_cast<std::uint8_t>(value & 0xFF);
  return byte == static_cast<std::uint8_t>(kCr) ? kCrStandIn : byte;
}

// A low byte that differs from the good one and is not CR.
std::uint8_t spoiled(std::uint8_t good) {
  std::uint8_t bad = good ^ kCorruptionMask;
  return bad == static_cast<std::uint8_t>(kCr) ? static_cast<std::uint8_t>(good ^ 0x01) : bad;
}

}  // namespace

ChecksumBytes checksumOf(const Bytes& bytes) {
  unsigned sum = 0;
  for (unsigned char byte : bytes) sum = (sum + byte) % kChecksumModulus;
  return ChecksumBytes{travellingByte(sum), travellingByte(sum >> 8)};
}

Bytes encodeDownloadLine(char leadByte, const Bytes& text, bool corrupt) {
  Bytes line(1, leadByte);
  line += text;
  ChecksumBytes sum = checksumOf(line);
  line += static_cast<char>(corrupt ? spoiled(sum.low) : sum.low);
  line += static_cast<char>(sum.high);
  line += kCr;
  return line;
}

UploadRecord decodeUploadLine(const Bytes& line) {
  if (line.size() < kChecksumLength) return UploadRecord{line, false};
  UploadRecord record;
  record.text = line.substr(0, line.size() - kChecksumLength);
  ChecksumBytes sum = checksumOf(record.text);
  auto high = static_cast<std::uint8_t>(line[line.size() - 2]);
  auto low = static_cast<std::uint8_t>(line[line.size() - 1]);
  record.checksumOk = high == sum.high && low == sum.low;
  return record;
}

}  // namespace quillsim
