// How the component reaches the terminal: port, line speed, the infrared
// adapter flag and the pace of the exchange, and their meaning at open time.
#pragma once

#include <cstdint>
#include <string>

namespace quill {

struct ConnectionSettings {
    int32_t Port = 0;    // index of "COM1" ... "COM16"
    int32_t Speed = 0;   // index of the baud rate, 0 = 115200 ... 6 = 2400
    int32_t IsIrDA = 0;  // non-zero: an infrared adapter sits in front of the terminal
    // 1: replies are read as soon as their CR is in, without the fixed settle
    // before each read; anything else keeps the standard pace.
    int32_t FastExchange = 0;
    // 1: every byte on the line, each line change and each call go to the
    // wire trace; anything else: no trace.
    int32_t Trace = 0;
};

inline bool operator==(const ConnectionSettings& a, const ConnectionSettings& b) {
    return a.Port == b.Port && a.Speed == b.Speed && a.IsIrDA == b.IsIrDA && a.FastExchange == b.FastExchange &&
           a.Trace == b.Trace;
}
inline bool operator!=(const ConnectionSettings& a, const ConnectionSettings& b) { return !(a == b); }

constexpr int32_t kFastExchangeOn = 1;

// The fast exchange flag as kept and written: 1 on, 0 off; any value but 1
// counts as off.
inline int32_t FastExchangeFlag(int32_t value) { return value == kFastExchangeOn ? 1 : 0; }

constexpr int32_t kTraceOn = 1;

// The trace flag as kept and written: 1 on, 0 off, as the fast exchange flag.
inline int32_t TraceFlag(int32_t value) { return value == kTraceOn ? 1 : 0; }

// The ports a user may choose: "COM1" ... "COM16".
constexpr int32_t kPortCount = 16;
// The speeds a user may choose: indices 0 ... 4, 115200 down to 9600 baud
// (4800 and 2400 are reached only through a stored index).
constexpr int32_t kListedSpeedCount = 5;

// "COM1" ... "COM16" for 0 ... 15; "COM1" for anything else.
std::string PortName(int32_t portIndex);
// 115200, 57600, 38400, 19200, 9600, 4800, 2400 for 0 ... 6; 9600 otherwise.
uint32_t BaudRate(int32_t speedIndex);
// The index of a baud rate among the listed speeds; -1 for any other rate.
int32_t ListedSpeedIndex(uint32_t baudRate);
// The index of a baud rate among every speed (4800 and 2400 included); -1
// for any other rate.
int32_t SpeedIndex(uint32_t baudRate);

}  // namespace quill
