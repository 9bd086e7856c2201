// Paints the progress box with GDI: into the settings page window when one
// is set, otherwise onto the screen.
#pragma once

#include <windows.h>

#include "ui/progress_painter.h"

namespace quill {

class GdiProgressPainter final : public ProgressPainter {
public:
    // `pageWindow` is the component's page window handle, read at each paint.
    explicit GdiProgressPainter(const HWND& pageWindow) : pageWindow_(pageWindow) {}
    void DrawProgressBox(int32_t mode, int32_t count) override;

private:
    const HWND& pageWindow_;
};

}  // namespace quill
