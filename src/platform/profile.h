// Profile (initialisation) files with the semantics of the Win32 profile calls: section and key
// names match without regard to case, a missing key gives the default, texts are cut to the
// buffer, numbers are parsed as decimal. Files live in one directory: $WINDIR, else /etc/farlink.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace farlink::platform {

std::string profileDirectory();
// The full path of a profile file in the profile directory.
std::string profilePath(std::string_view fileName);

bool fileExists(const std::string& path);
// Whether this process can open the file for reading; the last error says why not.
bool fileReadable(const std::string& path);

// A number that changes whenever the file is replaced or written (its inode, size and time of
// change); 0 when it does not exist. Lets a reader keep what it parsed until the file changes.
std::uint64_t fileVersion(const std::string& path);

// Removes the temporary files that a rewrite of the profile file left behind when the process
// was killed in the middle of it (".NAME.XXXXXX" beside the file, owned by this user); returns
// how many were removed.
int removeStaleRewrites(std::string_view fileName);

// Copies the value (or the default) into buffer, cut to size - 1 characters and terminated;
// returns the number of characters copied. Leading and trailing blanks of a value are removed,
// as are surrounding double quotes. size 0 copies nothing and returns 0.
std::uint32_t getProfileString(std::string_view section, std::string_view key,
                               std::string_view defaultValue, char* buffer, std::uint32_t size,
                               std::string_view fileName);

// The decimal number at the start of the value (optional sign); a value without digits gives 0;
// a missing key gives the default.
std::int32_t getProfileInt(std::string_view section, std::string_view key,
                           std::int32_t defaultValue, std::string_view fileName);

// Sets section/key to value, adding the section or key where missing. The file is rewritten
// atomically (temporary file, flush, rename) and every other line, comment and section is kept
// exactly as it was. Returns false when the file cannot be written.
bool writeProfileString(std::string_view section, std::string_view key, std::string_view value,
                        std::string_view fileName);

struct ProfileEntry {
    std::string section;
    std::string key;
    std::string value;
    bool operator==(const ProfileEntry&) const = default;
};

// Sets every entry as writeProfileString would, in order, with one rewrite of the file: a
// writer of many keys pays for one atomic replacement instead of one per key. An entry that
// writeProfileString would refuse is skipped and makes the result false; the others are written.
bool writeProfileStrings(const std::vector<ProfileEntry>& entries, std::string_view fileName);

} // namespace farlink::platform
