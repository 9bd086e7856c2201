// The Russian sentences that explain the result codes.
#pragma once

#include <cstdint>
#include <string>

#include "core/result_codes.h"

namespace quill {

// The message of a result code, as Windows-1251 bytes; codes outside 0 ... 29
// give "Неизвестная ошибка номер:<code>".
std::string DescribeResult(int32_t resultCode);

}  // namespace quill
