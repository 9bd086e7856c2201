// How the component reaches the terminal: port, line speed and the infrared
// adapter flag, and their meaning at open time.
#pragma once

#include <cstdint>
#include <string>

namespace quill {

struct ConnectionSettings {
    int32_t Port = 0;    // index of "COM1" ... "COM16"
    int32_t Speed = 0;   // index of the baud rate, 0 = 115200 ... 6 = 2400
    int32_t IsIrDA = 0;  // non-zero: an infrared adapter sits in front of the terminal
};

// "COM1" ... "COM16" for 0 ... 15; "COM1" for anything else.
std::string PortName(int32_t portIndex);
// 115200, 57600, 38400, 19200, 9600, 4800, 2400 for 0 ... 6; 9600 otherwise.
uint32_t BaudRate(int32_t speedIndex);

}  // namespace quill
