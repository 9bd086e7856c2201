#include "tools/host-console/command_line.h"

#include <cwchar>
#include <functional>

#include "component/extension_tables.h"
#include "core/win/text.h"

namespace quill::console {
namespace {

using Words = std::vector<std::wstring>;

// Takes an option's value into the options; an empty text when the value is
// good, else what is wrong with it. A switch gets no value.
using TakeValue = std::function<std::wstring(ConsoleOptions&, const std::wstring& value)>;

struct OptionRow {
    const wchar_t* name;
    const wchar_t* value;  // what it takes, as the usage shows it; nullptr for a switch
    const wchar_t* help;
    TakeValue take;
};

// Takes a job's arguments from `words`, starting at `next` and moving it
// past them, into `job`; an empty text when they are all there and good,
// else what is wrong (the job's name is put before it).
using TakeArguments = std::function<std::wstring(const Words& words, size_t& next, Job& job)>;

// One job: its word, its arguments as the usage shows them, what it does,
// and the check of its arguments. The console runs the jobs in main.cpp.
struct JobRow {
    const wchar_t* name;
    const wchar_t* arguments;
    const wchar_t* help;
    TakeArguments take;
};

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

std::optional<long> WholeNumber(const std::wstring& text) {
    if (text.empty()) return std::nullopt;
    wchar_t* end = nullptr;
    const long value = std::wcstol(text.c_str(), &end, 10);
    if (*end != L'\0') return std::nullopt;
    return value;
}

std::wstring NumberRefused(long lowest, long highest, const std::wstring& value) {
    return L"takes a number from " + std::to_wstring(lowest) + L" to " + std::to_wstring(highest) + L", not " +
           Quoted(value);
}

// A connection setting, seeded into the profile under the key the component
// reads at Init.
TakeValue Setting(const wchar_t* key, long lowest, long highest) {
    return [=](ConsoleOptions& options, const std::wstring& value) -> std::wstring {
        const std::optional<long> number = WholeNumber(value);
        if (!number || *number < lowest || *number > highest) return NumberRefused(lowest, highest, value);
        options.profile[key] = static_cast<LONG>(*number);
        return {};
    };
}

TakeValue Text(std::wstring ConsoleOptions::*field) {
    return [=](ConsoleOptions& options, const std::wstring& value) -> std::wstring {
        if (value.empty()) return L"takes a non-empty value";
        options.*field = value;
        return {};
    };
}

TakeValue Switch(bool ConsoleOptions::*field) {
    return [=](ConsoleOptions& options, const std::wstring&) -> std::wstring {
        options.*field = true;
        return {};
    };
}

// One row per option: the parsing and the usage text both come from here.
const OptionRow kOptions[] = {
    {L"--module", L"PATH", L"load the module from PATH (default: by ProgID when registered, else " QUILL_MODULE_FILE_NAME L" beside the console)",
     Text(&ConsoleOptions::modulePath)},
    {L"--port", L"N", L"serial port: 0 = COM1, 1 = COM2 ... 15 = COM16 (default: the kept setting, else 0)",
     Setting(L"Port", 0, 15)},
    {L"--speed", L"N",
     L"line speed: 0 = 115200, 1 = 57600, 2 = 38400, 3 = 19200, 4 = 9600, 5 = 4800, 6 = 2400 baud "
     L"(default: the kept setting, else 0)",
     Setting(L"Speed", 0, 6)},
    {L"--irda", L"0|1",
     L"1: the port leads to the infrared adapter of the terminal's cradle (default: the kept setting, else 0)",
     Setting(L"IsIrDA", 0, 1)},
    {L"--fast", L"0|1",
     L"1: fast exchange, each reply read as soon as its CR is in, without the 50 ms settle; 0: the standard "
     L"pace (default: the kept setting, else 0)",
     Setting(L"FastExchange", 0, 1)},
    {L"--forget-settings", nullptr,
     L"forget the settings earlier runs kept: this run starts from the defaults (and, as every run, keeps "
     L"what it ends with)",
     Switch(&ConsoleOptions::forgetSettings)},
    {L"--progress", nullptr, L"paint the progress box while records move", Switch(&ConsoleOptions::progress)},
    {L"--trace", L"FILE",
     L"write the wire trace of this run to FILE: every byte each way, each change of the line, each call",
     Text(&ConsoleOptions::traceFile)},
    {L"--help", nullptr, L"print this text and stop", Switch(&ConsoleOptions::help)},
};

// What one argument of a job must be: an empty text when `word` will do,
// else what is wrong with it.
using ArgumentCheck = std::function<std::wstring(const std::wstring& word)>;

ArgumentCheck NumberIn(const wchar_t* name, long lowest, long highest) {
    return [=](const std::wstring& word) -> std::wstring {
        const std::optional<long> number = WholeNumber(word);
        if (number && *number >= lowest && *number <= highest) return {};
        return std::wstring(name) + L" " + NumberRefused(lowest, highest, word);
    };
}

ArgumentCheck FileName() {
    return [](const std::wstring& word) -> std::wstring {
        if (word.empty()) return L"FILE takes a non-empty name";
        return {};
    };
}

std::wstring Needs(const std::wstring& arguments) { return L"needs " + arguments; }

// A job of a fixed number of arguments, each with its check.
TakeArguments Arguments(const wchar_t* shown, std::vector<ArgumentCheck> checks) {
    return [=](const Words& words, size_t& next, Job& job) -> std::wstring {
        if (next + checks.size() > words.size()) return Needs(shown);
        for (const ArgumentCheck& check : checks) {
            const std::wstring& word = words[next++];
            if (std::wstring refusal = check(word); !refusal.empty()) return refusal;
            job.args.push_back(word);
        }
        return {};
    };
}

TakeArguments NoArguments() { return Arguments(L"", {}); }

// The component's names are checked against the object model of this
// build, the one the module is built from; the Windows-1251 text is how
// the component compares them.
std::string ComponentName(const std::wstring& word) { return win::NarrowFromWide(win::kComponentCodePage, word); }

// call NAME [ARGS...]: a method of the component and as many arguments as
// it takes, each passed as typed (digits as a number, anything else as text).
TakeArguments MethodCall() {
    return [](const Words& words, size_t& next, Job& job) -> std::wstring {
        if (next >= words.size()) return Needs(L"NAME [ARGS...]");
        const std::wstring& name = words[next++];
        const MethodEntry* method = FindMethodEntry(FindMethod(ComponentName(name)));
        if (method == nullptr) return name + L": the component has no such method";
        job.args.push_back(name);
        const size_t count = static_cast<size_t>(method->paramCount);
        if (next + count > words.size())
            return name + L" " + Needs(std::to_wstring(count) + (count == 1 ? L" argument" : L" arguments"));
        job.args.insert(job.args.end(), words.begin() + static_cast<long>(next),
                        words.begin() + static_cast<long>(next + count));
        next += count;
        return {};
    };
}

// get NAME, set NAME VALUE: a property of the component, and the value.
TakeArguments PropertyAccess(bool withValue) {
    return [=](const Words& words, size_t& next, Job& job) -> std::wstring {
        const wchar_t* shown = withValue ? L"NAME VALUE" : L"NAME";
        if (next + (withValue ? 2 : 1) > words.size()) return Needs(shown);
        const std::wstring& name = words[next++];
        if (FindProperty(ComponentName(name)) < 0) return name + L": the component has no such property";
        job.args.push_back(name);
        if (withValue) job.args.push_back(words[next++]);
        return {};
    };
}

// The jobs, in the order the usage shows them; the console runs them in the
// order of the command line.
const JobRow kJobs[] = {
    {L"list", L"", L"the extension's name, properties and methods (the job when none is given)", NoArguments()},
    {L"session", L"", L"attach, then every query of the terminal, then set its clock", NoArguments()},
    {L"settings", L"", L"the settings page in a frame (OK, Cancel, Apply); what is applied is kept for the next runs",
     NoArguments()},
    {L"find", L"",
     L"look for the terminal on COM1 to COM16 at each speed, on the cable and behind the adapter, from the stored "
     L"setting; print where it answered (the job fails when nothing did)",
     NoArguments()},
    {L"call", L"NAME [ARGS...]", L"call a method, with as many arguments as it takes (digits go as a number, "
                                 L"anything else as text)",
     MethodCall()},
    {L"get", L"NAME", L"read a property", PropertyAccess(false)},
    {L"set", L"NAME VALUE", L"write a property (digits give a number, anything else text)", PropertyAccess(true)},
    {L"pull-document", L"N FILE", L"read document N (0 to 9) to a CSV file",
     Arguments(L"N FILE", {NumberIn(L"N", 0, 9), FileName()})},
    {L"pull-database", L"N FILE", L"read database N (1 to 3) to a CSV file",
     Arguments(L"N FILE", {NumberIn(L"N", 1, 3), FileName()})},
    {L"load-database", L"N FILE", L"load a CSV file into database N (1 to 3) and finish the load",
     Arguments(L"N FILE", {NumberIn(L"N", 1, 3), FileName()})},
    {L"bench", L"COUNT",
     L"time each query, and COUNT records pulled from document 1 and loaded into database 3, at the standard "
     L"pace and then at the fast one",
     Arguments(L"COUNT", {NumberIn(L"COUNT", 1, 100000)})},
};

const OptionRow* FindOption(const std::wstring& word) {
    for (const OptionRow& option : kOptions)
        if (word == option.name) return &option;
    return nullptr;
}

const JobRow* FindJob(const std::wstring& word) {
    for (const JobRow& job : kJobs)
        if (word == job.name) return &job;
    return nullptr;
}

bool IsOptionWord(const std::wstring& word) { return word.rfind(L"--", 0) == 0; }

// The job words, in order, split into jobs with their arguments checked.
std::optional<std::vector<Job>> ReadJobs(const Words& words, std::wstring& error) {
    std::vector<Job> jobs;
    for (size_t next = 0; next < words.size();) {
        const JobRow* row = FindJob(words[next]);
        if (row == nullptr) {
            error = L"unknown job " + Quoted(words[next]);
            return std::nullopt;
        }
        Job job{words[next++], {}};
        if (const std::wstring refusal = row->take(words, next, job); !refusal.empty()) {
            error = job.name + L" " + refusal;
            return std::nullopt;
        }
        jobs.push_back(std::move(job));
    }
    return jobs;
}

std::wstring Padded(std::wstring text, size_t width) {
    if (text.size() < width) text.append(width - text.size(), L' ');
    return text + L"  ";
}

}  // namespace

std::wstring Job::Typed() const {
    std::wstring text = name;
    for (const std::wstring& arg : args) text += L" " + arg;
    return text;
}

std::optional<ConsoleOptions> ReadCommandLine(const std::vector<std::wstring>& words, std::wstring& error) {
    ConsoleOptions options;
    Words jobWords;
    for (size_t i = 0; i < words.size(); ++i) {
        if (!IsOptionWord(words[i])) {
            jobWords.push_back(words[i]);
            continue;
        }
        const OptionRow* option = FindOption(words[i]);
        if (option == nullptr) {
            error = L"unknown option " + Quoted(words[i]);
            return std::nullopt;
        }
        std::wstring value;
        if (option->value != nullptr) {
            if (i + 1 >= words.size()) {
                error = std::wstring(option->name) + L" needs a value (" + option->value + L")";
                return std::nullopt;
            }
            value = words[++i];
        }
        const std::wstring refusal = option->take(options, value);
        if (!refusal.empty()) {
            error = std::wstring(option->name) + L" " + refusal;
            return std::nullopt;
        }
    }
    if (options.help) return options;
    std::optional<std::vector<Job>> jobs = ReadJobs(jobWords, error);
    if (!jobs) return std::nullopt;
    options.jobs = std::move(*jobs);
    return options;
}

std::wstring Usage() {
    constexpr size_t kOptionWidth = 17, kJobWidth = 22;
    std::wstring text =
        L"Usage: quill-console [OPTIONS] [JOB [ARGS...]]...\n"
        L"\n"
        L"Plays the host application: loads the Quillomat module, creates the component with\n"
        L"the connection settings below, runs the jobs in order and prints what a script would\n"
        L"see. Methods and properties go by their English or Russian names. The whole command\n"
        L"line is checked before anything runs.\n"
        L"\n"
        L"Options (they may stand anywhere on the line):\n";
    for (const OptionRow& option : kOptions) {
        std::wstring words = option.name;
        if (option.value != nullptr) words += std::wstring(L" ") + option.value;
        text += L"  " + Padded(words, kOptionWidth) + option.help + L"\n";
    }
    text +=
        L"\n"
        L"Kept settings: at the end of each run the console keeps the port, speed, adapter and\n"
        L"pace the component ended with (those given above, or applied on the settings page)\n"
        L"in %APPDATA%\\Quillomat\\quill-console.ini, and the next run starts from them: they\n"
        L"are the defaults of --port, --speed, --irda and --fast. The trace flag of the settings\n"
        L"page is kept too; --trace FILE writes this run's trace to FILE whatever it says.\n"
        L"--forget-settings drops them.\n"
        L"\n"
        L"Jobs:\n";
    for (const JobRow& job : kJobs) {
        std::wstring words = job.name;
        if (*job.arguments != L'\0') words += std::wstring(L" ") + job.arguments;
        text += L"  " + Padded(words, kJobWidth) + job.help + L"\n";
    }
    text +=
        L"\n"
        L"A job fails when a call in it leaves a Result other than 0 (or the component refuses\n"
        L"it), or when it cannot do its work (a file, a record that did not move). The jobs\n"
        L"after a failed one are not run.\n"
        L"\n"
        L"Exit status: " + std::to_wstring(kEveryJobDone) + L" every job done, " + std::to_wstring(kJobFailed) +
        L" a job failed, " + std::to_wstring(kCannotStart) +
        L" a wrong command line (nothing was run) or the module could not be loaded.\n"
        L"\n"
        L"Example (the terminal on COM3 at 115200 baud, on a cable):\n"
        L"  quill-console --port 2 --speed 0 --irda 0 call Attach call Ping pull-document 1 doc1.csv";
    return text;
}

}  // namespace quill::console
