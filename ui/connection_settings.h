// How the component reaches the terminal: port, line speed and the infrared
// adapter flag, with their meaning at open time and their place in the
// host's profile.
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

// The host profile as the settings logic needs it.
class SettingsProfile {
public:
    virtual ~SettingsProfile() = default;
    // Reads a VT_I4 value; false unless the store answered exactly S_OK.
    virtual bool ReadInteger(const char* key, int32_t& value) = 0;
    // Writes a VT_I4 value; a failure is not reported.
    virtual void WriteInteger(const char* key, int32_t value) = 0;
};

// Reads "Port:0", "Speed:0", "IsIrDA:0" in that order; stops at the first
// failed read (fields read so far keep their new values) and returns false.
bool LoadSettings(SettingsProfile& profile, ConnectionSettings& settings);
// Writes "Port", "Speed", "IsIrDA" (the flag as 0 or 1); every write is made.
void SaveSettings(SettingsProfile& profile, const ConnectionSettings& settings);

}  // namespace quill
