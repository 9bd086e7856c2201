// What the progress method asks of the screen: paint the box.
#pragma once

#include <cstdint>

namespace quill {

// Paints the progress box (mode and count already bounded).
class ProgressPainter {
public:
    virtual ~ProgressPainter() = default;
    virtual void DrawProgressBox(int32_t mode, int32_t count) = 0;
};

}  // namespace quill
