// Paints the progress box with GDI: into the settings page window when one
// is set, otherwise onto the screen.
#pragma once

#include <windows.h>

#include <atomic>

#include "ui/progress_painter.h"

namespace quill {

class GdiProgressPainter final : public ProgressPainter {
public:
    // `pageWindow` is the component's page window handle, read at each paint
    // (the page's thread sets it, the script's reads it).
    explicit GdiProgressPainter(const std::atomic<HWND>& pageWindow) : pageWindow_(pageWindow) {}
    void DrawProgressBox(int32_t mode, int32_t count) override;

private:
    const std::atomic<HWND>& pageWindow_;
};

}  // namespace quill
