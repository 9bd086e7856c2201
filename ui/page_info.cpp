#include "ui/page_info.h"

#include <cstdlib>
#include <limits>

namespace quill {
namespace {

constexpr uint32_t kSetFontStyle = 0x40;     // DS_SETFONT: a point size and face name follow
constexpr uint16_t kOrdinalMark = 0xFFFF;    // a menu or class given by number
constexpr int32_t kPointsPerInch = 72;
constexpr int32_t kSampleLength = 26;        // half the sample's 52 letters
constexpr int32_t kUnitsPerCharWidth = 4;
constexpr int32_t kUnitsPerCharHeight = 8;

// Little-endian reads over the template's bytes; every read past the end
// marks the reader failed.
class TemplateReader {
public:
    TemplateReader(const uint8_t* bytes, size_t size) : bytes_(bytes), size_(size) {}

    bool failed() const { return failed_; }

    uint16_t Word() {
        if (failed_ || size_ - at_ < 2) return Fail();
        const uint16_t value = static_cast<uint16_t>(bytes_[at_] | (bytes_[at_ + 1] << 8));
        at_ += 2;
        return value;
    }
    uint32_t Dword() {
        const uint32_t low = Word();
        return low | (static_cast<uint32_t>(Word()) << 16);
    }
    int32_t Short() { return static_cast<int16_t>(Word()); }
    void Skip(size_t count) {
        if (failed_ || size_ - at_ < count) Fail();
        else at_ += count;
    }
    // A zero-terminated UTF-16 text.
    std::u16string Text() {
        std::u16string text;
        for (uint16_t unit = Word(); !failed_ && unit != 0; unit = Word()) text.push_back(static_cast<char16_t>(unit));
        return text;
    }
    // A text, or a mark followed by a number, or nothing (a single zero).
    void SkipTextOrOrdinal() {
        const uint16_t first = Word();
        if (first == kOrdinalMark) {
            Word();
            return;
        }
        if (first != 0) Text();
    }

private:
    uint16_t Fail() {
        failed_ = true;
        return 0;
    }

    const uint8_t* bytes_;
    size_t size_;
    size_t at_ = 0;
    bool failed_ = false;
};

}  // namespace

std::optional<DialogTemplateFacts> ReadDialogTemplate(const uint8_t* bytes, size_t size) {
    if (bytes == nullptr) return std::nullopt;
    TemplateReader reader(bytes, size);
    DialogTemplateFacts facts;

    // The extended form starts with its version and a signature word; the
    // classic one with the style.
    const bool extended = size >= 4 && bytes[2] == 0xFF && bytes[3] == 0xFF;
    uint32_t style = 0;
    if (extended) {
        reader.Word();   // version
        reader.Word();   // signature
        reader.Dword();  // help id
        reader.Dword();  // extended style
        style = reader.Dword();
    } else {
        style = reader.Dword();
        reader.Dword();  // extended style
    }
    reader.Word();   // item count
    reader.Short();  // x
    reader.Short();  // y
    facts.widthUnits = reader.Short();
    facts.heightUnits = reader.Short();
    reader.SkipTextOrOrdinal();  // menu
    reader.SkipTextOrOrdinal();  // window class
    reader.Text();               // title

    facts.namesFont = (style & kSetFontStyle) != 0;
    if (facts.namesFont) {
        facts.pointSize = static_cast<int32_t>(reader.Word());
        if (extended) reader.Skip(4);  // weight, italic, character set
        facts.faceName = reader.Text();
    }
    if (reader.failed()) return std::nullopt;
    return facts;
}

int32_t MulDivRounded(int32_t a, int32_t b, int32_t c) {
    if (c == 0) return -1;
    const int64_t product = static_cast<int64_t>(a) * b;
    const int64_t divisor = c;
    const bool negative = (product < 0) != (divisor < 0);
    const int64_t magnitude = (std::abs(product) + std::abs(divisor) / 2) / std::abs(divisor);
    const int64_t result = negative ? -magnitude : magnitude;
    if (result > std::numeric_limits<int32_t>::max() || result < -std::numeric_limits<int32_t>::max()) return -1;
    return static_cast<int32_t>(result);
}

int32_t FontHeightForPoints(int32_t points, int32_t pixelsPerInch) {
    return -MulDivRounded(points, pixelsPerInch, kPointsPerInch);
}

int32_t AverageCharWidth(int32_t sampleWidth) { return (sampleWidth + kSampleLength) / (2 * kSampleLength); }

PixelSize DialogUnitsToPixels(int32_t widthUnits, int32_t heightUnits, CharCell cell) {
    return {MulDivRounded(widthUnits, cell.width, kUnitsPerCharWidth),
            MulDivRounded(heightUnits, cell.height, kUnitsPerCharHeight)};
}

}  // namespace quill
