// How quickly the link reads what the terminal sends. Both paces send the
// same commands and records and keep the same waits, counts and resends; they
// differ only in when a reply is read.
#pragma once

#include "core/connection_settings.h"

namespace quill {

enum class Pace {
    Standard,  // each read comes a fixed settle after the wait for a byte ends
    Fast,      // queued bytes are read at once; a reply is complete at its CR
};

// The pace the settings ask for: fast only when the flag is on.
inline Pace PaceFor(const ConnectionSettings& settings) {
    return settings.FastExchange == kFastExchangeOn ? Pace::Fast : Pace::Standard;
}

}  // namespace quill
