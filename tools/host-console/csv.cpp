#include "tools/host-console/csv.h"

namespace quill::console {

std::wstring CsvLine(const std::vector<std::wstring>& fields) {
    std::wstring line;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) line += L',';
        const std::wstring& field = fields[i];
        if (field.find_first_of(L",\"\r\n") == std::wstring::npos) {
            line += field;
            continue;
        }
        line += L'"';
        for (wchar_t c : field) {
            if (c == L'"') line += L'"';
            line += c;
        }
        line += L'"';
    }
    return line;
}

std::vector<std::wstring> CsvFields(const std::wstring& line) {
    std::vector<std::wstring> fields(1);
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const wchar_t c = line[i];
        if (quoted) {
            if (c == L'"' && i + 1 < line.size() && line[i + 1] == L'"') {
                fields.back() += L'"';
                ++i;
            } else if (c == L'"') {
                quoted = false;
            } else {
                fields.back() += c;
            }
        } else if (c == L'"') {
            quoted = true;
        } else if (c == L',') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

}  // namespace quill::console
