// What kind of line the terminal answered: judged by its first bytes, in the
// order ACK, NAK, OVER, OK, ERR; anything else is data.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/result_codes.h"
#include "link/protocol.h"

namespace quill {

enum class ReplyClass { Ack, Nak, Over, Ok, Err, Data };

// Exact, case-sensitive prefix test; a reply shorter than the keyword does
// not match it.
inline bool BeginsWith(std::string_view reply, std::string_view keyword) {
    return reply.substr(0, keyword.size()) == keyword;
}

inline ReplyClass ClassifyReply(std::string_view reply) {
    if (BeginsWith(reply, protocol::kAck)) return ReplyClass::Ack;
    if (BeginsWith(reply, protocol::kNak)) return ReplyClass::Nak;
    if (BeginsWith(reply, protocol::kOver)) return ReplyClass::Over;
    if (BeginsWith(reply, protocol::kOk)) return ReplyClass::Ok;
    if (BeginsWith(reply, protocol::kErr)) return ReplyClass::Err;
    return ReplyClass::Data;
}

// The result code of a reply the operation did not ask for: the keyword's
// own code, or the unknown-reply code for data.
inline int32_t UnexpectedReplyCode(ReplyClass reply) {
    switch (reply) {
        case ReplyClass::Ack: return code::kUnexpectedAck;
        case ReplyClass::Nak: return code::kUnexpectedNak;
        case ReplyClass::Over: return code::kUnexpectedOver;
        case ReplyClass::Ok: return code::kUnexpectedOk;
        case ReplyClass::Err: return code::kUnexpectedErr;
        case ReplyClass::Data: break;
    }
    return code::kUnknownReply;
}

// The bytes before the first NUL: all a reply or field text can hold.
inline std::string_view UpToNul(std::string_view text) {
    return text.substr(0, text.find(protocol::kNul));
}

}  // namespace quill
