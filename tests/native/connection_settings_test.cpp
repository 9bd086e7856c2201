// Port and speed indices at open time, and the settings' way through the
// host's profile.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "ui/settings_profile.h"

namespace quill {
namespace {

TEST(ConnectionSettings, PortIndexNamesThePortUpToCom256AndAnyOtherIndexCom1) {
    const std::pair<int32_t, const char*> cases[] = {
        {0, "COM1"},     {8, "COM9"},     {9, "COM10"},   {15, "COM16"}, {16, "COM17"}, {22, "COM23"},
        {255, "COM256"}, {256, "COM1"}, {-1, "COM1"}, {1000, "COM1"}, {INT32_MIN, "COM1"}};
    for (const auto& [index, name] : cases) EXPECT_EQ(PortName(index), name) << "index " << index;
}

// The number a person types (the console's --port, the installer's PORT)
// and the index the component keeps.
TEST(ConnectionSettings, AComNumberFrom1To256IsTheIndexPlusOne) {
    const std::pair<int64_t, int32_t> cases[] = {{1, 0},   {3, 2},   {16, 15},   {17, 16},        {23, 22},
                                                 {256, 255}, {0, -1}, {257, -1}, {-1, -1}, {INT64_MAX, -1}};
    for (const auto& [number, index] : cases) EXPECT_EQ(PortIndexOfNumber(number), index) << "COM number " << number;
    for (int32_t index = 0; index < kPortIndexCount; ++index) {
        ASSERT_EQ(PortIndexOfNumber(PortNumber(index)), index);
        ASSERT_EQ(PortName(index), "COM" + std::to_string(PortNumber(index)));
    }
}

TEST(ConnectionSettings, OnlyTheFiveListedRatesHaveAListedIndex) {
    const std::pair<uint32_t, int32_t> cases[] = {{115200, 0}, {57600, 1}, {38400, 2}, {19200, 3},
                                                  {9600, 4},   {4800, -1}, {2400, -1}, {1200, -1}};
    for (const auto& [baud, index] : cases) EXPECT_EQ(ListedSpeedIndex(baud), index) << baud << " baud";
}

TEST(ConnectionSettings, SpeedIndexRunsFromFastToSlow) {
    const std::pair<int32_t, uint32_t> cases[] = {{0, 115200}, {1, 57600}, {2, 38400}, {3, 19200},
                                                  {4, 9600},   {5, 4800},  {6, 2400},  {7, 9600},
                                                  {-1, 9600}};
    for (const auto& [index, baud] : cases) EXPECT_EQ(BaudRate(index), baud) << "index " << index;
}

// A profile that records the calls it receives and can refuse one key.
class RecordingProfile : public SettingsProfile {
public:
    std::map<std::string, int32_t> stored;
    std::string refusedKey;
    std::vector<std::string> reads;
    std::vector<std::pair<std::string, int32_t>> writes;

    bool ReadInteger(const char* key, int32_t& value) override {
        reads.push_back(key);
        if (key == refusedKey) return false;
        auto it = stored.find(key);
        value = it == stored.end() ? 0 : it->second;
        return true;
    }
    void WriteInteger(const char* key, int32_t value) override { writes.emplace_back(key, value); }
};

TEST(ConnectionSettings, LoadReadsTheSuffixedKeysInOrderAndMakesTheFlagZeroOrOne) {
    RecordingProfile profile;
    profile.stored = {{"Port:0", 3}, {"Speed:0", 1}, {"IsIrDA:0", 7}};
    ConnectionSettings settings;
    ASSERT_TRUE(LoadSettings(profile, settings));
    EXPECT_EQ(profile.reads, (std::vector<std::string>{"Port:0", "Speed:0", "IsIrDA:0", "FastExchange:0", "Trace:0"}));
    EXPECT_EQ(settings.Port, 3);
    EXPECT_EQ(settings.Speed, 1);
    EXPECT_EQ(settings.IsIrDA, 1);
}

TEST(ConnectionSettings, AFailedReadStopsLoadingAndKeepsWhatWasRead) {
    RecordingProfile profile;
    profile.stored = {{"Port:0", 5}, {"Speed:0", 2}, {"IsIrDA:0", 1}};
    profile.refusedKey = "Speed:0";
    ConnectionSettings settings{11, 22, 0};
    EXPECT_FALSE(LoadSettings(profile, settings));
    EXPECT_EQ(profile.reads, (std::vector<std::string>{"Port:0", "Speed:0"}));
    EXPECT_EQ(settings.Port, 5);
    EXPECT_EQ(settings.Speed, 22);
    EXPECT_EQ(settings.IsIrDA, 0);
}

TEST(ConnectionSettings, SaveWritesTheBareKeysWithTheFlagAsZeroOrOne) {
    RecordingProfile profile;
    SaveSettings(profile, ConnectionSettings{15, 0, 2});
    EXPECT_EQ(profile.writes, (std::vector<std::pair<std::string, int32_t>>{
                                  {"Port", 15}, {"Speed", 0}, {"IsIrDA", 1}, {"FastExchange", 0}, {"Trace", 0}}));
}

// The two flags after the connection settings, read and written alike.
struct FlagKey {
    const char* read;
    const char* written;
    int32_t ConnectionSettings::*field;
};
constexpr FlagKey kFlagKeys[] = {
    {"FastExchange:0", "FastExchange", &ConnectionSettings::FastExchange},
    {"Trace:0", "Trace", &ConnectionSettings::Trace},
};

int32_t WrittenUnder(const RecordingProfile& profile, const std::string& key) {
    for (const auto& [written, value] : profile.writes)
        if (written == key) return value;
    return -99;
}

TEST(ConnectionSettings, OnlyAStoredOneTurnsTheFastExchangeOrTheTraceOn) {
    const struct {
        const char* sentence;
        int32_t stored, kept, written;
    } cases[] = {
        {"1 is on", 1, 1, 1},
        {"0 is off", 0, 0, 0},
        {"2 counts as off", 2, 0, 0},
        {"-1 counts as off", -1, 0, 0},
    };
    for (const FlagKey& key : kFlagKeys) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(key.written) + ": " + c.sentence);
            RecordingProfile profile;
            profile.stored = {{key.read, c.stored}};
            ConnectionSettings settings;
            ASSERT_TRUE(LoadSettings(profile, settings));
            EXPECT_EQ(settings.*key.field, c.kept);
            SaveSettings(profile, settings);
            EXPECT_EQ(WrittenUnder(profile, key.written), c.written);
        }
    }
}

TEST(ConnectionSettings, AProfileThatCannotAnswerAFlagStillLoadsTheOthers) {
    for (const FlagKey& key : kFlagKeys) {
        SCOPED_TRACE(key.read);
        RecordingProfile profile;
        profile.stored = {{"Port:0", 4}, {"Speed:0", 2}, {"IsIrDA:0", 1}};
        profile.refusedKey = key.read;
        for (int32_t before : {0, 1}) {
            ConnectionSettings settings;
            settings.*key.field = before;
            EXPECT_TRUE(LoadSettings(profile, settings)) << "an older profile is no failure";
            EXPECT_EQ(settings.Port, 4);
            EXPECT_EQ(settings.Speed, 2);
            EXPECT_EQ(settings.IsIrDA, 1);
            EXPECT_EQ(settings.*key.field, before) << "the flag keeps what it was";
        }
    }
}

TEST(ConnectionSettings, OutOfRangeValuesAreStoredAsTheyCome) {
    RecordingProfile profile;
    profile.stored = {{"Port:0", -4}, {"Speed:0", 99}};
    ConnectionSettings settings;
    ASSERT_TRUE(LoadSettings(profile, settings));
    EXPECT_EQ(settings.Port, -4);
    EXPECT_EQ(settings.Speed, 99);
    SaveSettings(profile, settings);
    EXPECT_EQ(profile.writes[0].second, -4);
    EXPECT_EQ(profile.writes[1].second, 99);
}

}  // namespace
}  // namespace quill
