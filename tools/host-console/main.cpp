// The host console: plays the host application for people. It checks the
// whole command line first, then creates the component, initialises it with
// a profile built from the command line and from what earlier runs kept (in
// %APPDATA%\Quillomat\quill-console.ini; the command line wins; the
// settings the run ends with are kept again), and runs jobs that call the
// component's methods and properties by their English or Russian names,
// printing what a script would see. The component comes from the module
// that --module names; without it, by its ProgID "AddIn.AddInObject" as a
// host creates it, once the module is registered (regsvr32), and otherwise
// from the module beside the console (Quillomat.dll for the 32-bit console,
// Quillomat64.dll for the 64-bit one).
// The options and jobs, with the usage text, are in command_line.cpp.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "core/connection_settings.h"
#include "core/port_map.h"
#include "core/win/text.h"
#include "link/win32_port_map.h"
#include "tools/host-console/bench.h"
#include "tools/host-console/command_line.h"
#include "tools/host-console/console_host.h"
#include "tools/host-console/csv.h"
#include "tools/host-console/script_object.h"
#include "tools/host-console/settings_frame.h"

namespace quill::console {
namespace {

using win::Utf8FromWide;
using win::WideFromUtf8;

// Text for a console window goes to it as UTF-16, so that the Russian
// messages read right whatever its code page (866 in a Russian cmd.exe);
// into a file or a pipe it goes as UTF-8 bytes.
void Write(const std::wstring& text, DWORD stream) {
    const HANDLE handle = ::GetStdHandle(stream);
    DWORD mode = 0, written = 0;
    if (::GetConsoleMode(handle, &mode)) {
        ::WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const std::string bytes = Utf8FromWide(text);
    ::WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void Print(const std::wstring& line, DWORD stream = STD_OUTPUT_HANDLE) { Write(line + L"\n", stream); }

void Fail(const std::wstring& message) { Print(L"quill-console: " + message, STD_ERROR_HANDLE); }

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

class Console {
public:
    Console(ScriptObject& object, bool progress, std::optional<std::vector<LONG>> searchPorts)
        : object_(object), progress_(progress), searchPorts_(std::move(searchPorts)) {}

    // Runs the jobs in order until one fails; false when one did. The
    // settings the component starts from come first.
    bool Run(const std::vector<Job>& jobs) {
        Print(L"Settings: " + ConnectionSettingsShown());
        for (size_t i = 0; i < jobs.size(); ++i) {
            if (RunJob(jobs[i])) continue;
            const size_t left = jobs.size() - i - 1;
            if (left > 0)
                Fail(Quoted(jobs[i].Typed()) + L" failed; " +
                     (left == 1 ? L"the job after it was" : std::to_wstring(left) + L" jobs after it were") +
                     L" not run");
            return false;
        }
        return true;
    }

private:
    using Words = std::vector<std::wstring>;

    // One job, its arguments checked by ReadCommandLine; false when it failed.
    bool RunJob(const Job& job) {
        const Words& args = job.args;
        if (job.name == L"list") return List();
        if (job.name == L"session") return Session();
        if (job.name == L"settings") return Settings();
        if (job.name == L"find") return Find();
        if (job.name == L"ports") return Ports();
        if (job.name == L"call") return CallJob(args[0], Words(args.begin() + 1, args.end()));
        if (job.name == L"get") return Get(args[0]);
        if (job.name == L"set") return Set(args[0], args[1]);
        if (job.name == L"pull-document") return Pull(L"GetData", args[0], args[1]);
        if (job.name == L"pull-database") return Pull(L"GetRecord", args[0], args[1]);
        if (job.name == L"load-database") return Load(args[0], args[1]);
        if (job.name == L"bench") return Bench(std::wcstol(args[0].c_str(), nullptr, 10));
        Fail(L"no way to run the job " + Quoted(job.name));  // a job row without a runner here
        return false;
    }

    // A call is done when the host's call went through and left Result 0.
    bool CallJob(const std::wstring& name, const Words& values) {
        const auto method = object_.FindMethod(name);
        if (!method) return Unknown(L"method", name);
        std::vector<ScriptValue> parsed;
        for (const auto& value : values) parsed.push_back(ScriptValue::Parse(value));
        Call(*method, parsed);
        return lastCall_ == S_OK && object_.Result() == 0;
    }

    bool Get(const std::wstring& name) {
        const auto property = object_.FindProperty(name);
        if (!property) return Unknown(L"property", name);
        Print(Name(*property) + L" = " + object_.Get(property->number).Show());
        return true;
    }

    // A write is done when the component takes it; a write to Enabled opens
    // or closes the port, and is judged by Result as a call is.
    bool Set(const std::wstring& name, const std::wstring& text) {
        const auto property = object_.FindProperty(name);
        if (!property) return Unknown(L"property", name);
        const ScriptValue value = ScriptValue::Parse(text);
        const HRESULT hr = object_.Set(property->number, value);
        Print(Name(*property) + L" := " + value.Show() + (hr == S_OK ? L"" : L"   (refused)") + L"   " + Outcome());
        if (hr != S_OK) return false;
        return property->english != L"Enabled" || object_.Result() == 0;
    }

    bool Unknown(const std::wstring& kind, const std::wstring& name) {
        Fail(L"the component has no " + kind + L" " + Quoted(name));
        return false;
    }

    static std::wstring Name(const Member& member) { return member.english + L" / " + member.russian; }

    std::wstring Outcome() const {
        return L"Result " + std::to_wstring(object_.Result()) + L" " +
               Quoted(object_.Text(L"ResultDescription"));
    }

    // One transcript line: the method with both names and its arguments,
    // what it returned, the result code with its message, and Data.
    std::optional<LONG> Call(const Member& method, const std::vector<ScriptValue>& args, bool quiet = false) {
        HRESULT& hr = lastCall_;
        const std::optional<LONG> value = object_.Call(method.number, args, hr);
        if (quiet) return value;
        std::wstring shown;
        for (const auto& arg : args) shown += (shown.empty() ? L"" : L", ") + arg.Show();
        std::wstring line = Name(method) + L"(" + shown + L")";
        line += value ? L" -> " + std::to_wstring(*value) : (hr == S_OK ? L"" : L" -> refused");
        Print(line);
        Print(L"    " + Outcome() + L"   Data " + Quoted(object_.Text(L"Data")));
        return value;
    }

    std::optional<LONG> CallByName(const wchar_t* name, std::vector<ScriptValue> args = {}, bool quiet = false) {
        const auto method = object_.FindMethod(name);
        if (!method) return std::nullopt;
        return Call(*method, args, quiet);
    }

    bool List() {
        Print(L"Extension " + Quoted(object_.ExtensionName()));
        Print(L"Properties:");
        for (const auto& property : object_.Properties())
            Print(L"  " + std::to_wstring(property.number) + L"  " + Name(property));
        Print(L"Methods:");
        for (const auto& method : object_.Methods())
            Print(L"  " + std::to_wstring(method.number) + L"  " + Name(method) + L"  parameters " +
                  std::to_wstring(object_.ParameterCount(method.number)) +
                  (object_.ReturnsValue(method.number) ? L", returns a value" : L", returns nothing"));
        return true;
    }

    // The connection settings as the component holds them.
    std::wstring ConnectionSettingsShown() const {
        const auto component = win::com_ptr<IUnknown>::copy_from(object_.Component());
        const auto settings = component.query<IConnectionSettings>();
        LONG port = 0, speed = 0, adapter = 0;
        if (!settings || FAILED(settings->GetSettings(&port, &speed, &adapter))) return L"(not shown)";
        const auto pace = component.query<IExchangeSettings>();
        LONG fast = 0;
        if (pace) pace->GetFastExchange(&fast);
        const auto trace = component.query<IWireTrace>();
        LONG traced = 0;
        if (trace) trace->GetTrace(&traced);
        return WideFromUtf8(PortName(port)) + L", " + std::to_wstring(BaudRate(speed)) + L" baud, " +
               (adapter != 0 ? L"infrared adapter" : L"cable") +
               (fast == kFastExchangeOn ? L", fast exchange" : L", standard pace") +
               (traced == kTraceOn ? L", wire trace" : L"");
    }

    bool Settings() {
        std::wstring error;
        const FrameOutcome outcome = RunSettingsFrame(object_.Component(), error);
        if (outcome == FrameOutcome::Failed) {
            Fail(error);
            return false;
        }
        if (outcome != FrameOutcome::Applied) {
            Print(L"Settings unchanged: " + ConnectionSettingsShown());
            return true;
        }
        // Apply reopened the port with the new settings.
        Print(L"Settings applied: " + ConnectionSettingsShown() + L"   " + Outcome());
        return object_.Result() == 0;
    }

    // Where the search found the terminal, and the options that reach it.
    static std::wstring FoundAt(LONG port, LONG speed, LONG irda) {
        const std::wstring where = WideFromUtf8(PortName(port)) + L", " +
                                   (irda != 0 ? L"infrared adapter (it answered at " +
                                                    std::to_wstring(BaudRate(speed)) + L" baud)"
                                              : std::to_wstring(BaudRate(speed)) + L" baud, cable");
        return where + L"   (--port " + std::to_wstring(PortNumber(port)) + L" --speed " + std::to_wstring(speed) +
               L" --irda " + std::to_wstring(irda != 0 ? 1 : 0) + L")";
    }

    // The component's search, watched until it ends; what it tries is shown
    // on a console.
    bool Find() {
        constexpr DWORD kFindPollMs = 50;
        constexpr LONG kSearching = 1, kFound = 2;
        const auto search = win::com_ptr<IUnknown>::copy_from(object_.Component()).query<ITerminalSearch>();
        if (!search) {
            Fail(L"find: the component cannot search for the terminal");
            return false;
        }
        const HRESULT started = StartSearch(*search.get());
        if (started == E_NOINTERFACE) {
            Fail(L"find: the component cannot narrow its search to the ports of --ports");
            return false;
        }
        if (started != S_OK) {
            Fail(L"find: a search is running already");
            return false;
        }
        LONG state = kSearching, port = 0, speed = 0, irda = 0;
        std::wstring shown;
        while (state == kSearching) {
            ::Sleep(kFindPollMs);
            if (FAILED(search->GetSearchState(&state, &port, &speed, &irda))) break;
            const std::wstring trying = WideFromUtf8(PortName(port)) + L" " +
                                        (irda != 0 ? L"adapter" : std::to_wstring(BaudRate(speed)));
            if (state == kSearching && trying != shown && ErrorsGoToAConsole()) {
                Write(L"\rtrying " + trying + L"          ", STD_ERROR_HANDLE);
                shown = trying;
            }
        }
        EndProgressLine();
        if (state == kFound) {
            Print(L"Found: " + FoundAt(port, speed, irda));
            return true;
        }
        Print(L"Not found: no terminal answered on " + Searched() +
              L", at any speed, on the cable or behind the adapter");
        return false;
    }

    // The whole search, or one narrowed to the ports of --ports.
    HRESULT StartSearch(ITerminalSearch& search) {
        if (!searchPorts_) return search.StartSearch();
        const auto narrowing = win::com_ptr<IUnknown>::copy_from(&search).query<ISearchPorts>();
        if (!narrowing) return E_NOINTERFACE;
        std::vector<LONG> ports = *searchPorts_;
        return narrowing->StartSearchOn(static_cast<LONG>(ports.size()), ports.data());
    }

    std::wstring Searched() const {
        if (!searchPorts_) return L"COM1 to COM16 and the present ports above them";
        std::wstring ports;
        for (LONG port : *searchPorts_) ports += (ports.empty() ? L"" : L", ") + WideFromUtf8(PortName(port));
        return ports;
    }

    // The ports Windows reports present, each with its --port number.
    static bool Ports() {
        const std::vector<int32_t> present = PresentPorts(Win32PortMap());
        if (present.empty()) Print(L"No serial port is reported present");
        for (int32_t port : present)
            Print(WideFromUtf8(PortName(port)) + L"   (--port " + std::to_wstring(PortNumber(port)) + L")");
        return true;
    }

    // Stops when Attach fails; otherwise every call runs, and the job fails
    // when any of them left a Result other than 0.
    bool Session() {
        if (CallByName(L"Attach").value_or(0) != 1) return false;
        bool everyCallDone = true;
        auto call = [&](const wchar_t* name, std::vector<ScriptValue> args = {}) {
            CallByName(name, std::move(args));
            everyCallDone = everyCallDone && object_.Result() == 0;
        };
        for (const wchar_t* query : {L"Ping", L"GetSN", L"GetTime", L"CurrentState", L"GetFreeMem"}) call(query);
        for (LONG document = 0; document <= 9; ++document) call(L"GetDataCount", {ScriptValue::Number(document)});
        for (LONG database = 1; database <= 3; ++database) call(L"GetRecordsCount", {ScriptValue::Number(database)});
        call(L"UpdateTime");
        call(L"GetTime");
        return everyCallDone;
    }

    std::vector<std::wstring> Fields() const {
        std::vector<std::wstring> fields;
        for (int n = 1; n <= 6; ++n) fields.push_back(object_.Text((L"Field" + std::to_wstring(n)).c_str()));
        return fields;
    }

    static bool ErrorsGoToAConsole() { return ::GetFileType(::GetStdHandle(STD_ERROR_HANDLE)) == FILE_TYPE_CHAR; }
    static void EndProgressLine() {
        if (ErrorsGoToAConsole()) Print(L"", STD_ERROR_HANDLE);
    }

    // A progress line on a console (rewritten in place), and the progress box
    // on request.
    void ShowProgress(LONG mode, LONG count, const std::wstring& what) {
        if (ErrorsGoToAConsole()) Write(L"\r" + what + L": " + std::to_wstring(count), STD_ERROR_HANDLE);
        if (progress_) CallByName(L"ShowProgress", {ScriptValue::Number(mode), ScriptValue::Number(count)}, true);
    }

    bool Pull(const wchar_t* method, const std::wstring& number, const std::wstring& path) {
        std::ofstream file(Utf8FromWide(path), std::ios::binary);
        if (!file) {
            Fail(L"cannot write " + path);
            return false;
        }
        LONG count = 0;
        for (;;) {
            const LONG got = CallByName(method, {ScriptValue::Parse(number)}, true).value_or(-1);
            if (got != 1) {
                EndProgressLine();
                Print(std::wstring(method) + L"(" + number + L"): " + std::to_wstring(count) + L" records to " +
                      path + L", last call " + std::to_wstring(got) + L"   " + Outcome());
                return got == 0;
            }
            file << Utf8FromWide(CsvLine(Fields())) << "\r\n";
            ShowProgress(1, ++count, L"received");
        }
    }

    bool Load(const std::wstring& number, const std::wstring& path) {
        std::ifstream file(Utf8FromWide(path), std::ios::binary);
        if (!file) {
            Fail(L"cannot read " + path);
            return false;
        }
        const auto fieldProperty = [this](int n) { return object_.FindProperty(L"Field" + std::to_wstring(n)); };
        LONG count = 0;
        std::string line;
        while (std::getline(file, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.empty()) continue;
            const auto fields = CsvFields(WideFromUtf8(line));
            for (int n = 1; n <= 6; ++n)
                object_.Set(fieldProperty(n)->number,
                            ScriptValue::Text(n <= static_cast<int>(fields.size()) ? fields[n - 1] : L""));
            if (CallByName(L"PutRecord", {ScriptValue::Parse(number)}, true).value_or(0) != 1) {
                EndProgressLine();
                Print(L"PutRecord(" + number + L") refused record " + std::to_wstring(count + 1) + L"   " +
                      Outcome());
                return false;
            }
            ShowProgress(0, ++count, L"sent");
        }
        EndProgressLine();
        Print(L"PutRecord(" + number + L"): " + std::to_wstring(count) + L" records from " + path);
        return CallByName(L"Finish").value_or(0) == 1;
    }

    bool Bench(LONG count) {
        std::wstring error;
        if (RunBench(object_, count, [](const std::wstring& line) { Print(line); }, error)) return true;
        Fail(error);
        return false;
    }

    ScriptObject& object_;
    bool progress_;
    std::optional<std::vector<LONG>> searchPorts_;
    HRESULT lastCall_ = S_OK;  // of the last call's CallAsFunc or CallAsProc
};

std::wstring ModuleBesideProgram() {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    folder.erase(folder.find_last_of(L"\\/") + 1);
    return folder + QUILL_MODULE_FILE_NAME;
}

const wchar_t kProgId[] = L"AddIn.AddInObject";

// The component from `modulePath` when given, else by its ProgID when
// registered, else from the module beside the console.
std::optional<ScriptObject> CreateComponent(std::wstring modulePath, IDispatch* connection, std::wstring& error) {
    const std::optional<CLSID> registered =
        modulePath.empty() ? ScriptObject::RegisteredClass(kProgId) : std::nullopt;
    if (registered) {
        auto object = ScriptObject::CreateRegistered(kProgId, *registered, connection, modulePath, error);
        if (object) Print(L"Component " + std::wstring(kProgId) + L", registered from " + modulePath);
        return object;
    }
    if (modulePath.empty()) modulePath = ModuleBesideProgram();
    auto object = ScriptObject::Create(modulePath, connection, error);
    if (object) Print(L"Component from " + modulePath);
    return object;
}

// The component's wire trace goes to `file` for this run, whatever its
// profile says.
bool TraceTo(ScriptObject& object, const std::wstring& file) {
    const auto trace = win::com_ptr<IUnknown>::copy_from(object.Component()).query<IWireTrace>();
    wchar_t full[MAX_PATH] = {};
    const DWORD length = ::GetFullPathNameW(file.c_str(), MAX_PATH, full, nullptr);
    const win::unique_bstr path(::SysAllocString(length > 0 && length < MAX_PATH ? full : file.c_str()));
    if (!trace || !path || FAILED(trace->SetTraceFile(path.get()))) {
        Fail(L"--trace: the component cannot write a wire trace");
        return false;
    }
    Print(L"Wire trace to " + std::wstring(path.get()));
    return true;
}

int RunConsole(const std::vector<std::wstring>& argv) {
    std::wstring error;
    std::optional<ConsoleOptions> options = ReadCommandLine(argv, error);
    if (!options) {
        Fail(error + L"; " + kSeeHelp);
        return kCannotStart;
    }
    if (options->help) {
        Print(Usage());
        return kEveryJobDone;
    }
    if (options->jobs.empty()) options->jobs.push_back(Job{L"list", {}});

    const ProfileStore store = ProfileStore::UserStore();
    if (options->forgetSettings && !store.Forget()) Fail(L"cannot forget the settings kept in " + store.path());
    auto connection = ConsoleConnection::Create(options->profile, store, !options->forgetSettings);
    auto object = CreateComponent(options->modulePath, connection->AsDispatch(), error);
    if (!object) {
        Fail(error);
        return kCannotStart;
    }
    if (!options->traceFile.empty() && !TraceTo(*object, options->traceFile)) {
        object->Done();
        return kCannotStart;
    }
    const bool ok = Console(*object, options->progress, options->searchPorts).Run(options->jobs);
    object->Done();
    if (!connection->KeepWritten()) Fail(L"cannot keep the profile in " + store.path());
    return ok ? kEveryJobDone : kJobFailed;
}

}  // namespace
}  // namespace quill::console

int main() {
    ::CoInitialize(nullptr);
    int argc = 0;
    LPWSTR* raw = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    std::vector<std::wstring> argv(raw + (argc > 0 ? 1 : 0), raw + argc);
    ::LocalFree(raw);
    const int status = quill::console::RunConsole(argv);
    ::CoUninitialize();
    return status;
}
