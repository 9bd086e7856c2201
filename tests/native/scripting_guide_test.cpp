// The script writers' guide, docs/SCRIPTING.md, against the module's own
// tables: every property and method with both names, its kind, parameter
// count and the result codes it may leave, and every result code with its
// message. A failure names the line of
// the guide that drifted.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "component/extension_tables.h"
#include "component/result_messages.h"
#include "core/cp1251.h"
#include "core/result_codes.h"
#include "link/protocol.h"

namespace quill {
namespace {

constexpr const char* kGuide = QUILL_SOURCE_DIR "/docs/SCRIPTING.md";

struct Row {
    int line;
    std::string text;
    std::map<std::string, std::string> cells;  // by column heading

    std::string Where() const { return std::string("docs/SCRIPTING.md line ") + std::to_string(line) + ": " + text; }
    const std::string& operator[](const std::string& heading) const {
        static const std::string kNone;
        const auto cell = cells.find(heading);
        return cell == cells.end() ? kNone : cell->second;
    }
};

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::vector<std::string> Cells(const std::string& line) {
    std::vector<std::string> cells;
    std::string inner = line.substr(1, line.rfind('|') - 1);
    std::istringstream parts(inner);
    for (std::string cell; std::getline(parts, cell, '|');) cells.push_back(Trimmed(cell));
    return cells;
}

// The rows of the guide's table whose heading line starts with
// `firstHeading`; empty when there is no such table.
std::vector<Row> TableRows(const std::string& firstHeading) {
    std::ifstream file(kGuide);
    std::vector<Row> rows;
    std::vector<std::string> headings;
    int number = 0;
    for (std::string line; std::getline(file, line);) {
        ++number;
        const bool tableLine = !line.empty() && line[0] == '|';
        if (!tableLine) {
            if (!rows.empty()) break;
            headings.clear();
            continue;
        }
        const std::vector<std::string> cells = Cells(line);
        if (headings.empty()) {
            if (!cells.empty() && cells[0] == firstHeading) headings = cells;
            continue;
        }
        if (line.rfind("|---", 0) == 0) continue;
        Row row{number, line, {}};
        for (size_t i = 0; i < cells.size() && i < headings.size(); ++i) row.cells[headings[i]] = cells[i];
        rows.push_back(row);
    }
    return rows;
}

std::string WithoutBackticks(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '`'), text.end());
    return text;
}

// Parameters are named in backticks, one pair each; "none" or a dash is no parameter.
int ParameterCount(const std::string& cell) {
    return static_cast<int>(std::count(cell.begin(), cell.end(), '`') / 2);
}

std::set<int> Numbers(const std::string& cell) {
    std::set<int> numbers;
    const std::regex number("[0-9]+");
    for (auto it = std::sregex_iterator(cell.begin(), cell.end(), number); it != std::sregex_iterator(); ++it)
        numbers.insert(std::stoi(it->str()));
    return numbers;
}

bool IsProperty(const Row& row) { return row["Kind"].rfind("property", 0) == 0; }

std::optional<int> WholeNumber(const std::string& text) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    return std::stoi(text);
}

// Finds the guide's row of a module entry, and says when it is missing or
// out of the module's order.
const Row* RowOf(const std::vector<Row>& rows, const std::string& english, size_t position) {
    for (size_t i = 0; i < rows.size(); ++i) {
        if (WithoutBackticks(rows[i]["English name"]) != english) continue;
        EXPECT_EQ(i, position) << rows[i].Where() << "\n  stands in another place than in the module's table";
        return &rows[i];
    }
    ADD_FAILURE() << "docs/SCRIPTING.md has no row for " << english;
    return nullptr;
}

class ScriptingGuide : public ::testing::Test {
protected:
    void SetUp() override {
        for (const Row& row : TableRows("English name")) (IsProperty(row) ? properties : methods).push_back(row);
        codes = TableRows("Code");
        ASSERT_FALSE(properties.empty() && methods.empty()) << kGuide << ": no table of properties and methods";
        ASSERT_FALSE(codes.empty()) << kGuide << ": no table of result codes";
    }
    std::vector<Row> properties, methods, codes;
};

TEST_F(ScriptingGuide, ListsThePropertiesWithTheModulesNamesAndAccess) {
    EXPECT_EQ(properties.size(), static_cast<size_t>(kPropertyCount)) << "property rows in docs/SCRIPTING.md";
    for (int32_t number = 0; number < kPropertyCount; ++number) {
        const PropertyEntry& entry = *FindPropertyEntry(number);
        const Row* row = RowOf(properties, AliasName(entry.names, 0), static_cast<size_t>(number));
        if (row == nullptr) continue;
        EXPECT_EQ(WithoutBackticks((*row)["Russian name"]), AliasName(entry.names, 1)) << row->Where();
        EXPECT_EQ((*row)["Kind"].find("write") != std::string::npos, entry.writable)
            << row->Where() << "\n  the module says " << (entry.writable ? "read and write" : "read only");
    }
}

TEST_F(ScriptingGuide, ListsTheMethodsWithTheModulesNamesParametersAndKind) {
    EXPECT_EQ(methods.size(), static_cast<size_t>(kMethodCount)) << "method rows in docs/SCRIPTING.md";
    for (int32_t number = 0; number < kMethodCount; ++number) {
        const MethodEntry& entry = *FindMethodEntry(number);
        const Row* row = RowOf(methods, AliasName(entry.names, 0), static_cast<size_t>(number));
        if (row == nullptr) continue;
        EXPECT_EQ(WithoutBackticks((*row)["Russian name"]), AliasName(entry.names, 1)) << row->Where();
        EXPECT_EQ(ParameterCount((*row)["Parameters"]), entry.paramCount)
            << row->Where() << "\n  the module says " << entry.paramCount << " parameter(s)";
        EXPECT_EQ((*row)["Kind"], entry.returnsValue ? "function" : "procedure") << row->Where();
        if (!entry.returnsValue) {
            EXPECT_EQ((*row)["Returns"].rfind("nothing", 0), 0u) << row->Where();
        }
    }
}

TEST_F(ScriptingGuide, GivesEveryResultCodeTheModulesMessage) {
    int32_t expectedCode = 0;
    for (const Row& row : codes) {
        const std::optional<int> code = WholeNumber(row["Code"]);
        if (!code) {
            ADD_FAILURE() << row.Where() << "\n  is not a result code";
            continue;
        }
        EXPECT_EQ(*code, expectedCode++) << row.Where() << "\n  out of order";
        EXPECT_EQ(row["Message"], Utf8FromCp1251(DescribeResult(*code)))
            << row.Where() << "\n  the module's message differs";
    }
    EXPECT_EQ(expectedCode, code::kHighestKnown + 1) << "result code rows in docs/SCRIPTING.md";

    std::ifstream file(kGuide);
    const std::string guide((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_NE(guide.find(Utf8FromCp1251(DescribeResult(30))), std::string::npos)
        << "docs/SCRIPTING.md does not show the message of an unknown code as the module writes it";
}

std::string Listed(const std::set<int>& codes) {
    std::string text;
    for (int code : codes) text += (text.empty() ? "" : ", ") + std::to_string(code);
    return text;
}

TEST_F(ScriptingGuide, GivesEachMethodTheResultCodesTheModuleMayLeave) {
    for (int32_t number = 0; number < kMethodCount; ++number) {
        const MethodEntry& entry = *FindMethodEntry(number);
        const Row* row = RowOf(methods, AliasName(entry.names, 0), static_cast<size_t>(number));
        if (row == nullptr) continue;
        const std::vector<int32_t>& left = MethodResultCodes(number);
        const std::set<int> module(left.begin(), left.end());
        EXPECT_EQ(Numbers((*row)["Result codes"]), module)
            << row->Where() << "\n  the module may leave " << Listed(module);
    }
}

// The codes the methods and properties name are the codes the code table
// says something is left by, and no others.
TEST_F(ScriptingGuide, NamesOnlyCodesThatTheCodeTableSaysAreLeft) {
    std::set<int> named;
    for (const auto* rows : {&properties, &methods})
        for (const Row& row : *rows)
            for (int code : Numbers(row["Result codes"])) {
                named.insert(code);
                EXPECT_LE(code, code::kHighestKnown) << row.Where();
            }
    for (const Row& row : codes) {
        const std::optional<int> code = WholeNumber(row["Code"]);
        if (!code) continue;
        const bool left = row["What the script does"] != "—";
        EXPECT_EQ(named.count(*code) == 1, left)
            << row.Where() << "\n  " << (left ? "no property or method names this code"
                                              : "a property or method names this code");
    }
}

// The bound the link keeps on every close (tests/native/link_lost_records_test.cpp
// holds it to that on the virtual clock) is the one the guide states.
TEST(ScriptingGuideText, StatesTheTimeACloseTakesAtMost) {
    std::ifstream file(kGuide);
    std::string guide, word;
    while (file >> word) guide += (guide.empty() ? "" : " ") + word;
    const std::string bound = std::to_string(protocol::kCloseLimitMs / 1000) + "." +
                              std::to_string(protocol::kCloseLimitMs % 1000 / 100) + " s";
    EXPECT_NE(guide.find("a close takes at most " + bound + ", whatever the line does"), std::string::npos)
        << "docs/SCRIPTING.md does not say that a close takes at most " << bound;
}

}  // namespace
}  // namespace quill
