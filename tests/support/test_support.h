// Helpers shared by the unit tests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace farlink::testing {

// Bytes from a text of hexadecimal pairs, blanks ignored: "30 51 02 01".
std::vector<std::uint8_t> hexBytes(std::string_view text);
std::string hexText(const std::uint8_t* bytes, std::size_t size);
inline std::string hexText(const std::vector<std::uint8_t>& bytes) {
    return hexText(bytes.data(), bytes.size());
}

// Sets an environment variable for the life of the object and restores the old value.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string name_;
    std::string old_;
    bool hadOld_ = false;
};

// A fresh temporary directory, removed with its files; it is also made the profile directory
// (WINDIR) while the object lives.
class TempProfileDir {
  public:
    TempProfileDir();
    ~TempProfileDir();
    const std::string& path() const { return path_; }
    // Writes a file of the directory with the given text.
    void write(const std::string& name, const std::string& text) const;
    std::string read(const std::string& name) const;

  private:
    std::string path_;
    ScopedEnv windir_;
};

// A shared agent block of the test's own (a region named after the process and test), attached
// as this process's block while the object lives, then detached and removed.
class ScopedSharedBlock {
  public:
    explicit ScopedSharedBlock(std::size_t size = 816, std::uint8_t fill = 0);
    ~ScopedSharedBlock();
    ScopedSharedBlock(const ScopedSharedBlock&) = delete;
    ScopedSharedBlock& operator=(const ScopedSharedBlock&) = delete;
    const std::string& name() const { return name_; }
    // What the region holds now, whole.
    std::vector<std::uint8_t> bytes() const;

  private:
    std::string name_;
};

// How many times `line` occurs in `text`.
inline int countLines(const std::string& text, const std::string& line) {
    int n = 0;
    for (std::size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1))
        ++n;
    return n;
}

} // namespace farlink::testing
