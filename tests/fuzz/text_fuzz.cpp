// The text helpers under any input: Windows-1251 to UTF-8 and back, decimal
// numbers as scripts and the terminal write them, and the connection
// settings' tables. Each result is checked against a property or against a
// reference written here without the helper's code.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>

#include "core/connection_settings.h"
#include "core/cp1251.h"
#include "core/numbers.h"

namespace quill::fuzz {
namespace {

void Require(bool holds, const char* invariant) {
    if (holds) return;
    std::fprintf(stderr, "broken: %s\n", invariant);
    std::abort();
}

// The one byte of Windows-1251 without a character.
constexpr char kUnassigned = '\x98';

bool IsWellFormedUtf8(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<uint8_t>(text[i]);
        const size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : 0;
        if (length == 0 || i + length > text.size()) return false;
        for (size_t k = 1; k < length; ++k)
            if ((static_cast<uint8_t>(text[i + k]) & 0xC0) != 0x80) return false;
        i += length;
    }
    return true;
}

void CheckCodePage(const std::string& bytes) {
    const std::string utf8 = Utf8FromCp1251(bytes);
    Require(IsWellFormedUtf8(utf8), "Windows-1251 becomes well-formed UTF-8");
    const std::string back = Cp1251FromUtf8(utf8);
    Require(back.size() == bytes.size(), "one byte for each character, both ways");
    for (size_t i = 0; i < bytes.size(); ++i)
        Require(back[i] == (bytes[i] == kUnassigned ? '?' : bytes[i]), "every assigned byte comes back as it was");

    const std::string fromAnyUtf8 = Cp1251FromUtf8(bytes);
    Require(fromAnyUtf8.size() <= bytes.size(), "no more bytes than the UTF-8 had");
    Require(Cp1251FromUtf8(Utf8FromCp1251(fromAnyUtf8)) == fromAnyUtf8, "converted text survives a round trip");
}

// Leading blanks, a sign, digits; saturated to 32 bits.
int64_t ReferenceDecimal(const std::string& text) {
    size_t pos = text.find_first_not_of(" \t\n\v\f\r");
    if (pos == std::string::npos) return 0;
    bool negative = false;
    if (text[pos] == '+' || text[pos] == '-') negative = text[pos++] == '-';
    const size_t digitsEnd = text.find_first_not_of("0123456789", pos);
    std::string digits = text.substr(pos, digitsEnd == std::string::npos ? std::string::npos : digitsEnd - pos);
    digits.erase(0, digits.find_first_not_of('0'));
    if (digits.empty()) return 0;
    const int64_t magnitude = digits.size() > 11 ? int64_t{1} << 40 : std::stoll(digits);
    const int64_t value = negative ? -magnitude : magnitude;
    return std::min<int64_t>(std::max<int64_t>(value, std::numeric_limits<int32_t>::min()),
                             std::numeric_limits<int32_t>::max());
}

// A whole number: what is left between the blanks is a sign or none, then
// digits only, at least one.
bool ReferenceIsWholeNumber(const std::string& text) {
    const char* const kBlanks = " \t\n\v\f\r";
    const size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string::npos) return false;
    std::string middle = text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
    if (middle[0] == '+' || middle[0] == '-') middle.erase(0, 1);
    return !middle.empty() && middle.find_first_not_of("0123456789") == std::string::npos;
}

void CheckNumbers(FuzzedDataProvider& fuzz, const std::string& text) {
    Require(ParseDecimal(text) == ReferenceDecimal(text), "decimal text reads as the reference reads it");
    const std::optional<int32_t> whole = WholeDecimal(text);
    Require(whole.has_value() == ReferenceIsWholeNumber(text), "a text parameter is taken when it is a whole number");
    Require(!whole || *whole == ReferenceDecimal(text), "a whole number reads as the reference reads it");
    const int32_t a = fuzz.ConsumeIntegral<int32_t>(), b = fuzz.ConsumeIntegral<int32_t>();
    const int32_t value = fuzz.ConsumeIntegral<int32_t>();
    const int32_t lowest = std::min(a, b), highest = std::max(a, b);
    const int32_t bounded = Bound(value, lowest, highest);
    Require(bounded >= lowest && bounded <= highest, "a bounded number lies in its range");
    Require(value < lowest || value > highest || bounded == value, "a number in range stays as it is");

    const std::string port = PortName(value);
    const int portNumber = std::atoi(port.c_str() + 3);
    Require(port.compare(0, 3, "COM") == 0 && portNumber >= 1 && portNumber <= 256,
            "every index names COM1 to COM256");
    const bool namesItsOwn = value >= 0 && value <= 255;
    Require(namesItsOwn ? portNumber == value + 1 : portNumber == 1,
            "an index from 0 to 255 names its own port, any other COM1");
    const uint32_t baud = BaudRate(value);
    Require(baud >= 2400 && baud <= 115200, "every index names a rate of the table");
}

}  // namespace
}  // namespace quill::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider fuzz(data, size);
    const std::string text = fuzz.ConsumeRandomLengthString(4096);
    quill::fuzz::CheckCodePage(text);
    quill::fuzz::CheckNumbers(fuzz, text);
    return 0;
}
