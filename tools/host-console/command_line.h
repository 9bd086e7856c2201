// The console's command line: the options and jobs it knows, the usage text
// built from them, and the reading and checking of the words a person typed.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/host-console/console_host.h"

namespace quill::console {

// One job of the command line, its arguments checked: the job's word
// ("call", "pull-document", ...) and the words it took.
struct Job {
    std::wstring name;
    std::vector<std::wstring> args;

    // The job as it was typed, for messages.
    std::wstring Typed() const;
};

struct ConsoleOptions {
    std::wstring modulePath;             // empty: the module beside the console
    ConsoleConnection::Profile profile;  // the settings, keyed as the component reads them
    std::wstring traceFile;              // empty: the trace as the profile says
    // The ports `find` searches, as port indices (the COM numbers typed,
    // less one); none: every port it knows.
    std::optional<std::vector<LONG>> searchPorts;
    bool progress = false;
    bool forgetSettings = false;         // start from the defaults, not from the kept settings
    bool help = false;
    std::vector<Job> jobs;               // in order
};

// The options and jobs of `words` (the arguments after the program's name),
// all checked before anything runs. Options may stand anywhere; a word that
// begins with "--" is always an option. Nullopt, with `error` saying what is
// wrong, for an unknown option, a missing value or a value out of its range,
// an unknown job, a job without all its arguments, a method or property the
// component does not have, or a job's number that is not a number in its
// range; `--ports` without a `find` job.
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
