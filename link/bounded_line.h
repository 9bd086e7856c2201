// A line collected byte by byte into a buffer of fixed size: bytes beyond the
// capacity are not kept, only noted, so an overlong line can be refused at its
// CR without the tail of it turning into the next line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quill {

class BoundedLine {
public:
    explicit BoundedLine(size_t capacity) : capacity_(capacity) { bytes_.reserve(capacity); }

    void Append(uint8_t byte) {
        if (bytes_.size() < capacity_)
            bytes_.push_back(static_cast<char>(byte));
        else
            overflowed_ = true;
    }
    void Assign(std::string_view bytes) {
        Clear();
        for (char c : bytes) Append(static_cast<uint8_t>(c));
    }
    void Clear() {
        bytes_.clear();
        overflowed_ = false;
    }

    bool Overflowed() const { return overflowed_; }
    std::string_view Bytes() const { return bytes_; }

private:
    size_t capacity_;
    std::string bytes_;
    bool overflowed_ = false;
};

}  // namespace quill
