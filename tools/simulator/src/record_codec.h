// The terminal's own reading and writing of record lines.
//
// Download line (terminal to computer):
//   lead byte, record text, checksum LOW byte, checksum HIGH byte, CR
//   checksum = sum of the lead byte and the text bytes (unsigned), modulo 65536
// Upload line (computer to terminal):
//   record text, checksum HIGH byte, checksum LOW byte, CR
//   checksum = sum of the text bytes (unsigned), modulo 65536
// In both directions a checksum byte that comes out as CR (0x0D) travels as 0x0E,
// so a record line always ends at its first CR.
#pragma once

#include <cstdint>

#include "bytes.h"

namespace quillsim {

struct ChecksumBytes {
  std::uint8_t low;
  std::uint8_t high;
};

// The 16-bit sum of the bytes, split and with CR replaced.
ChecksumBytes checksumOf(const Bytes& bytes);

// A download line for one record; with `corrupt` its low checksum byte is wrong.
Bytes encodeDownloadLine(char leadByte, const Bytes& text, bool corrupt);

struct UploadRecord {
  Bytes text;          // the line without its two checksum bytes
  bool checksumOk = false;
};

// Reads an upload line given without its CR. A line too short to hold the two
// checksum bytes is a record with a bad checksum.
UploadRecord decodeUploadLine(const Bytes& line);

}  // namespace quillsim
