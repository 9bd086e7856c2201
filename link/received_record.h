// Record lines as the terminal sends them: one leading byte, the record text,
// the checksum's low byte, its high byte, then CR. What a download makes of a
// line: the end of the records, a record to hand out, or a line to refuse.
#pragma once

#include <cstdint>
#include <string_view>

#include "link/checksum.h"
#include "link/protocol.h"
#include "link/reply_class.h"

namespace quill {

struct RecordVerdict {
    enum class Kind { End, Record, Refused } kind;
    std::string_view text;  // the record text, for Record
};

inline bool ReceivedChecksumMatches(std::string_view line) {
    const size_t summed = line.size() - 2;
    const ChecksumBytes expected = LineChecksum(line.substr(0, summed));
    return static_cast<uint8_t>(line[summed]) == expected.low &&
           static_cast<uint8_t>(line[summed + 1]) == expected.high;
}

// `tooLong`: the line did not fit the record line buffer. A record whose text
// holds a NUL byte is refused like a bad checksum: no host text could carry it
// whole, and cutting it there would hand out part of a record as all of it.
inline RecordVerdict JudgeRecordLine(std::string_view line, bool tooLong) {
    using Kind = RecordVerdict::Kind;
    if (!tooLong && BeginsWith(line, protocol::kOver)) return {Kind::End, {}};
    if (tooLong || line.size() < protocol::kReceivedFramingLength || !ReceivedChecksumMatches(line))
        return {Kind::Refused, {}};
    const std::string_view text = line.substr(1, line.size() - protocol::kReceivedFramingLength);
    if (text.find(protocol::kNul) != std::string_view::npos) return {Kind::Refused, {}};
    return {Kind::Record, text};
}

}  // namespace quill
