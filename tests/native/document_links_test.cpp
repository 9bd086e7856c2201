// The project's documents link to one another and into the tree: every
// relative link of README.md, docs/*.md and tools/simulator/README.md must
// reach an existing file or folder, and a link's #anchor a heading of the
// document it points to, by the anchor rules of the repository's web view.
// A failure names the document, the line and the link.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "core/cp1251.h"

namespace quill {
namespace {

namespace fs = std::filesystem;

const fs::path kRoot = QUILL_SOURCE_DIR;

std::vector<fs::path> LinkedDocuments() {
    std::vector<fs::path> documents{kRoot / "README.md", kRoot / "tools/simulator/README.md"};
    for (const fs::directory_entry& entry : fs::directory_iterator(kRoot / "docs"))
        if (entry.path().extension() == ".md") documents.push_back(entry.path());
    std::sort(documents.begin(), documents.end());
    return documents;
}

// A heading's anchor as the web view makes it: lower case, every space a
// hyphen, punctuation and symbols dropped; letters, digits, hyphens and
// underscores kept, Cyrillic among the letters. Markup of the heading
// (backticks, a link's target) is gone from the text before. The documents
// are written in English and Russian, whose letters Windows-1251 holds: the
// anchor is worked out there.
std::string Anchor(const std::string& heading) {
    constexpr uint8_t kCapitalYo = 0xA8, kSmallYo = 0xB8, kCapitalA = 0xC0, kSmallA = 0xE0;
    std::string anchor;
    for (const char c : Cp1251FromUtf8(heading)) {
        const auto byte = static_cast<uint8_t>(c);
        if (byte == ' ') {
            anchor += '-';
        } else if (byte < 0x80 && (std::isalnum(byte) || byte == '-' || byte == '_')) {
            anchor += static_cast<char>(std::tolower(byte));
        } else if (byte >= kCapitalA) {
            anchor += static_cast<char>(byte < kSmallA ? byte + (kSmallA - kCapitalA) : byte);
        } else if (byte == kCapitalYo || byte == kSmallYo) {
            anchor += static_cast<char>(kSmallYo);
        }
    }
    return Utf8FromCp1251(anchor);
}

// The heading's text as it shows: no backticks, a link shown as its text.
std::string ShownText(std::string heading) {
    static const std::regex link(R"(\[([^\]]*)\]\([^)]*\))");
    heading = std::regex_replace(heading, link, "$1");
    heading.erase(std::remove(heading.begin(), heading.end(), '`'), heading.end());
    return heading;
}

bool IsFence(const std::string& line) {
    const size_t start = line.find_first_not_of(' ');
    return start != std::string::npos && start < 4 &&
           (line.compare(start, 3, "```") == 0 || line.compare(start, 3, "~~~") == 0);
}

bool IsIndented(const std::string& line) { return line.rfind("    ", 0) == 0 || line.rfind("\t", 0) == 0; }

struct Line {
    int number;
    std::string text;
};

// The lines of a document outside code blocks, with code spans blanked out.
std::vector<Line> ProseLines(const fs::path& document) {
    std::ifstream file(document);
    std::vector<Line> lines;
    bool inFence = false, inIndented = false, previousBlank = true;
    int number = 0;
    for (std::string text; std::getline(file, text);) {
        ++number;
        if (IsFence(text)) {
            inFence = !inFence;
            previousBlank = false;
            continue;
        }
        const bool blank = text.find_first_not_of(" \t\r") == std::string::npos;
        // An indented code block starts after a blank line and runs on
        // through indented and blank lines.
        inIndented = inIndented ? blank || IsIndented(text) : previousBlank && IsIndented(text);
        previousBlank = blank;
        if (inFence || inIndented) continue;
        static const std::regex codeSpan("`[^`]*`");
        lines.push_back({number, std::regex_replace(text, codeSpan, "``")});
    }
    return lines;
}

// Every anchor a document's headings give, with the web view's -1, -2 ...
// for a heading that repeats.
std::set<std::string> Anchors(const fs::path& document) {
    std::ifstream file(document);
    std::set<std::string> anchors;
    std::map<std::string, int> seen;
    bool inFence = false;
    static const std::regex heading(R"(^ {0,3}#{1,6}\s+(.*?)\s*#*\s*$)");
    for (std::string text; std::getline(file, text);) {
        if (IsFence(text)) inFence = !inFence;
        std::smatch match;
        if (inFence || !std::regex_match(text, match, heading)) continue;
        const std::string anchor = Anchor(ShownText(match[1]));
        const int repeats = seen[anchor]++;
        anchors.insert(repeats == 0 ? anchor : anchor + "-" + std::to_string(repeats));
    }
    return anchors;
}

std::string PercentDecoded(const std::string& text) {
    std::string decoded;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            decoded += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return decoded;
}

bool IsExternal(const std::string& target) {
    static const std::regex scheme("^[A-Za-z][A-Za-z0-9+.-]*:");
    return std::regex_search(target, scheme);
}

// What is wrong with one relative link of `document`, or nothing.
std::string LinkFault(const fs::path& document, const std::string& target) {
    const size_t hash = target.find('#');
    const std::string path = PercentDecoded(target.substr(0, hash));
    const fs::path file = path.empty() ? document : (document.parent_path() / path).lexically_normal();
    if (!fs::exists(file)) return "no such file or folder: " + file.lexically_relative(kRoot).string();
    if (hash == std::string::npos) return {};
    const std::string anchor = PercentDecoded(target.substr(hash + 1));
    if (file.extension() != ".md") return "an anchor into a file that is not a document";
    static std::map<fs::path, std::set<std::string>> anchorsOf;
    if (anchorsOf.count(file) == 0) anchorsOf[file] = Anchors(file);
    if (anchorsOf[file].count(anchor) == 0)
        return "no heading of " + file.lexically_relative(kRoot).string() + " gives #" + anchor;
    return {};
}

struct Link {
    int line;
    std::string target;
};

// Inline links and pictures, [text](target) and ![text](target "title"),
// and reference definitions, [name]: target.
std::vector<Link> Links(const fs::path& document) {
    static const std::regex inlineLink(R"(\]\(\s*<?([^)\s>]+)>?(?:\s+"[^"]*")?\s*\))");
    static const std::regex definition(R"(^ {0,3}\[[^\]]+\]:\s*<?(\S+?)>?(?:\s.*)?$)");
    std::vector<Link> links;
    for (const Line& line : ProseLines(document)) {
        for (auto it = std::sregex_iterator(line.text.begin(), line.text.end(), inlineLink); it != std::sregex_iterator(); ++it)
            links.push_back({line.number, (*it)[1]});
        std::smatch match;
        if (std::regex_match(line.text, match, definition)) links.push_back({line.number, match[1]});
    }
    return links;
}

TEST(DocumentLinks, HeadingsGiveTheAnchorsTheWebViewMakes) {
    struct Case {
        const char* heading;
        const char* anchor;
    };
    const Case cases[] = {
        {"Change, build, test", "change-build-test"},
        {"The wire trace's cost", "the-wire-traces-cost"},
        {"1. Put the files in their place", "1-put-the-files-in-their-place"},
        {"Traffic log (`--log`)", "traffic-log---log"},
        {"Modem-line shim (../modem-shim)", "modem-line-shim-modem-shim"},
        {"Настройки «Терминал Сбора Данных» — Ёлка", "настройки-терминал-сбора-данных--ёлка"},
        {"See [the guide](docs/INSTALL.md) first", "see-the-guide-first"},
        {"snake_case and UPPER", "snake_case-and-upper"},
    };
    for (const Case& c : cases) EXPECT_EQ(Anchor(ShownText(c.heading)), c.anchor) << "heading: " << c.heading;
}

TEST(DocumentLinks, EveryRelativeLinkReachesItsFileAndHeading) {
    int checked = 0;
    for (const fs::path& document : LinkedDocuments()) {
        ASSERT_TRUE(fs::exists(document)) << document;
        for (const Link& link : Links(document)) {
            if (IsExternal(link.target)) continue;
            ++checked;
            const std::string fault = LinkFault(document, link.target);
            EXPECT_TRUE(fault.empty()) << document.lexically_relative(kRoot).string() << " line " << link.line
                                       << ": (" << link.target << ")\n  " << fault;
        }
    }
    EXPECT_GT(checked, 0) << "no relative link found: the link reader reads nothing";
}

}  // namespace
}  // namespace quill
