#include "platform/profile.h"
#include "support/test_data.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace farlink::platform {
namespace {

using farlink::testing::ScopedEnv;
using farlink::testing::TempProfileDir;

constexpr const char* kFile = "TESSEL.INI";

// Sections and keys in every spelling the reader meets, comments and a repeated section.
std::string sample() {
    return farlink::testing::dataText("platform/TESSEL.INI");
}

// Reads into a buffer of `size` characters followed by a sentinel that must stay untouched.
std::string readString(std::string_view section, std::string_view key, std::uint32_t size = 64,
                       std::string_view defaultValue = "dflt") {
    std::vector<char> buffer(size + 1, '#');
    const std::uint32_t n =
        getProfileString(section, key, defaultValue, buffer.data(), size, kFile);
    EXPECT_LT(n, size);
    EXPECT_EQ(buffer[n], '\0');
    EXPECT_EQ(buffer[size], '#') << "written past the buffer";
    return std::string(buffer.data(), n);
}

TEST(Profile, ReadsFindTheValueOrTheDefaultCutToTheBuffer) {
    TempProfileDir dir;
    EXPECT_EQ(readString("environment", "password", 64, "abc  "), "abc") << "no file";
    dir.write(kFile, sample());
    EXPECT_EQ(readString("serial port parameters.1", "PORTNUMBER", 5), "COM2");
    EXPECT_EQ(readString("Serial Port Parameters.1", "Baud"), "19200");    // blanks trimmed
    EXPECT_EQ(readString("Serial Port Parameters.1", "Parity"), "none");   // quotes removed
    EXPECT_EQ(readString("Serial Port Parameters.1", "; Parity"), "dflt"); // a comment
    EXPECT_EQ(readString("environment", "keyword"), "dflt"); // only the first section counts
    EXPECT_EQ(readString("", "stray"), "dflt");              // keys outside any section
    EXPECT_EQ(readString("s", "missing", 4, "DEFAULT"), "DEF");
    char untouched = 'u';
    EXPECT_EQ(getProfileString("s", "name", "x", &untouched, 0, kFile), 0u);
    EXPECT_EQ(untouched, 'u');
    dir.write(kFile, "[s]\r\nname=COM2\r\n[T]\nA=12abc\nC=-1\nD=+7\nE=4294967295\nF=\n");
    EXPECT_EQ(readString("s", "name"), "COM2") << "CRLF is no part of the value";
    const auto number = [](const char* key) { return getProfileInt("t", key, 555, kFile); };
    EXPECT_EQ(number("a"), 12);
    EXPECT_EQ(number("C"), -1);
    EXPECT_EQ(number("E"), -1) << "wraps like the system's";
    EXPECT_EQ(number("F"), 555) << "empty value: the default";
}

struct WriteCase {
    const char* before;
    const char* section;
    const char* key;
    const char* after;
};

class ProfileWriteTest : public ::testing::TestWithParam<WriteCase> {};

TEST_P(ProfileWriteTest, ChangesOneKeyAndKeepsEveryOtherLine) {
    TempProfileDir dir;
    const WriteCase c = GetParam();
    dir.write(kFile, c.before);
    ASSERT_TRUE(writeProfileStrings({{c.section, c.key, "NEW"}}, kFile));
    EXPECT_EQ(dir.read(kFile), c.after);
}

INSTANTIATE_TEST_SUITE_P(
    Files, ProfileWriteTest,
    ::testing::Values(
        // an existing key, found without regard to case, keeps its spacing
        WriteCase{"; c\n[Threshold]\n  CPU = 90  \n[x]\n", "threshold", "cpu",
                  "; c\n[Threshold]\n  CPU = NEW  \n[x]\n"},
        // a new key goes after the section's last key, before its comments and blank lines
        WriteCase{"[m]\nname=Kim\n; note\n\n[t]\nCPU=90", "m", "EMail",
                  "[m]\nname=Kim\nEMail=NEW\n; note\n\n[t]\nCPU=90"}));

TEST(ProfileWrite, FileIsReplacedWholeKeepingOwnerAndPermissionsAndLeavingNoTemporaryFile) {
    TempProfileDir dir;
    dir.write(kFile, sample());
    {
        ScopedEnv windir("WINDIR", dir.path() + "/missing-directory");
        EXPECT_FALSE(writeProfileStrings({{"threshold", "CPU", "1"}}, kFile));
    }
    const std::string path = dir.path() + "/" + kFile;
    ::chmod(path.c_str(), 0640);
    // A service account's file stays its own (only root can give it away to test that).
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
    }
    ASSERT_TRUE(writeProfileStrings({{"threshold", "Volume Usage", "90"}}, kFile));
    ASSERT_TRUE(writeProfileStrings({{"threshold", "Volume Usage", "91"}}, kFile));
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{kFile});
    struct stat info {};
    ASSERT_EQ(::stat((dir.path() + "/" + kFile).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_EQ(info.st_uid, root ? 65534u : ::geteuid());
    EXPECT_EQ(info.st_gid, root ? 65534u : ::getegid());
    EXPECT_EQ(dir.read(kFile), sample() + "\n[threshold]\nVolume Usage=91\n");

    // What a rewrite killed half-way leaves behind is removed; nothing else is.
    for (const char* name :
         {".TESSEL.INI.a1B2c3", ".TESSEL.INI.keep", "TESSEL.INI.x1y2z3", ".TESSEL.INI.a1B2c3d"})
        dir.write(name, "password=secret\n");
    EXPECT_EQ(removeStaleRewrites(kFile), 1);
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "/.TESSEL.INI.a1B2c3"));
    EXPECT_TRUE(std::filesystem::exists(dir.path() + "/.TESSEL.INI.keep"));
    EXPECT_TRUE(std::filesystem::exists(dir.path() + "/TESSEL.INI.x1y2z3"));
    EXPECT_TRUE(std::filesystem::exists(path));
}

TEST(ProfileWrite, ABatchChangesEveryKeyInOneRewriteAndSkipsOnlyWhatItMustRefuse) {
    TempProfileDir dir;
    dir.write(kFile, "; kept\r\n[manager.1]\r\nname=old\r\n[other]\r\nx=1\r\n");
    const std::vector<ProfileEntry> entries = {{"manager.1", "name", "Ada"},
                                               {"manager.1", "Pager", "bad\nline"},
                                               {"threshold", "MEMORY", "80"},
                                               {"manager.1", "EMail", "ada@example.org"}};
    EXPECT_FALSE(writeProfileStrings(entries, kFile)) << "one entry had to be refused";
    EXPECT_EQ(dir.read(kFile),
              "; kept\r\n[manager.1]\r\nname=Ada\r\nEMail=ada@example.org\r\n[other]\r\nx=1\r\n"
              "\r\n[threshold]\r\nMEMORY=80\r\n");
    EXPECT_TRUE(writeProfileStrings({{"threshold", "MEMORY", "90"}}, kFile));
    EXPECT_EQ(getProfileInt("threshold", "memory", -1, kFile), 90);
}

} // namespace
} // namespace farlink::platform
