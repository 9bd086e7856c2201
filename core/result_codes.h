// Result codes: what every script-visible operation leaves in `Result`.
// 0 is success; the component's Russian messages for them live with the
// component.
#pragma once

#include <cstdint>

namespace quill {

namespace code {
constexpr int32_t kSuccess = 0;
constexpr int32_t kPortNotInitialised = 1;
constexpr int32_t kCannotOpenPort = 2;
constexpr int32_t kCannotConfigurePort = 3;
constexpr int32_t kCannotConfigureIrAdapter = 4;
constexpr int32_t kPortError = 5;
constexpr int32_t kDataTooShort = 6;
constexpr int32_t kDataTooLong = 7;
constexpr int32_t kTimeout = 8;
constexpr int32_t kTransferError = 9;
constexpr int32_t kBadCount = 10;
constexpr int32_t kUnexpectedAck = 11;
constexpr int32_t kUnexpectedNak = 12;
constexpr int32_t kUnexpectedOver = 13;
constexpr int32_t kUnexpectedOk = 14;
constexpr int32_t kUnexpectedErr = 15;
constexpr int32_t kUnknownReply = 16;
constexpr int32_t kCannotEnterLoadMode = 19;
constexpr int32_t kNoDataToSend = 26;
constexpr int32_t kMemoryFull = 27;
constexpr int32_t kBadParameterType = 28;
constexpr int32_t kDatabaseFormatUnknown = 29;
constexpr int32_t kHighestKnown = 29;
}  // namespace code

}  // namespace quill
