#include "tools/host-console/bench.h"

#include <array>
#include <cstdio>
#include <map>
#include <optional>
#include <vector>

#include "core/connection_settings.h"
#include "host/addin.h"

namespace quill::console {
namespace {

constexpr double kBitsPerByte = 10;
constexpr double kBaud = 115200;  // the benchmark's line
// A fast call is short: many more of them, so that the CPU time (counted in
// ticks of 10 ms or more) gives a steady measure.
constexpr LONG kQueryCalls[] = {20, 1000};  // standard, fast
constexpr LONG kFastRecordRepeat = 10;
constexpr LONG kBigLoad = 10000;  // the load a shop waits for
constexpr LONG kPulledDocument = 1;
constexpr LONG kLoadedDatabase = 3;

enum PaceColumn { kStandard, kFast, kPaces };
const wchar_t* const kPaceNames[kPaces] = {L"standard", L"fast"};

LONG RecordsAt(int pace, LONG records) { return pace == kFast ? records * kFastRecordRepeat : records; }

// Wall and CPU time of this process, in milliseconds.
class Stopwatch {
public:
    Stopwatch() : wall_(WallNow()), cpu_(CpuNow()) {}
    double WallMs() const { return WallNow() - wall_; }
    double CpuMs() const { return CpuNow() - cpu_; }

private:
    static double CpuNow() {
        FILETIME created, exited, kernel, user;
        ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
        const auto ms = [](const FILETIME& t) {
            return static_cast<double>((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000.0;
        };
        return ms(kernel) + ms(user);
    }
    static double WallNow() {
        LARGE_INTEGER now, frequency;
        ::QueryPerformanceCounter(&now);
        ::QueryPerformanceFrequency(&frequency);
        return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
    }

    double wall_, cpu_;
};

// What the calls of one operation cost at one pace.
struct Spent {
    LONG calls = 0;
    double wallMs = 0, cpuMs = 0, lineBytes = 0;

    void Add(const Stopwatch& watch, LONG moreCalls, double moreBytes) {
        calls += moreCalls;
        wallMs += watch.WallMs();
        cpuMs += watch.CpuMs();
        lineBytes += moreBytes;
    }
    double WallPerCall() const { return wallMs / calls; }
};

struct Operation {
    std::wstring name;
    std::array<Spent, kPaces> at;
};

// A query and the bytes of one call on the line: the command and a typical
// reply, CRs included.
struct Query {
    const wchar_t* method;
    std::optional<LONG> number;
    double lineBytes;
};
const Query kQueries[] = {
    {L"Ping", std::nullopt, 4 + 4},         {L"GetFreeMem", std::nullopt, 4 + 6},
    {L"GetSN", std::nullopt, 4 + 14},       {L"GetTime", std::nullopt, 4 + 15},
    {L"CurrentState", std::nullopt, 4 + 6}, {L"UpdateTime", std::nullopt, 18 + 3},
    {L"GetDataCount", 1, 5 + 4},            {L"GetRecordsCount", 3, 5 + 4},
};

class Bench {
public:
    Bench(ScriptObject& object, LONG count) : object_(object), count_(count) {
        for (const Query& query : kQueries) operations_.push_back({query.method, {}});
        operations_.push_back({L"GetData, per record", {}});
        operations_.push_back({L"PutRecord, per record", {}});
    }

    bool Run(std::wstring& error) {
        for (int pace = kStandard; pace < kPaces; ++pace) {
            if (!ChoosePace(pace == kFast)) {
                error = L"bench: the component cannot change its pace";
                return false;
            }
            if (Call(L"Attach").value_or(0) != 1) {
                error = L"bench: no terminal at the " + std::wstring(kPaceNames[pace]) + L" pace (Result " +
                        std::to_wstring(object_.Result()) + L")";
                return false;
            }
            TimeQueries(pace);
            TimePull(pace);
            TimeLoad(pace);
            Call(L"Finish");
        }
        return true;
    }

    bool EveryRecordMoved() const {
        for (const Operation& records : {Pulled(), Loaded()})
            for (int pace = kStandard; pace < kPaces; ++pace)
                if (records.at[pace].calls != RecordsAt(pace, count_)) return false;
        return true;
    }

    // Per operation: the calls at each pace, the time of a call at each pace
    // and their ratio, the time the line needs for a call's bytes, the share
    // of the line limit reached (the line's time over the time taken) and the
    // share of the wall time this process spent on the CPU.
    void Print(const std::function<void(const std::wstring&)>& print) const {
        print(L"                           calls      time per call, ms         line  line limit reached  cpu of wall");
        print(L"operation               standard  fast  standard    fast   ratio    ms  standard    fast  standard  fast");
        for (const Operation& operation : operations_) {
            const Spent& standard = operation.at[kStandard];
            const Spent& fast = operation.at[kFast];
            if (standard.calls == 0 || fast.calls == 0) continue;
            const double line = (standard.lineBytes + fast.lineBytes) * 1000.0 * kBitsPerByte / kBaud /
                                (standard.calls + fast.calls);
            wchar_t row[256];
            std::swprintf(row, 256, L"%-22ls %9ld %5ld %9.1f %7.2f %6.0fx %5.2f %8.1f%% %6.0f%% %8.1f%% %4.0f%%",
                          operation.name.c_str(), standard.calls, fast.calls, standard.WallPerCall(),
                          fast.WallPerCall(), standard.WallPerCall() / fast.WallPerCall(), line,
                          100.0 * line / standard.WallPerCall(), 100.0 * line / fast.WallPerCall(),
                          100.0 * standard.cpuMs / standard.wallMs, 100.0 * fast.cpuMs / fast.wallMs);
            print(row);
        }
        const Operation& loaded = Loaded();
        if (loaded.at[kStandard].calls == 0 || loaded.at[kFast].calls == 0) return;
        print(L"Loading " + std::to_wstring(kBigLoad) + L" records (from the time per record): standard " +
              Duration(loaded.at[kStandard].WallPerCall() * kBigLoad) + L", fast " +
              Duration(loaded.at[kFast].WallPerCall() * kBigLoad));
    }

private:
    // A host looks a name up once and calls by number from then on.
    std::optional<LONG> Call(const wchar_t* name, std::vector<ScriptValue> args = {}) {
        auto known = methods_.find(name);
        if (known == methods_.end()) {
            const auto method = object_.FindMethod(name);
            if (!method) return std::nullopt;
            known = methods_.emplace(name, method->number).first;
        }
        HRESULT hr = S_OK;
        return object_.Call(known->second, args, hr);
    }

    // The pace is a connection setting: set, it takes effect at the next Attach.
    bool ChoosePace(bool fast) {
        const auto pace = win::com_ptr<IUnknown>::copy_from(object_.Component()).query<IExchangeSettings>();
        return pace && SUCCEEDED(pace->SetFastExchange(fast ? kFastExchangeOn : 0));
    }

    void TimeQueries(int pace) {
        for (size_t i = 0; i < std::size(kQueries); ++i) {
            const Query& query = kQueries[i];
            std::vector<ScriptValue> args;
            if (query.number) args.push_back(ScriptValue::Number(*query.number));
            const LONG calls = kQueryCalls[pace];
            const Stopwatch watch;
            for (LONG call = 0; call < calls; ++call) Call(query.method, args);
            operations_[i].at[pace].Add(watch, calls, calls * query.lineBytes);
        }
    }

    // Times the records of one pace: `moveOne(i)` moves record i and gives
    // the bytes it put on the line, or nothing when it did not move. The
    // count of records moved.
    template <class MoveOne>
    LONG TimeRecords(int pace, Operation& operation, MoveOne&& moveOne) {
        const LONG count = RecordsAt(pace, count_);
        double bytes = 0;
        LONG moved = 0;
        const Stopwatch watch;
        for (; moved < count; ++moved) {
            const std::optional<double> lineBytes = moveOne(moved);
            if (!lineBytes) break;
            bytes += *lineBytes;
        }
        operation.at[pace].Add(watch, moved, bytes);
        return moved;
    }

    void TimePull(int pace) {
        const auto data = object_.FindProperty(L"Data");
        TimeRecords(pace, Pulled(), [&](LONG) -> std::optional<double> {
            if (Call(L"GetData", {ScriptValue::Number(kPulledDocument)}).value_or(-1) != 1) return std::nullopt;
            // GDF, the digit and CR; the lead byte, the record, two checksum bytes and CR.
            return 5 + 1 + object_.Get(data->number).text.size() + 3;
        });
    }

    void TimeLoad(int pace) {
        const auto field1 = object_.FindProperty(L"Field1");
        const LONG loaded = TimeRecords(pace, Loaded(), [&](LONG i) -> std::optional<double> {
            const std::wstring text = L"4600000" + std::to_wstring(100000 + loadedBefore_ + i) + L"\tBench goods";
            object_.Set(field1->number, ScriptValue::Text(text));
            if (Call(L"PutRecord", {ScriptValue::Number(kLoadedDatabase)}).value_or(0) != 1) return std::nullopt;
            // PDB, the digit and CR; ACK CR; the record, its TAB, two checksum bytes and CR; ACK CR.
            return 5 + 4 + text.size() + 1 + 3 + 4;
        });
        loadedBefore_ += loaded;
    }

    static std::wstring Duration(double ms) {
        const long seconds = static_cast<long>(ms / 1000 + 0.5);
        wchar_t text[32];
        if (seconds < 60)
            std::swprintf(text, 32, L"%ld s", seconds);
        else
            std::swprintf(text, 32, L"%ld min %02ld s", seconds / 60, seconds % 60);
        return text;
    }

    Operation& Pulled() { return operations_[std::size(kQueries)]; }
    Operation& Loaded() { return operations_[std::size(kQueries) + 1]; }
    const Operation& Pulled() const { return operations_[std::size(kQueries)]; }
    const Operation& Loaded() const { return operations_[std::size(kQueries) + 1]; }

    ScriptObject& object_;
    const LONG count_;
    LONG loadedBefore_ = 0;  // each record loaded is a new one
    std::map<std::wstring, LONG> methods_;
    std::vector<Operation> operations_;
};

}  // namespace

bool RunBench(ScriptObject& object, LONG count, const std::function<void(const std::wstring&)>& print,
              std::wstring& error) {
    Bench bench(object, count);
    const bool ran = bench.Run(error);
    bench.Print(print);
    if (!ran) return false;
    if (bench.EveryRecordMoved()) return true;
    error = L"bench: not every record moved at both paces";
    return false;
}

}  // namespace quill::console
