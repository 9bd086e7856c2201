// The component's own texts turned into Windows-1251 and back.
#include <gtest/gtest.h>

#include "core/cp1251.h"

namespace quill {
namespace {

TEST(Cp1251, CyrillicAndAsciiMapToTheirBytes) {
    EXPECT_EQ(Cp1251FromUtf8("Quillomat"), "Quillomat");
    EXPECT_EQ(Cp1251FromUtf8("АЯаяЁё№"), "\xC0\xDF\xE0\xFF\xA8\xB8\xB9");
    EXPECT_EQ(Cp1251FromUtf8("€"), "\x88");
}

TEST(Cp1251, CharactersTheCodePageLacksBecomeAQuestionMark) {
    EXPECT_EQ(Cp1251FromUtf8("a\u4E2Db"), "a?b");
    EXPECT_EQ(Cp1251FromUtf8("a\xFF" "b"), "a?b") << "malformed UTF-8";
}

TEST(Cp1251, EveryByteRoundTripsExceptTheUndefinedOne) {
    for (int byte = 0; byte < 256; ++byte) {
        const std::string one(1, static_cast<char>(byte));
        if (byte == 0x98) continue;  // no character in the code page
        EXPECT_EQ(Cp1251FromUtf8(Utf8FromCp1251(one)), one) << "byte " << byte;
    }
}

}  // namespace
}  // namespace quill
