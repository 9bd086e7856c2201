// Records as CSV lines: six fields, quoted where a field holds a comma, a
// quote or a line break.
#pragma once

#include <string>
#include <vector>

namespace quill::console {

std::wstring CsvLine(const std::vector<std::wstring>& fields);
// Splits one line; quotes group, a doubled quote inside them stands for one.
std::vector<std::wstring> CsvFields(const std::wstring& line);

}  // namespace quill::console
