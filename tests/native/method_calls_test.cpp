// Script method calls: the starting result code, reading and bounding of the
// number parameter, the bad-parameter code, and the call kind.
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "component/extension_tables.h"
#include "component/method_calls.h"
#include "component/result_messages.h"
#include "fake_line.h"

namespace quill {
namespace {

// Parameters as the host would pass them; an index not in the map is
// missing or of a refused type. Records which indices were read.
struct Params : MethodParameters {
    std::map<int32_t, int32_t> values;
    mutable std::vector<int32_t> read;
    std::optional<int32_t> Integer(int32_t index) const override {
        read.push_back(index);
        auto it = values.find(index);
        return it == values.end() ? std::nullopt : std::optional<int32_t>(it->second);
    }
};

struct RecordingPainter : ProgressPainter {
    std::vector<std::pair<int32_t, int32_t>> drawn;
    void DrawProgressBox(int32_t mode, int32_t count) override { drawn.emplace_back(mode, count); }
};

struct CallBench : fake::LinkBench {
    explicit CallBench(bool openPort = true) : LinkBench(openPort) {}
    ConnectionSettings settings;
    RecordingPainter painter;
    MethodCalls calls{link, state, settings, painter};

    std::optional<int32_t> Func(int32_t method, std::map<int32_t, int32_t> values = {}) {
        Params params;
        params.values = std::move(values);
        return calls.CallAsFunc(method, params);
    }
};

TEST(MethodCalls, NumberParametersAreBoundedToTheirMethodsRange) {
    const struct {
        const char* sentence;
        int32_t method, given;
        std::string command;
    } cases[] = {
        {"GetDataCount with 12 asks for document 9", 8, 12, "GDC9\r"},
        {"GetDataCount with -1 asks for document 0", 8, -1, "GDC0\r"},
        {"GetRecordsCount with 0 asks for database 1", 9, 0, "GRC1\r"},
        {"GetRecordsCount with -5 asks for database 1", 9, -5, "GRC1\r"},
        {"GetRecordsCount with 7 asks for database 3", 9, 7, "GRC3\r"},
        {"ClearDoc with 4 clears document 4", 10, 4, "CDC4\r"},
        {"ClearDatabase with 99 clears database 3", 11, 99, "CDB3\r"},
        {"GetData with 12 reads document 9", 12, 12, "GDF9\r"},
        {"GetRecord with -2147483648 reads database 1", 13, -2147483647 - 1, "GDB1\r"},
    };
    for (const auto& c : cases) {
        CallBench bench;
        bench.Func(c.method, {{0, c.given}});
        ASSERT_FALSE(bench.line.Writes().empty()) << c.sentence;
        EXPECT_EQ(bench.line.Writes().front().bytes, c.command) << c.sentence;
    }
}

TEST(MethodCalls, PutRecordAnnouncesTheBoundedDatabase) {
    CallBench bench;
    bench.state.fields[0] = "A";
    bench.Func(14, {{0, 9}});
    ASSERT_FALSE(bench.line.Writes().empty());
    EXPECT_EQ(bench.line.Writes().front().bytes, "GRC3\r") << "its count, taken before its first load";
    EXPECT_GE(bench.line.WritesOf("PDB3\r"), 1);
}

TEST(MethodCalls, ABadParameterSendsNothingAndGivesMinusOneWithCode28) {
    for (int32_t method = 8; method <= 14; ++method) {
        CallBench bench;
        bench.state.fields[0] = "A";
        EXPECT_EQ(bench.Func(method), -1) << "method " << method;
        EXPECT_EQ(bench.state.result, code::kBadParameterType) << "method " << method;
        EXPECT_TRUE(bench.line.Writes().empty()) << "method " << method;
    }
}

TEST(MethodCalls, EachFunctionStartsFromItsResultCode) {
    CallBench bench(false);  // port closed: every operation stops at its first check
    bench.state.result = 77;
    EXPECT_EQ(bench.Func(method::kPing), 0);
    EXPECT_EQ(bench.state.result, code::kPortNotInitialised);

    bench.state.result = 77;
    bench.line.failOpen = true;
    EXPECT_EQ(bench.Func(method::kAttach), 0) << "Attach on a port that cannot be opened";
    EXPECT_EQ(bench.state.result, code::kCannotOpenPort) << "the code OpenPort left, not 1";

    bench.line.failOpen = false;
    EXPECT_EQ(bench.Func(method::kAttach), 1);
    EXPECT_EQ(bench.state.result, code::kSuccess);
    EXPECT_EQ(bench.line.OpenedNames().back(), "COM1");
}

TEST(MethodCalls, AttachOpensThePortOfTheCurrentSettings) {
    CallBench bench(false);
    bench.settings.Port = 11;
    bench.settings.Speed = 2;
    EXPECT_EQ(bench.Func(method::kAttach), 1);
    EXPECT_EQ(bench.line.OpenedNames().back(), "COM12");
    EXPECT_EQ(bench.line.Configured().back().baudRate, 38400u);
}

TEST(MethodCalls, TheWrongCallKindDoesNothing) {
    CallBench bench;
    bench.state.result = 55;
    Params none;
    for (int32_t method : {1, 16, 17, -1}) EXPECT_EQ(bench.calls.CallAsFunc(method, none), std::nullopt) << method;
    for (int32_t method : {0, 2, 15, 17, -1}) EXPECT_FALSE(bench.calls.CallAsProc(method, none)) << method;
    EXPECT_EQ(bench.state.result, 55);
    EXPECT_TRUE(bench.line.Writes().empty());
    EXPECT_TRUE(none.read.empty());
}

TEST(MethodCalls, DeattachClosesAndSucceedsAlsoOnAClosedPort) {
    for (bool open : {true, false}) {
        CallBench bench(open);
        bench.state.result = 55;
        EXPECT_TRUE(bench.calls.CallAsProc(method::kDeattach, Params{}));
        EXPECT_FALSE(bench.link.IsOpen());
        EXPECT_EQ(bench.state.result, code::kSuccess);
    }
}

TEST(MethodCalls, ShowProgressBoundsModeAndCount) {
    const struct {
        const char* sentence;
        std::map<int32_t, int32_t> given;
        std::pair<int32_t, int32_t> drawn;
    } cases[] = {
        {"7 and 70000 draw mode 4 with 64000", {{0, 7}, {1, 70000}}, {4, 64000}},
        {"-3 and -7 draw mode 0 with 0", {{0, -3}, {1, -7}}, {0, 0}},
        {"1 and 5 draw as given", {{0, 1}, {1, 5}}, {1, 5}},
    };
    for (const auto& c : cases) {
        CallBench bench;
        bench.state.result = 55;
        Params params;
        params.values = c.given;
        EXPECT_TRUE(bench.calls.CallAsProc(method::kShowProgress, params)) << c.sentence;
        ASSERT_EQ(bench.painter.drawn.size(), 1u) << c.sentence;
        EXPECT_EQ(bench.painter.drawn[0], c.drawn) << c.sentence;
        EXPECT_EQ(bench.state.result, code::kSuccess) << c.sentence;
    }
}

TEST(MethodCalls, ShowProgressWithABadModeNeverReadsTheCount) {
    CallBench bench;
    Params params;
    params.values = {{1, 5}};
    EXPECT_TRUE(bench.calls.CallAsProc(method::kShowProgress, params));
    EXPECT_EQ(params.read, std::vector<int32_t>{0});
    EXPECT_TRUE(bench.painter.drawn.empty());
    EXPECT_EQ(bench.state.result, code::kBadParameterType);
}

TEST(MethodCalls, ShowProgressWithABadCountDrawsNothing) {
    CallBench bench;
    Params params;
    params.values = {{0, 1}};
    EXPECT_TRUE(bench.calls.CallAsProc(method::kShowProgress, params));
    EXPECT_TRUE(bench.painter.drawn.empty());
    EXPECT_EQ(bench.state.result, code::kBadParameterType);
}

}  // namespace
}  // namespace quill
