// What every script-visible operation reads and leaves behind: the result
// code, the Data text and the six Field texts. All texts are 8-bit
// Windows-1251 bytes.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace quill {

constexpr int kFieldCount = 6;

struct ComponentState {
    int32_t result = 1;  // "COM порт не инициализирован!" until the first operation
    std::string data;
    std::array<std::string, kFieldCount> fields;

    void ClearTexts() {
        data.clear();
        for (auto& field : fields) field.clear();
    }
};

}  // namespace quill
