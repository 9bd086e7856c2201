#include "ui/progress_text.h"

#include "core/cp1251.h"

namespace quill {
namespace {

constexpr int32_t kSentMode = 0;
constexpr const char* kSentPrefix = "Передано: ";
constexpr const char* kReceivedPrefix = "Получено: ";
constexpr const char* kSuffix = " записей";
constexpr int32_t kHalfHeight = 20;
constexpr int32_t kWidthMargin = 20;

}  // namespace

std::string ProgressText(int32_t mode, int32_t count) {
    const char* prefix = mode == kSentMode ? kSentPrefix : kReceivedPrefix;
    return Cp1251FromUtf8(std::string(prefix) + std::to_string(count) + kSuffix);
}

BoxRect ProgressBoxRect(int32_t horizontalResolution, int32_t verticalResolution, int32_t textWidth) {
    const int32_t x = horizontalResolution / 2;
    const int32_t y = verticalResolution / 2;
    const int32_t halfWidth = (textWidth + kWidthMargin) / 2;
    return {x - halfWidth, y - kHalfHeight, x + halfWidth, y + kHalfHeight};
}

}  // namespace quill
