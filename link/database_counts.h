// What the link knows of the number of records in each database: asked of
// the terminal after each attach and after each clearing of that database,
// before the first load into it, until two readings agree (a count carries no
// checksum), then followed with every copy the terminal acknowledged. An
// upload whose answer cannot be read asks the terminal for the count and
// holds it against this one to learn whether the copy was stored. A count
// that could not be read is not asked again until the next attach or
// clearing; one that an upload could no longer follow is.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "link/protocol.h"

namespace quill {

class DatabaseCounts {
public:
    std::optional<int32_t> Known(int32_t database) const {
        return Followed(database) ? counts_[Index(database)].known : std::nullopt;
    }
    // Not asked since the last attach or clearing, or no longer followed.
    bool ToBeAsked(int32_t database) const { return Followed(database) && !counts_[Index(database)].asked; }
    // The terminal's answer to the count, or nothing when it could not be
    // read: then the count is not asked again until it is forgotten.
    void Asked(int32_t database, std::optional<int32_t> count) {
        if (Followed(database)) counts_[Index(database)] = {true, count};
    }
    // One more record stored.
    void Stored(int32_t database) {
        if (const auto known = Known(database)) counts_[Index(database)].known = *known + 1;
    }
    // What the terminal holds is no longer known: asked again before the
    // next load into the database.
    void Forget(int32_t database) {
        if (Followed(database)) counts_[Index(database)] = {};
    }
    void ForgetAll() { counts_.fill({}); }

    static bool Followed(int32_t database) {
        return database >= protocol::kDatabaseRange.lowest && database <= protocol::kDatabaseRange.highest;
    }

private:
    struct Count {
        bool asked = false;
        std::optional<int32_t> known;
    };
    static size_t Index(int32_t database) { return static_cast<size_t>(database); }

    std::array<Count, protocol::kDatabaseRange.highest + 1> counts_;
};

// A copy of an upload whose answer went with the port (its device gone
// before the answer came). Whether the terminal stored it shows in the count
// asked after the next attach to the same port, when the script loads the
// same record into the same database again.
struct CutOffCopy {
    int32_t database;
    int32_t countBefore;
    std::string recordLine;
};

// A count as the terminal answers GRC, read strictly: decimal digits only
// (no sign, no blanks, nothing after them), at most nine. The reply carries
// no checksum, so anything else is taken as no count at all.
inline std::optional<int32_t> StrictCount(std::string_view reply) {
    constexpr size_t kMostDigits = 9;
    if (reply.empty() || reply.size() > kMostDigits) return std::nullopt;
    int32_t count = 0;
    for (char c : reply) {
        if (c < '0' || c > '9') return std::nullopt;
        count = count * 10 + (c - '0');
    }
    return count;
}

}  // namespace quill
