// Key trees of a machine image under FARLINK_MACHINE: registry/*.reg files read through the
// key-tree calls the inventory walks use.
#include "platform/key_tree.h"
#include "platform/key_tree_model.h"
#include "support/test_data.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <span>
#include <sstream>
#include <string>
#include <vector>

namespace farlink::platform {
namespace {

using farlink::testing::hexBytes;
using farlink::testing::ScopedEnv;
using farlink::testing::TempProfileDir;

// A key opened below `parent`, closed when it goes.
struct Key {
    explicit Key(std::string_view path, KeyHandle parent = kLocalMachine)
        : result(openKey(parent, path, handle)) {}
    ~Key() { closeKey(handle); }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    KeyHandle handle = nullptr;
    int result;
};

struct Value {
    int result = -1;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
};

Value query(const Key& key, std::string_view name) {
    Value value;
    std::vector<std::uint8_t> buffer(256);
    std::uint32_t size = 0;
    value.result = queryValue(key.handle, name, &value.type, buffer, size);
    if (value.result == kErrorSuccess) value.data.assign(buffer.begin(), buffer.begin() + size);
    return value;
}

std::vector<std::uint8_t> textBytes(std::string_view text) {
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    return bytes;
}

// Subkey names (or value names) in enumeration order, which must end with "no more items".
std::vector<std::string> names(const Key& key, bool values = false) {
    std::vector<std::string> out;
    char name[256];
    int result;
    for (std::uint32_t i = 0;; ++i) {
        result = values ? enumValue(key.handle, i, name, nullptr) : enumKey(key.handle, i, name);
        if (result != kErrorSuccess) break;
        out.emplace_back(name);
    }
    EXPECT_EQ(result, kErrorNoMoreItems);
    return out;
}

class KeyTreeImage : public ::testing::Test {
  protected:
    void SetUp() override { std::filesystem::create_directories(dir.path() + "/registry"); }
    // Every handle a test opens is closed again, and the count says so.
    void TearDown() override { EXPECT_EQ(openKeyCount(), 0u); }

    void writeReg(const std::string& name, const std::string& text) const {
        dir.write("registry/" + name, text);
    }

    TempProfileDir dir;
    ScopedEnv machine{"FARLINK_MACHINE", dir.path()};
};

constexpr const char* kSerial = "HARDWARE\\RESOURCEMAP\\OtherDrivers\\Serial";

TEST_F(KeyTreeImage, ReadsEveryValueFormAndPassesByWhatIsNotTheMachines) {
    // Every value form, with lines of other roots, deletions and damage around them.
    const std::string text = farlink::testing::dataText("platform/value-forms.reg");
    TreeKey scratch;
    EXPECT_EQ(parseRegText(text, scratch), 3u);
    writeReg("machine.reg", text);

    const Key root("");
    EXPECT_EQ(names(root), std::vector<std::string>{"HARDWARE"});
    EXPECT_EQ(Key("HARDWARE\\Gone").result, kErrorFileNotFound);

    // The unreadable lines and the values of other roots, deletions and no key are not there.
    const Key serial(kSerial);
    ASSERT_EQ(serial.result, kErrorSuccess);
    // Each line of the .values file: name, type, the data in hex.
    std::istringstream lines(farlink::testing::dataText("platform/value-forms.values"));
    std::vector<std::string> order;
    for (std::string name, type, hex; std::getline(lines, name, '\t');) {
        std::getline(lines, type, '\t');
        std::getline(lines, hex);
        const Value value = query(serial, name);
        EXPECT_EQ(value.result, kErrorSuccess) << name;
        EXPECT_EQ(value.type, std::stoul(type)) << name;
        EXPECT_EQ(value.data, hexBytes(hex)) << name;
        order.push_back(name);
    }
    EXPECT_EQ(names(serial, true), order);
}

// Files merge in name order whatever order they were written in; names meet without case.
TEST_F(KeyTreeImage, LaterFilesAddToAndOverrideEarlierOnes) {
    for (const char* name : {"20-site.reg", "10-base.reg", "notes.txt"})
        writeReg(name, farlink::testing::dataText(std::string("platform/merge/") + name));

    const Key drivers("hardware\\ResourceMap\\otherdrivers");
    ASSERT_EQ(drivers.result, kErrorSuccess);
    EXPECT_EQ(names(drivers), (std::vector<std::string>{"Serial", "Parallel"}));

    const Key serial("SERIAL", drivers.handle);
    EXPECT_EQ(names(serial, true), (std::vector<std::string>{"Owner", "Level"}));
    EXPECT_EQ(query(serial, "owner").data, textBytes("site"));
    EXPECT_EQ(query(serial, "LEVEL").data, hexBytes("04 00 00 00"));
    EXPECT_EQ(query(Key("Parallel", drivers.handle), "Owner").data, textBytes("lpt"));
}

TEST_F(KeyTreeImage, NewOpensSeeChangedFilesWhileOpenHandlesKeepTheirSnapshot) {
    const std::string file = dir.path() + "/registry/machine.reg";
    const auto owner = [](const std::string& name) {
        return "[HKEY_LOCAL_MACHINE\\HARDWARE\\RESOURCEMAP\\OtherDrivers\\Serial]\n\"Owner\"=\"" +
               name + "\"\n";
    };
    writeReg("machine.reg", owner("first"));
    const Key before(kSerial);
    EXPECT_EQ(query(before, "Owner").data, textBytes("first"));

    writeReg("machine.reg", owner("second"));
    {
        const Key after(kSerial);
        EXPECT_EQ(query(after, "Owner").data, textBytes("second"));
        EXPECT_EQ(query(before, "Owner").data, textBytes("first"));
        EXPECT_EQ(openKeyCount(), 2u);
    }

    // Opens from the root between changes take the tree already built: a file whose size and
    // time stay as they were is not read again, and the next change of its time is seen.
    const auto stamp = std::filesystem::last_write_time(file);
    writeReg("machine.reg", owner("third!"));
    std::filesystem::last_write_time(file, stamp);
    EXPECT_EQ(query(Key(kSerial), "Owner").data, textBytes("second"));
    std::filesystem::last_write_time(file, stamp + std::chrono::seconds(1));
    EXPECT_EQ(query(Key(kSerial), "Owner").data, textBytes("third!"));

    // Without a registry the image has no keys at all (and a failed open leaves no handle).
    std::filesystem::remove_all(dir.path() + "/registry");
    EXPECT_EQ(Key("HARDWARE").result, kErrorFileNotFound);
}

TEST_F(KeyTreeImage, TooSmallBuffersAskForMoreAndWriteNothing) {
    writeReg("machine.reg", "[HKEY_LOCAL_MACHINE\\HARDWARE\\RESOURCEMAP\\OtherDrivers\\Serial]\n"
                            "\"Owner\"=\"first\"\n");
    const Key drivers("HARDWARE\\RESOURCEMAP\\OtherDrivers");
    const Key serial("Serial", drivers.handle);
    std::string name(8, 'x');
    EXPECT_EQ(enumKey(drivers.handle, 0, std::span(name.data(), 6)), kErrorMoreData);
    EXPECT_EQ(enumValue(serial.handle, 0, std::span(name.data(), 5), nullptr), kErrorMoreData);
    EXPECT_EQ(name, "xxxxxxxx");
    EXPECT_EQ(enumKey(drivers.handle, 0, std::span(name.data(), 7)), kErrorSuccess);
    EXPECT_EQ(name, std::string("Serial\0x", 8));

    std::vector<std::uint8_t> data(8, 0xEE);
    std::uint32_t size = 0;
    EXPECT_EQ(queryValue(serial.handle, "Owner", nullptr, std::span(data.data(), 5), size),
              kErrorMoreData);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(data, std::vector<std::uint8_t>(8, 0xEE));
    EXPECT_EQ(queryValue(serial.handle, "Missing", nullptr, data, size), kErrorFileNotFound);
}

} // namespace
} // namespace farlink::platform
