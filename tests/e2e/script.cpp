#include "tests/e2e/script.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace quill::test {
namespace {

constexpr DWORD kDumpWaitMs = 5000;
constexpr DWORD kDumpPollMs = 20;

bool FileExists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool EnvironmentFlag(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && std::string(value) == "1";
}

bool FastRun() { return EnvironmentFlag("QUILL_E2E_FAST"); }

}  // namespace

std::string ReadWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

std::string WorkFile(const std::string& name) {
    const char* work = std::getenv("QUILL_E2E_WORK");
    std::string path = std::string("Z:") + (work != nullptr ? work : "") + "/" + name;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

std::string TrafficLog(int com) { return ReadWholeFile(WorkFile("terminal-" + std::to_string(com) + ".log")); }

// A Windows program cannot signal the simulator; it leaves a request file
// that run-e2e.sh turns into the simulator's dump signal, and waits for the
// dump to appear (the simulator writes it whole, by renaming).
std::string DatabaseDump(int com) {
    const std::string terminal = "terminal-" + std::to_string(com);
    const std::string dump = WorkFile(terminal + ".dump");
    ::DeleteFileA(dump.c_str());
    std::ofstream(WorkFile(terminal + ".dump-wanted")).put('\n');
    for (DWORD waited = 0; waited < kDumpWaitMs; waited += kDumpPollMs) {
        if (FileExists(dump)) return ReadWholeFile(dump);
        ::Sleep(kDumpPollMs);
    }
    return {};
}

int Occurrences(const std::string& text, const std::string& part) {
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

std::string Digits(int value, int width) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*d", width, value);
    return text;
}

std::string GeneratedRecord(const std::string& kind, int store, int i) {
    return kind + std::to_string(store) + "," + std::to_string(i + 1) + ",46000" +
           Digits(((i + 1) * 7919 + store) % 10000000, 7) + "," + std::to_string((i * 37 + store) % 100 + 1);
}

Script::Script(int com, bool irda, Pace pace) {
    const bool fast = pace == Pace::Fast || (pace == Pace::OfTheRun && FastRun());
    connection_.profile.Store("Port", com - 1);
    connection_.profile.Store("Speed", 0);
    connection_.profile.Store("IsIrDA", irda ? 1 : 0);
    connection_.profile.Store("FastExchange", fast ? 1 : 0);
    component_ = Module::Get().CreateComponent();
    extender_ = component_.query<ILanguageExtender>();
    EXPECT_EQ(component_->Init(&connection_), S_OK);
    // With QUILL_E2E_TRACE=1 every component traces the module's side of
    // the wire beside the simulator's log of the same port, so that a run
    // that failed can be read from both ends.
    if (EnvironmentFlag("QUILL_E2E_TRACE")) TraceTo(WorkFile("module-" + std::to_string(com) + ".log"));
}

Script::~Script() { component_->Done(); }

LONG Script::Call(const std::string& name, std::vector<win::unique_variant> args) {
    VariantArray params(static_cast<ULONG>(args.size()));
    for (size_t i = 0; i < args.size(); ++i) params.Set(static_cast<LONG>(i), *args[i].get());
    win::unique_variant value;
    EXPECT_EQ(extender_->CallAsFunc(Method(name), value.get(), params.put()), S_OK) << name;
    EXPECT_EQ(value.type(), VT_I4) << name;
    return value->lVal;
}

LONG Script::Call(const std::string& name, LONG number) {
    std::vector<win::unique_variant> args;
    args.push_back(IntValue(number));
    return Call(name, std::move(args));
}

void Script::Proc(const std::string& name) {
    VariantArray params(0);
    EXPECT_EQ(extender_->CallAsProc(Method(name), params.put()), S_OK) << name;
}

void Script::Set(const std::string& name, win::unique_variant value) {
    EXPECT_EQ(extender_->SetPropVal(Property(name), value.get()), S_OK) << name;
}

void Script::TraceTo(const std::string& windowsPath) {
    const auto trace = component_.query<IWireTrace>();
    ASSERT_TRUE(trace);
    EXPECT_EQ(trace->SetTraceFile(Bstr(windowsPath).get()), S_OK);
}

LONG Script::Method(const std::string& name) {
    LONG number = -1;
    extender_->FindMethod(Bstr(name).get(), &number);
    EXPECT_GE(number, 0) << name;
    return number;
}

LONG Script::Property(const std::string& name) {
    LONG number = -1;
    extender_->FindProp(Bstr(name).get(), &number);
    EXPECT_GE(number, 0) << name;
    return number;
}

win::unique_variant Script::Get(const std::string& name) {
    win::unique_variant value;
    EXPECT_EQ(extender_->GetPropVal(Property(name), value.get()), S_OK) << name;
    return value;
}

}  // namespace quill::test
