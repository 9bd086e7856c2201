// The wire trace against the simulator's own log: what the trace says went
// over the line is what the terminal heard and sent, byte for byte.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/script.h"

namespace quill::test {
namespace {

constexpr int kTerminal = 2;  // a terminal that answers every query (scenarios/com02-terminal.scn)

// The bytes each way: what the computer wrote, and what it received.
struct Wire {
    std::string written, received;
};

// The simulator's log: "<ms> baud=... RTS=. DTR=. RX 50 4E 47 0D |PNG.|"
// holds what the terminal heard (the computer wrote), TX what it sent.
Wire LoggedBytes(const std::string& log) {
    Wire wire;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string ms, baud, rts, dtr, direction;
        words >> ms >> baud >> rts >> dtr >> direction;
        if (direction != "RX" && direction != "TX") continue;
        std::string& bytes = direction == "RX" ? wire.written : wire.received;
        for (std::string hex; words >> hex && hex[0] != '|';)
            bytes += static_cast<char>(std::strtoul(hex.c_str(), nullptr, 16));
    }
    return wire;
}

// The trace: "<ms> write PNG\r" and "<ms> read ACK\r", with \\, \r and \xNN.
std::string Unescaped(const std::string& shown) {
    std::string bytes;
    for (size_t i = 0; i < shown.size(); ++i) {
        if (shown[i] != '\\' || i + 1 >= shown.size()) {
            bytes += shown[i];
        } else if (shown[i + 1] == 'r') {
            bytes += '\r';
            ++i;
        } else if (shown[i + 1] == 'x' && i + 3 < shown.size()) {
            bytes += static_cast<char>(std::strtoul(shown.substr(i + 2, 2).c_str(), nullptr, 16));
            i += 3;
        } else {
            bytes += shown[i + 1];
            ++i;
        }
    }
    return bytes;
}

Wire TracedBytes(const std::string& trace) {
    Wire wire;
    std::istringstream lines(trace);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t event = line.find_first_not_of(' ', line.find(' ', line.find_first_not_of(' ')));
        if (event == std::string::npos) continue;
        const std::string rest = line.substr(event);
        if (rest.rfind("write ", 0) == 0) wire.written += Unescaped(rest.substr(6));
        if (rest.rfind("read ", 0) == 0) wire.received += Unescaped(rest.substr(5));
    }
    return wire;
}

std::string WhenItHas(const std::string& path, const std::string& part) {
    for (int tries = 0; tries < 100; ++tries) {
        const std::string text = ReadWholeFile(path);
        if (text.find(part) != std::string::npos) return text;
        ::Sleep(50);
    }
    return ReadWholeFile(path);
}

TEST(WireTrace, CallsWithTheTraceOnWriteTheBytesTheSimulatorLoggedOfThem) {
    const std::string traceFile = WorkFile("wire-trace.log");
    ::DeleteFileA(traceFile.c_str());
    const size_t logStart = TrafficLog(kTerminal).size();
    {
        Script script(kTerminal);
        script.TraceTo(traceFile);
        ASSERT_EQ(script.Call("Attach"), 1);
        for (const char* query : {"Ping", "GetSN", "GetTime", "GetFreeMem", "CurrentState"})
            EXPECT_EQ(script.Call(query), query == std::string("GetFreeMem") ? 31999 : 1) << query;
        EXPECT_EQ(script.Call("GetDataCount", 3), 200);
        script.Proc("Deattach");
    }
    const std::string trace = WhenItHas(traceFile, "trace off");
    const Wire traced = TracedBytes(trace);
    const Wire logged = LoggedBytes(TrafficLog(kTerminal).substr(logStart));
    EXPECT_EQ(traced.written, "PNG\rGSN\rGST\rGFM\rGCS\rGDC3\r");
    EXPECT_EQ(traced.written, logged.written) << "what the terminal heard";
    EXPECT_EQ(traced.received, logged.received) << "what the terminal sent";
    for (const char* line : {" open COM2 at ", " line 115200 baud, RTS on, DTR on", " call Ping",
                             " done Ping: 1, Result 0", " done GetDataCount: 200, Result 0", " call Deattach",
                             " close: DTR and RTS off"})
        EXPECT_NE(trace.find(line), std::string::npos) << line << " in\n" << trace;
}

}  // namespace
}  // namespace quill::test
