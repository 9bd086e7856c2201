// What a frame learns of the settings page before showing it: the page's
// size in pixels, worked out from its dialog template and the template's font.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace quill {

// What the size computation needs of a dialog template.
struct DialogTemplateFacts {
    int32_t widthUnits = 0;   // dialog units
    int32_t heightUnits = 0;
    bool namesFont = false;
    int32_t pointSize = 0;
    std::u16string faceName;
};

// Reads a dialog template (classic or extended) as the resource holds it;
// nullopt when the bytes end before the facts do.
std::optional<DialogTemplateFacts> ReadDialogTemplate(const uint8_t* bytes, size_t size);

// A dialog's character cell in pixels: the average character width and the
// line height of its font.
struct CharCell {
    int32_t width = 0;
    int32_t height = 0;
};

struct PixelSize {
    int32_t width = 0;
    int32_t height = 0;
};

// a * b / c rounded to the nearest integer, halves away from zero; -1 when
// c is 0 or the result does not fit, as the platform's MulDiv answers.
int32_t MulDivRounded(int32_t a, int32_t b, int32_t c);

// The text whose width gives a font's average character width.
constexpr const char* kCharWidthSample = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
// The font height (negative: character height, not cell height) for a size
// in points on a device with `pixelsPerInch` vertical resolution.
int32_t FontHeightForPoints(int32_t points, int32_t pixelsPerInch);
// The average character width from the width of kCharWidthSample, rounded.
int32_t AverageCharWidth(int32_t sampleWidth);
// A template's size in dialog units converted to pixels of the given cell:
// a horizontal unit is a quarter of the width, a vertical one an eighth of
// the height.
PixelSize DialogUnitsToPixels(int32_t widthUnits, int32_t heightUnits, CharCell cell);

}  // namespace quill
