// A cradle's USB cable pulled out in the middle of a pull or a load, and
// plugged back (the terminals of unplugged/: the simulator closes its pty as
// a reply goes out, the port goes missing, and a new pty comes back under
// the same COM name). The call in progress ends in bounded time with code 2,
// Enabled reads 0, later calls say the port is not open (code 1) until the
// script attaches again; an attach while the cable is out fails with code 2,
// and one with the same settings once it is back opens the port again, in
// the same host process. No record is lost or stored twice.
#include <gtest/gtest.h>

#include <windows.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/script.h"

namespace quill::test {
namespace {

// The ports of the scenarios in unplugged/. (Wine opens a COM name that has
// no link of its own on the machine's serial device of that number, if any:
// these have none here, so that a port unplugged is missing.)
constexpr int kCutDuringADownload = 11, kCutDuringAnUpload = 12;

// A call on a port that went away ends about as fast as any failed call;
// under Wine only a loose bound.
constexpr DWORD kCallEndsWithinMs = 3000;
// The simulators plug the cable back 2.5 s after pulling it out.
constexpr DWORD kBackWithinMs = 15000;
constexpr DWORD kAttachAgainEveryMs = 100;

constexpr LONG kPortNotOpen = 1, kPortCannotBeUsed = 2;

// What a script does after code 2: attach again until the port is back.
bool AttachOnceBack(Script& script) {
    for (DWORD start = ::GetTickCount(); ::GetTickCount() - start < kBackWithinMs;) {
        if (script.Call("Attach") == 1) return true;
        ::Sleep(kAttachAgainEveryMs);
    }
    return false;
}

// Every call on a port the component closed: code 1, nothing done.
void ExpectPortNotOpen(Script& script, const std::string& method, LONG failure) {
    EXPECT_EQ(script.Call(method, 1), failure) << method;
    EXPECT_EQ(script.Result(), kPortNotOpen) << method;
    EXPECT_EQ(script.Enabled(), 0) << method;
}

// The lines the terminal heard after it was plugged back, in order.
std::vector<std::string> LinesHeardOnceBack(const std::string& log) {
    std::vector<std::string> lines;
    const size_t back = log.find("plugged back:");
    if (back == std::string::npos) return lines;
    std::istringstream text(log.substr(back));
    for (std::string entry; std::getline(text, entry);) {
        const size_t at = entry.find("EV line ");
        if (at == std::string::npos) continue;
        const size_t open = entry.find('"', at), close = entry.rfind('"');
        if (open != std::string::npos && close > open) lines.push_back(entry.substr(open + 1, close - open - 1));
    }
    return lines;
}

TEST(UnpluggedCradle, APullCutOffEndsWithCode2AndGoesOnAfterAttachingAgainWithNoRecordLost) {
    Script script(kCutDuringADownload);
    ASSERT_EQ(script.Call("Attach"), 1);
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(script.Call("GetData", 1), 1) << "record " << i << ", code " << script.Result();
        EXPECT_EQ(script.Data(), GeneratedRecord("DOC", 1, i));
    }

    const DWORD start = ::GetTickCount();
    EXPECT_EQ(script.Call("GetData", 1), -1) << "the third record's reply is cut";
    EXPECT_LT(::GetTickCount() - start, kCallEndsWithinMs);
    EXPECT_EQ(script.Result(), kPortCannotBeUsed);
    EXPECT_EQ(script.Enabled(), 0);

    ExpectPortNotOpen(script, "GetData", -1);
    ExpectPortNotOpen(script, "GetDataCount", -1);
    EXPECT_EQ(script.Call("Attach"), 0) << "the cable is still out";
    EXPECT_EQ(script.Result(), kPortCannotBeUsed);

    ASSERT_TRUE(AttachOnceBack(script)) << "code " << script.Result();
    EXPECT_EQ(script.Enabled(), 1);
    std::vector<std::string> rest;
    std::ostringstream calls;
    for (int i = 0; i < 6; ++i) {
        const LONG value = script.Call("GetData", 1);
        calls << value << "(" << script.Result() << ") ";
        if (value == 1) rest.push_back(script.Data());
        if (value == 0) break;
    }
    const std::vector<std::string> expected = {GeneratedRecord("DOC", 1, 2), GeneratedRecord("DOC", 1, 3),
                                               GeneratedRecord("DOC", 1, 4)};
    // The record on its way was cut off with the port: the terminal still
    // holds it, and the first line it hears once back asks for it with NAK.
    const std::vector<std::string> heard = LinesHeardOnceBack(TrafficLog(kCutDuringADownload));
    EXPECT_EQ(rest, expected) << "GetData(1) once back: " << calls.str();
    ASSERT_FALSE(heard.empty());
    EXPECT_EQ(heard.front(), "NAK") << "the record on its way is asked for again";
}

// Record i of the load, and its line in the simulator's dump.
std::string Loaded(int i) { return "CUT-" + std::to_string(i); }
std::string DumpLine(int index) { return "database 1 " + std::to_string(index) + " " + Loaded(index) + "\\t"; }

LONG Load(Script& script, int i) {
    script.SetField(1, Loaded(i));
    return script.Call("PutRecord", 1);
}

TEST(UnpluggedCradle, ALoadCutOffEndsWithCode2AndGoesOnAfterAttachingAgainWithEachRecordStoredOnce) {
    {
        Script script(kCutDuringAnUpload);
        ASSERT_EQ(script.Call("Attach"), 1);
        ASSERT_EQ(Load(script, 0), 1) << "code " << script.Result();

        const DWORD start = ::GetTickCount();
        EXPECT_EQ(Load(script, 1), 0) << "the second record's acknowledgement is cut";
        EXPECT_LT(::GetTickCount() - start, kCallEndsWithinMs);
        EXPECT_EQ(script.Result(), kPortCannotBeUsed);
        EXPECT_EQ(script.Enabled(), 0);

        ExpectPortNotOpen(script, "PutRecord", 0);
        EXPECT_EQ(script.Call("Finish"), 0);
        EXPECT_EQ(script.Result(), kPortNotOpen);
        EXPECT_EQ(script.Call("Attach"), 0) << "the cable is still out";
        EXPECT_EQ(script.Result(), kPortCannotBeUsed);

        ASSERT_TRUE(AttachOnceBack(script)) << "code " << script.Result();
        EXPECT_EQ(Load(script, 1), 1) << "loaded again, code " << script.Result();
        EXPECT_EQ(Load(script, 2), 1) << "code " << script.Result();
        EXPECT_EQ(script.Call("Finish"), 1) << "code " << script.Result();
    }
    const std::string dump = DatabaseDump(kCutDuringAnUpload);
    ASSERT_FALSE(dump.empty()) << "the simulator wrote no dump";
    std::vector<std::string> stored;
    std::istringstream lines(dump);
    for (std::string line; std::getline(lines, line);)
        if (line.compare(0, 9, "database ") == 0) stored.push_back(line);
    EXPECT_EQ(stored, (std::vector<std::string>{DumpLine(0), DumpLine(1), DumpLine(2)}));
}

}  // namespace
}  // namespace quill::test
