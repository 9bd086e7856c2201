// What the end-to-end programs share: a component driven through its
// ILanguageExtender as a host script drives it, and the files the simulators
// leave in the work directory (run-e2e.sh).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "tests/win/test_host.h"

namespace quill::test {

// A file of the work directory, as a Windows path.
std::string WorkFile(const std::string& name);

// The whole content of a file, empty when it cannot be read.
std::string ReadWholeFile(const std::string& path);

// The traffic log of the simulator on a port.
std::string TrafficLog(int com);

// The stored databases of the simulator on a port, as its dump shows them at
// the moment of asking; empty when the simulator does not answer in time.
std::string DatabaseDump(int com);

int Occurrences(const std::string& text, const std::string& part);

std::string Digits(int value, int width);

// The simulator's generated record i of a document ("DOC") or database ("DB").
std::string GeneratedRecord(const std::string& kind, int store, int i);

// The pace a component's profile asks for: the run's own (fast when the
// program runs with QUILL_E2E_FAST=1), or the one a test needs.
enum class Pace { OfTheRun, Standard, Fast };

// A component as a host script holds it, initialised with a profile that
// chooses the given port (and adapter, and pace), Done when it goes.
class Script {
public:
    explicit Script(int com, bool irda = false, Pace pace = Pace::OfTheRun);
    ~Script();

    // Calls a method by name as CallAsFunc with integer or text parameters.
    LONG Call(const std::string& name, std::vector<win::unique_variant> args = {});
    LONG Call(const std::string& name, LONG number);
    void Proc(const std::string& name);

    LONG Result() { return Get("Result")->lVal; }
    std::string Description() { return Utf8(Get("ResultDescription")->bstrVal); }
    std::string Data() { return Utf8(Get("Data")->bstrVal); }
    LONG Enabled() { return Get("Enabled")->lVal; }
    std::string Field(int n) { return Utf8(Get("Field" + std::to_string(n))->bstrVal); }
    void SetField(int n, const std::string& utf8) { Set("Field" + std::to_string(n), TextValue(utf8)); }
    void Set(const std::string& name, win::unique_variant value);
    // The component's wire trace to `windowsPath` from now on.
    void TraceTo(const std::string& windowsPath);

private:
    LONG Method(const std::string& name);
    LONG Property(const std::string& name);
    win::unique_variant Get(const std::string& name);

    FakeConnection connection_;
    win::com_ptr<IInitDone> component_;
    win::com_ptr<ILanguageExtender> extender_;
};

}  // namespace quill::test
