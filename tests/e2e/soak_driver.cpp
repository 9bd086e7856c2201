// The noisy-line soak's driver: a host script that pulls a 1,000-record
// document and loads 1,000 records into a database through the module,
// one pull and one load in turn, against a terminal whose line flips bits
// (soak/). It retries what failed, as a careful script would, and writes a
// transcript of every call; soak/analyse_soak.py then holds the transcript
// against the simulator's traffic log and dump and judges the run. A call
// that does not return within the bound is a hang: a watchdog notes it in
// the transcript and ends the program.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>

#include "core/win/handles.h"
#include "core/win/text.h"
#include "tests/e2e/script.h"

namespace quill::test {
namespace {

constexpr int kNoisyTerminal = 4;  // soak/com04-noisy-line.scn
constexpr LONG kDocument = 1, kDatabase = 1;
constexpr int kRecordsToLoad = 1000;
constexpr int kMaxPullCalls = 1500;      // the document holds 1,000 records
constexpr int kEmptyPullsToEnd = 3;      // a flipped command can end one pull early
constexpr int kAttemptsPerRecord = 5;
constexpr int kFinishAttempts = 3;
constexpr DWORD kHangMs = 5000;          // a call that takes longer is a hang
constexpr DWORD kWatchdogPollMs = 100;
constexpr UINT kTerminalCodePage = 1251;

// Bytes as one word of the transcript: printable ASCII as is, the rest and
// the backslash as \xHH.
std::string Escaped(const std::string& bytes) {
    std::string word = "=";
    for (unsigned char c : bytes) {
        if (c > 0x20 && c < 0x7F && c != '\\') {
            word.push_back(static_cast<char>(c));
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            word += hex;
        }
    }
    return word;
}

std::string TerminalBytes(const std::string& utf8) { return win::NarrowFromWide(kTerminalCodePage, Wide(utf8)); }

// The transcript file, shared with the watchdog.
class Transcript {
public:
    explicit Transcript(const std::string& path) : file_(std::fopen(path.c_str(), "wb")) {}
    ~Transcript() {
        if (file_ != nullptr) std::fclose(file_);
    }
    bool is_open() const { return file_ != nullptr; }

    void Line(const std::string& line) {
        win::critical_section::lock_guard hold(lock_);
        std::fputs((line + "\n").c_str(), file_);
        std::fflush(file_);
    }

private:
    std::FILE* file_;
    win::critical_section lock_;
};

// Watches the call in progress from a thread of its own.
class Watchdog {
public:
    explicit Watchdog(Transcript& transcript) : transcript_(transcript) {
        stop_.create(win::unique_event::Reset::Manual);
        thread_.reset(::CreateThread(nullptr, 0, &Watchdog::Run, this, 0, nullptr));
    }
    ~Watchdog() {
        stop_.SetEvent();
        ::WaitForSingleObject(thread_.get(), kHangMs);
    }

    // Times `call` (a transcript word) and returns what it returned.
    template <class Call>
    LONG Time(const std::string& what, Call&& call, DWORD& elapsed) {
        Begin(what);
        const LONG value = call();
        elapsed = End();
        return value;
    }

private:
    void Begin(const std::string& what) {
        win::critical_section::lock_guard hold(lock_);
        what_ = what;
        startedAt_ = ::GetTickCount();
        busy_ = true;
    }
    DWORD End() {
        win::critical_section::lock_guard hold(lock_);
        busy_ = false;
        return ::GetTickCount() - startedAt_;
    }

    static DWORD WINAPI Run(void* self) {
        static_cast<Watchdog*>(self)->Watch();
        return 0;
    }
    void Watch() {
        while (!stop_.wait(kWatchdogPollMs)) {
            win::critical_section::lock_guard hold(lock_);
            const DWORD running = ::GetTickCount() - startedAt_;
            if (!busy_ || running < kHangMs) continue;
            transcript_.Line("hang " + what_ + " " + std::to_string(running));
            ::TerminateProcess(::GetCurrentProcess(), 3);
        }
    }

    Transcript& transcript_;
    win::critical_section lock_;
    std::string what_;
    DWORD startedAt_ = 0;
    bool busy_ = false;
    win::unique_event stop_;
    win::unique_handle thread_;
};

// Record i of the load: Cyrillic text crosses as Windows-1251.
std::vector<std::string> LoadedFields(int i) {
    return {"SOAK-" + std::to_string(i), "Товар №" + std::to_string(i),
            std::to_string(i * 37 % 1000) + "." + Digits(i % 100, 2), "", "", "шт"};
}

// What the terminal is to store for those fields: each non-empty one and a TAB.
std::string StoredText(const std::vector<std::string>& fields) {
    std::string text;
    for (const std::string& field : fields)
        if (!field.empty()) text += TerminalBytes(field) + "\t";
    return text;
}

class Soak {
public:
    Soak() : transcript_(WorkFile("soak-transcript.txt")), watchdog_(transcript_), script_(kNoisyTerminal) {}

    void Run() {
        ASSERT_TRUE(transcript_.is_open());
        transcript_.Line("bound-ms " + std::to_string(kHangMs));
        ASSERT_EQ(script_.Call("Attach"), 1) << "code " << script_.Result();
        while (pulling_ || loaded_ < kRecordsToLoad) {
            if (pulling_) PullOne();
            if (loaded_ == kRecordsToLoad) continue;
            LoadOne();
            // The load ends before any other command: one leaves load mode.
            if (loaded_ == kRecordsToLoad) FinishLoad();
        }
        transcript_.Line("end");
    }

private:
    void PullOne() {
        DWORD ms = 0;
        const LONG value =
            watchdog_.Time("pull", [this] { return script_.Call("GetData", kDocument); }, ms);
        transcript_.Line("pull " + std::to_string(++pullCalls_) + " " + std::to_string(value) + " " +
                         std::to_string(script_.Result()) + " " + std::to_string(ms) + " " +
                         Escaped(TerminalBytes(script_.Data())));
        emptyPulls_ = value == 0 ? emptyPulls_ + 1 : 0;
        pulling_ = emptyPulls_ < kEmptyPullsToEnd && pullCalls_ < kMaxPullCalls;
        ReattachAfterAPortError();
    }

    // As a script does: a port that failed (code 5; the component closes a
    // port whose operation would not end) or is closed (code 1) is attached
    // anew before the next call.
    void ReattachAfterAPortError() {
        const LONG result = script_.Result();
        if (result != 1 && result != 5) return;
        DWORD ms = 0;
        script_.Proc("Deattach");
        const LONG value = watchdog_.Time("attach", [this] { return script_.Call("Attach"); }, ms);
        transcript_.Line("attach " + std::to_string(value) + " " + std::to_string(script_.Result()) + " " +
                         std::to_string(ms));
    }

    void LoadOne() {
        const auto fields = LoadedFields(loaded_);
        transcript_.Line("record " + std::to_string(loaded_) + " " + Escaped(StoredText(fields)));
        for (int attempt = 1; attempt <= kAttemptsPerRecord; ++attempt) {
            for (int n = 1; n <= 6; ++n) script_.SetField(n, fields[n - 1]);
            DWORD ms = 0;
            const LONG value =
                watchdog_.Time("load", [this] { return script_.Call("PutRecord", kDatabase); }, ms);
            transcript_.Line("load " + std::to_string(loaded_) + " " + std::to_string(attempt) + " " +
                             std::to_string(value) + " " + std::to_string(script_.Result()) + " " +
                             std::to_string(ms));
            if (value == 1) break;
            ReattachAfterAPortError();
        }
        ++loaded_;
    }

    void FinishLoad() {
        for (int attempt = 1; attempt <= kFinishAttempts; ++attempt) {
            DWORD ms = 0;
            const LONG value = watchdog_.Time("finish", [this] { return script_.Call("Finish"); }, ms);
            transcript_.Line("finish " + std::to_string(attempt) + " " + std::to_string(value) + " " +
                             std::to_string(script_.Result()) + " " + std::to_string(ms));
            if (value == 1) return;
            ReattachAfterAPortError();
        }
    }

    Transcript transcript_;
    Watchdog watchdog_;
    Script script_;
    bool pulling_ = true;
    int pullCalls_ = 0;
    int emptyPulls_ = 0;
    int loaded_ = 0;
};

TEST(Soak, APullAndALoadOfAThousandRecordsEachThroughANoisyLine) { Soak().Run(); }

}  // namespace
}  // namespace quill::test
