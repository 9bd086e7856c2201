// The terminal's line protocol and the infrared adapter's dialogue: every
// command, keyword, byte value, buffer size, delay and retry count the link
// uses, each in one place.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "core/numbers.h"

namespace quill::protocol {

// Bytes with a meaning on the line.
constexpr uint8_t kCarriageReturn = 0x0D;
constexpr uint8_t kLineFeed = 0x0A;
constexpr uint8_t kTab = 0x09;
constexpr uint8_t kComma = 0x2C;
constexpr char kNul = '\0';
// A checksum byte that would read as CR goes out as this byte instead.
constexpr uint8_t kChecksumCrStandIn = 0x0E;

// Command lines; the numbered ones take one decimal digit before the CR.
constexpr const char* kPing = "PNG\r";
constexpr const char* kGetFreeMemory = "GFM\r";
constexpr const char* kGetSerialNumber = "GSN\r";
constexpr const char* kGetTerminalTime = "GST\r";
constexpr const char* kSetTerminalTime = "SST";
constexpr const char* kSetTimeCentury = "20";
constexpr const char* kGetCurrentState = "GCS\r";
constexpr const char* kGetDocumentCount = "GDC";
constexpr const char* kGetDatabaseCount = "GRC";
constexpr const char* kClearDocument = "CDC";
constexpr const char* kClearDatabase = "CDB";
constexpr const char* kGetDocumentRecord = "GDF";
constexpr const char* kGetDatabaseRecord = "GDB";
constexpr const char* kPutDatabaseRecord = "PDB";
constexpr const char* kRefuseRecord = "NAK\r";
constexpr const char* kFinishLoad = "OVER\r";

// Reply keywords, matched as prefixes of a reply line.
constexpr const char* kAck = "ACK";
constexpr const char* kNak = "NAK";
constexpr const char* kOver = "OVER";
constexpr const char* kOk = "OK";
constexpr const char* kErr = "ERR";
constexpr const char* kFull = "FULL";

// The terminal's clock as GST answers it and SST sends it: yyyymmddhhmmss.
constexpr size_t kClockTextLength = 14;

// Command exchange.
constexpr size_t kMaxCommandLength = 32;
constexpr size_t kReplyBufferSize = 1024;  // reply line and its CR
constexpr size_t kMaxReplyLength = kReplyBufferSize - 1;

// Record transfer.
constexpr size_t kRecordLineBufferSize = 256;  // record line and its CR
constexpr size_t kMaxRecordLineLength = kRecordLineBufferSize - 1;
// Leading byte before the text, two checksum bytes after it.
constexpr size_t kReceivedFramingLength = 3;
// Two checksum bytes, CR and the closing NUL of the sent line buffer.
constexpr size_t kMaxSentRecordText = kRecordLineBufferSize - 4;

// The terminal's stores: documents 0 ... 9 and databases 1 ... 3, which the
// method parameters are bounded to; an upload also accepts database 0.
constexpr Range kDocumentRange{0, 9};
constexpr Range kDatabaseRange{1, 3};
constexpr Range kUploadDatabaseRange{0, 3};

// Pace of every receive loop.
constexpr size_t kReadChunkSize = 256;  // bytes taken from the input queue at one read
constexpr uint32_t kInputWaitMs = 50;   // one wait for a received character
constexpr uint32_t kSettleBeforeReadMs = 50;
constexpr int kTimeoutsBeforeGivingUp = 4;
constexpr int kTimeoutsBeforeResend = 2;
constexpr int kFailedAttemptsBeforeGivingUp = 4;
// A line that keeps signalling received characters with nothing queued.
constexpr int kEmptyPassesBeforeGivingUp = 4;
// Whatever the line sends (bytes without a CR, ACK after ACK), one receive
// loop ends this long after it began: time for the longest reply line at the
// slowest speed (1024 bytes at 2400 baud, about 4.3 s) and some to spare.
constexpr uint64_t kReceiveLimitMs = 5000;

// Replies still owed. The terminal answers every line written to it with one
// line, in turn, sometimes late: a reply is still waited for, and taken for
// the line it answers, up to this long after that line was written. Before a
// new command goes out, the replies still owed are waited for within this
// time and put where they belong; whatever else is queued is dropped.
constexpr uint64_t kLateReplyLimitMs = 400;
// A reply whose bytes are coming in is waited for beyond that limit while
// no gap between its bytes is as long as the waits a receive loop gives up
// after.
constexpr uint64_t kLineGapLimitMs = kTimeoutsBeforeGivingUp * kInputWaitMs;
// Closing the port (and the close before an open) waits for the replies
// still owed, and asks for a garbled record again, this long at most in all,
// whatever the line does; what is still owed then is left to the stores.
constexpr uint64_t kCloseLimitMs = 500;

// Upload of a record: a copy goes on the wire again at once when the terminal
// refuses it, and after this many silent waits in a row (longer than the
// terminal may take to acknowledge a copy it received).
constexpr int kSilentWaitsBeforeNextCopy = 4;
// A refused copy is one failed attempt, a copy left unanswered two; the
// upload ends at kFailedAttemptsBeforeGivingUp.
constexpr int kFailedAttemptsOfAnUnansweredCopy = 2;
// When the answer to a copy cannot be read, the database's count is asked
// before another copy goes out, and taken only when two readings give the
// same number (a count carries no checksum); at most this many readings.
constexpr int kCountReadingsAtMost = 4;

// The infrared adapter of the cradle.
constexpr uint8_t kAdapterProbe = 0x0F;
constexpr std::array<uint32_t, 5> kAdapterProbeRates = {9600, 115200, 38400, 57600, 19200};
constexpr std::array<uint8_t, 3> kAdapterSwitchBytes = {0x07, 0x36, 0x51};
constexpr uint32_t kAdapterTerminalRate = 115200;
constexpr size_t kAdapterEchoCapacity = 4;
constexpr uint32_t kAdapterSettleMs = 100;     // after each change of RTS or rate
constexpr uint32_t kAdapterEchoWaitMs = 50;    // for the probe's echo
constexpr uint32_t kAdapterEchoSettleMs = 50;  // before reading the echo
constexpr uint32_t kAdapterByteGapMs = 50;     // after each switching byte

}  // namespace quill::protocol
