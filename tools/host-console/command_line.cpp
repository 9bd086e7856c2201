#include "tools/host-console/command_line.h"

#include <cwchar>
#include <functional>

namespace quill::console {
namespace {

// Takes an option's value into the options; an empty text when the value is
// good, else what is wrong with it. A switch gets no value.
using TakeValue = std::function<std::wstring(ConsoleOptions&, const std::wstring& value)>;

struct OptionRow {
    const wchar_t* name;
    const wchar_t* value;  // what it takes, as the usage shows it; nullptr for a switch
    const wchar_t* help;
    TakeValue take;
};

struct JobRow {
    const wchar_t* words;
    const wchar_t* help;
};

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

std::optional<long> WholeNumber(const std::wstring& text) {
    if (text.empty()) return std::nullopt;
    wchar_t* end = nullptr;
    const long value = std::wcstol(text.c_str(), &end, 10);
    if (*end != L'\0') return std::nullopt;
    return value;
}

// A connection setting, seeded into the profile under the key the component
// reads at Init.
TakeValue Setting(const wchar_t* key, long lowest, long highest) {
    return [=](ConsoleOptions& options, const std::wstring& value) -> std::wstring {
        const std::optional<long> number = WholeNumber(value);
        if (!number || *number < lowest || *number > highest)
            return L"takes a number from " + std::to_wstring(lowest) + L" to " + std::to_wstring(highest) +
                   L", not " + Quoted(value);
        options.profile[key] = static_cast<LONG>(*number);
        return {};
    };
}

// A connection flag turned on, seeded like a setting.
TakeValue SettingOn(const wchar_t* key) {
    return [=](ConsoleOptions& options, const std::wstring&) -> std::wstring {
        options.profile[key] = 1;
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
    {L"--module", L"PATH", L"load the module from PATH (default: by ProgID when registered, else " QUILL_MODULE_FILE_NAME L" beside quill-console.exe)",
     Text(&ConsoleOptions::modulePath)},
    {L"--port", L"N", L"serial port: 0 = COM1, 1 = COM2 ... 15 = COM16 (default 0)",
     Setting(L"Port:0", 0, 15)},
    {L"--speed", L"N",
     L"line speed: 0 = 115200, 1 = 57600, 2 = 38400, 3 = 19200, 4 = 9600, 5 = 4800, 6 = 2400 baud (default 0)",
     Setting(L"Speed:0", 0, 6)},
    {L"--irda", L"0|1", L"1: the port leads to the infrared adapter of the terminal's cradle (default 0)",
     Setting(L"IsIrDA:0", 0, 1)},
    {L"--fast", nullptr, L"fast exchange: read each reply as soon as its CR is in, without the 50 ms settle",
     SettingOn(L"FastExchange:0")},
    {L"--progress", nullptr, L"paint the progress box while records move", Switch(&ConsoleOptions::progress)},
    {L"--trace", L"FILE",
     L"write the wire trace of this run to FILE: every byte each way, each change of the line, each call",
     Text(&ConsoleOptions::traceFile)},
    {L"--help", nullptr, L"print this text and stop", Switch(&ConsoleOptions::help)},
};

// The jobs, as the usage shows them; the console runs them in order.
const JobRow kJobs[] = {
    {L"list", L"the extension's name, properties and methods (the job when none is given)"},
    {L"session", L"attach, then every query of the terminal, then set its clock"},
    {L"settings", L"the settings page in a frame (OK, Cancel, Apply); what is applied is kept for the next runs"},
    {L"find",
     L"look for the terminal on COM1 to COM16 at each speed, on the cable and behind the adapter, from the stored "
     L"setting; print where it answered (status 1 when nothing did)"},
    {L"call NAME [ARGS...]", L"call a method, with as many arguments as it takes"},
    {L"get NAME", L"read a property"},
    {L"set NAME VALUE", L"write a property (digits give a number, anything else text)"},
    {L"pull-document N FILE", L"read document N (0 to 9) to a CSV file"},
    {L"pull-database N FILE", L"read database N (1 to 3) to a CSV file"},
    {L"load-database N FILE", L"load a CSV file into database N (1 to 3) and finish the load"},
    {L"bench COUNT",
     L"time each query, and COUNT records pulled from document 1 and loaded into database 3, at the standard "
     L"pace and then at the fast one"},
};

const OptionRow* FindOption(const std::wstring& word) {
    for (const OptionRow& option : kOptions)
        if (word == option.name) return &option;
    return nullptr;
}

bool IsOptionWord(const std::wstring& word) { return word.rfind(L"--", 0) == 0; }

std::wstring Padded(std::wstring text, size_t width) {
    if (text.size() < width) text.append(width - text.size(), L' ');
    return text + L"  ";
}

}  // namespace

std::optional<ConsoleOptions> ReadCommandLine(const std::vector<std::wstring>& words, std::wstring& error) {
    ConsoleOptions options;
    for (size_t i = 0; i < words.size(); ++i) {
        if (!IsOptionWord(words[i])) {
            options.jobs.push_back(words[i]);
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
    return options;
}

std::wstring Usage() {
    constexpr size_t kOptionWidth = 16, kJobWidth = 22;
    std::wstring text =
        L"Usage: quill-console [OPTIONS] [JOB [ARGS...]]...\n"
        L"\n"
        L"Plays the host application: loads the Quillomat module, creates the component with\n"
        L"the connection settings below, runs the jobs in order and prints what a script would\n"
        L"see. Methods and properties go by their English or Russian names.\n"
        L"\n"
        L"Options (they may stand anywhere on the line):\n";
    for (const OptionRow& option : kOptions) {
        std::wstring words = option.name;
        if (option.value != nullptr) words += std::wstring(L" ") + option.value;
        text += L"  " + Padded(words, kOptionWidth) + option.help + L"\n";
    }
    text += L"\nJobs:\n";
    for (const JobRow& job : kJobs) text += L"  " + Padded(job.words, kJobWidth) + job.help + L"\n";
    text +=
        L"\n"
        L"Exit status: " + std::to_wstring(kEveryJobDone) + L" every job done, " + std::to_wstring(kJobFailed) +
        L" a job failed, " + std::to_wstring(kCannotStart) +
        L" a wrong command line or the module could not be loaded.\n"
        L"\n"
        L"Example (the terminal on COM3 at 115200 baud):\n"
        L"  quill-console --port 2 --speed 0 call Attach call Ping pull-document 1 doc1.csv";
    return text;
}

}  // namespace quill::console
