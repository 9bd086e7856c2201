// The ports Windows reports present, as the settings page lists them and the
// search tries them.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "core/port_map.h"

namespace quill {
namespace {

class ListedMap final : public PortMap {
public:
    explicit ListedMap(std::vector<std::string> names) : names_(std::move(names)) {}
    std::vector<std::string> PortNames() const override { return names_; }

private:
    std::vector<std::string> names_;
};

TEST(PortMap, OnlyTheNamesCom1ToCom256StandForAPort) {
    const struct {
        const char* name;
        std::optional<int32_t> index;
    } cases[] = {
        {"COM1", 0},          {"COM16", 15},         {"COM17", 16},       {"COM23", 22},
        {"COM256", 255},      {"com41", 40},         {"COM0", std::nullopt}, {"COM257", std::nullopt},
        {"COM023", std::nullopt}, {"COM1000", std::nullopt}, {"COM", std::nullopt}, {"COM2a", std::nullopt},
        {"LPT1", std::nullopt}, {"", std::nullopt},    {" COM3", std::nullopt}, {"COM-3", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(PortIndexNamed(c.name), c.index) << '"' << c.name << '"';
}

TEST(PortMap, PresentPortsComeInNumberOrderEachOnceAndAnythingElseIsSkipped) {
    const ListedMap map({"COM41", "COM3", "COM17", "COM3", "\\Device\\Serial0", "COM1", "COM300", "com23"});
    EXPECT_EQ(PresentPorts(map), (std::vector<int32_t>{0, 2, 16, 22, 40}));
    EXPECT_EQ(PresentPortsAboveListed(map), (std::vector<int32_t>{16, 22, 40}));
    EXPECT_TRUE(PresentPorts(ListedMap({})).empty()) << "no map, no ports";
}

// COM1 to COM16 in their places, the present ports above them, then a
// stored port above them that is absent.
TEST(PortMap, ThePageListsCom1ToCom16ThenThePresentPortsThenAStoredPortThatIsAbsent) {
    const std::vector<int32_t> com1ToCom16 = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    const auto with = [&](std::vector<int32_t> more) {
        std::vector<int32_t> ports = com1ToCom16;
        ports.insert(ports.end(), more.begin(), more.end());
        return ports;
    };
    const struct {
        const char* sentence;
        std::vector<int32_t> presentAbove;
        int32_t stored;
        std::vector<int32_t> listed;
        int32_t storedEntry;
    } cases[] = {
        {"nothing above COM16, COM4 stored", {}, 3, com1ToCom16, 3},
        {"COM23 and COM41 present, COM23 stored", {22, 40}, 22, with({22, 40}), 16},
        {"COM23 present, COM41 stored and absent: last", {22}, 40, with({22, 40}), 17},
        {"COM41 present, COM23 stored and absent: after COM41", {40}, 22, with({40, 22}), 17},
        {"port index 20 stored (once COM1): COM21", {}, 20, with({20}), 16},
        {"COM256 stored", {}, 255, with({255}), 16},
        {"index 256 names no port: nothing added, no entry", {22}, 256, with({22}), -1},
        {"index -1: no entry", {}, -1, com1ToCom16, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sentence);
        const std::vector<int32_t> listed = PortListPorts(c.presentAbove, c.stored);
        EXPECT_EQ(listed, c.listed);
        EXPECT_EQ(PortListEntry(listed, c.stored), c.storedEntry);
    }
}

}  // namespace
}  // namespace quill
