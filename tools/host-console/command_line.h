// The console's command line: the options and jobs it knows, the usage text
// built from them, and the reading of the words a person typed.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/host-console/console_host.h"

namespace quill::console {

struct ConsoleOptions {
    std::wstring modulePath;             // empty: the module beside the console
    ConsoleConnection::Profile profile;  // the settings, keyed as the component reads them
    std::wstring traceFile;              // empty: the trace as the profile says
    bool progress = false;
    bool help = false;
    std::vector<std::wstring> jobs;      // the job words with their arguments, in order
};

// The options and job words of `words` (the arguments after the program's
// name). Options may stand anywhere; a word that begins with "--" is always
// an option. Nullopt, with `error` saying what is wrong, for an unknown
// option, a missing value or a value out of its range.
std::optional<ConsoleOptions> ReadCommandLine(const std::vector<std::wstring>& words, std::wstring& error);

// What `--help` prints.
std::wstring Usage();

// Added to every complaint about the command line.
constexpr const wchar_t* kSeeHelp = L"quill-console --help lists the options and jobs";

// Exit statuses.
constexpr int kEveryJobDone = 0;
constexpr int kJobFailed = 1;
constexpr int kCannotStart = 2;  // a wrong command line, or the module could not be loaded

}  // namespace quill::console
