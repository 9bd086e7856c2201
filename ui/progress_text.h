// What the progress box shows and where, apart from the painting itself.
#pragma once

#include <cstdint>
#include <string>

namespace quill {

// "Передано: <count> записей" for mode 0, "Получено: <count> записей" for
// modes 1 to 4 (Windows-1251 bytes). The caller has bounded mode and count.
std::string ProgressText(int32_t mode, int32_t count);

struct BoxRect {
    int32_t left, top, right, bottom;
};

// The box centred on a surface of the given resolution: 40 pixels high and
// 20 pixels wider than the text (19 when the sum is odd).
BoxRect ProgressBoxRect(int32_t horizontalResolution, int32_t verticalResolution,
                        int32_t textWidth);

}  // namespace quill
