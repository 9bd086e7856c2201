// The administrator's presets for every user of the computer: the values
// the installer wrote, turned into settings indices, and their place as the
// defaults of the keys read from the host's profile.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "ui/machine_defaults.h"
#include "ui/settings_profile.h"

namespace quill {
namespace {

class PresetStore : public MachineSettings {
public:
    std::map<std::string, std::string> values;
    std::optional<std::string> ReadValue(const char* name) override {
        auto it = values.find(name);
        if (it == values.end()) return std::nullopt;
        return it->second;
    }
};

TEST(MachineDefaults, ValuesAPersonReadsBecomeIndices) {
    const struct {
        const char* sentence;
        std::map<std::string, std::string> values;
        int32_t port, speed, irda;
    } cases[] = {
        {"nothing preset is COM1, 115200 baud, a cable", {}, 0, 0, 0},
        {"COM23 at 38400 behind the adapter", {{"Port", "23"}, {"Speed", "38400"}, {"IrDA", "1"}}, 22, 2, 1},
        {"COM1 is index 0", {{"Port", "1"}}, 0, 0, 0},
        {"COM255 is the last port Windows names", {{"Port", "255"}}, 254, 0, 0},
        {"4800 and 2400 baud have indices of their own", {{"Speed", "2400"}}, 0, 6, 0},
        {"port 0 presets nothing", {{"Port", "0"}}, 0, 0, 0},
        {"port 256 presets nothing", {{"Port", "256"}}, 0, 0, 0},
        {"a rate the terminal has not presets nothing", {{"Speed", "1200"}}, 0, 0, 0},
        {"an adapter flag of 2 presets nothing", {{"IrDA", "2"}}, 0, 0, 0},
        {"a name for a number presets nothing", {{"Port", "COM3"}, {"Speed", "fast"}, {"IrDA", "yes"}}, 0, 0, 0},
        {"a sign, a space or an empty text presets nothing", {{"Port", "-3"}, {"Speed", " 9600"}, {"IrDA", ""}}, 0, 0, 0},
        {"a number too long for 32 bits presets nothing", {{"Speed", "99999999999"}}, 0, 0, 0},
        {"one value wrong leaves the others", {{"Port", "x"}, {"Speed", "9600"}, {"IrDA", "1"}}, 0, 4, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sentence);
        PresetStore store;
        store.values = c.values;
        const SettingDefaults defaults = ReadSettingDefaults(store);
        EXPECT_EQ(defaults.Port, c.port);
        EXPECT_EQ(defaults.Speed, c.speed);
        EXPECT_EQ(defaults.IsIrDA, c.irda);
    }
}

// A profile as a host keeps it: a key read as "Name:default" answers the
// value stored under "Name", else the default after the colon.
class HostLikeProfile : public SettingsProfile {
public:
    std::map<std::string, int32_t> stored;
    std::vector<std::string> reads;

    bool ReadInteger(const char* key, int32_t& value) override {
        reads.push_back(key);
        const std::string text(key);
        const size_t colon = text.find(':');
        auto it = stored.find(text.substr(0, colon));
        value = it != stored.end() ? it->second : std::stoi(text.substr(colon + 1));
        return true;
    }
    void WriteInteger(const char* key, int32_t value) override { stored[key] = value; }
};

TEST(MachineDefaults, ThePresetIsTheDefaultAfterTheColonAndTheProfileWins) {
    const SettingDefaults preset{22, 2, 1};
    HostLikeProfile empty;
    ConnectionSettings settings;
    ASSERT_TRUE(LoadSettings(empty, settings, preset));
    EXPECT_EQ(empty.reads, (std::vector<std::string>{"Port:22", "Speed:2", "IsIrDA:1", "FastExchange:0", "Trace:0"}));
    EXPECT_EQ(settings.Port, 22) << "a profile without a value of its own answers the preset";
    EXPECT_EQ(settings.Speed, 2);
    EXPECT_EQ(settings.IsIrDA, 1);

    HostLikeProfile chosen;
    chosen.stored = {{"Port", 4}, {"Speed", 0}, {"IsIrDA", 0}};
    ASSERT_TRUE(LoadSettings(chosen, settings, preset));
    EXPECT_EQ(settings.Port, 4) << "what the user chose on the page wins over the preset";
    EXPECT_EQ(settings.Speed, 0);
    EXPECT_EQ(settings.IsIrDA, 0);
}

TEST(MachineDefaults, WithoutAPresetTheKeysAreReadAsBefore) {
    PresetStore nothing;
    HostLikeProfile profile;
    ConnectionSettings settings;
    ASSERT_TRUE(LoadSettings(profile, settings, ReadSettingDefaults(nothing)));
    EXPECT_EQ(profile.reads, (std::vector<std::string>{"Port:0", "Speed:0", "IsIrDA:0", "FastExchange:0", "Trace:0"}));
}

}  // namespace
}  // namespace quill
