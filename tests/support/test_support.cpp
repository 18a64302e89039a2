#include "support/test_support.h"

#include "platform/shared_memory.h"
#include "runtime/shared_block.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace farlink::testing {

std::vector<std::uint8_t> hexBytes(std::string_view text) {
    std::vector<std::uint8_t> out;
    int high = -1;
    for (char c : text) {
        int v;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        else
            continue;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<std::uint8_t>(high * 16 + v));
            high = -1;
        }
    }
    if (high >= 0) throw std::invalid_argument("odd number of hex digits");
    return out;
}

std::string hexText(const std::uint8_t* bytes, std::size_t size) {
    std::string out;
    char buf[4];
    for (std::size_t i = 0; i < size; ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", bytes[i]);
        out += buf;
    }
    return out;
}

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) {
        old_ = old;
        hadOld_ = true;
    }
    ::setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
    if (hadOld_)
        ::setenv(name_.c_str(), old_.c_str(), 1);
    else
        ::unsetenv(name_.c_str());
}

static std::string makeTempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "farlink-test-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    return tmpl;
}

TempProfileDir::TempProfileDir() : path_(makeTempDir()), windir_("WINDIR", path_) {}

TempProfileDir::~TempProfileDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void TempProfileDir::write(const std::string& name, const std::string& text) const {
    std::ofstream(path_ + "/" + name, std::ios::binary) << text;
}

std::string TempProfileDir::read(const std::string& name) const {
    std::ifstream in(path_ + "/" + name, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

ScopedSharedBlock::ScopedSharedBlock(std::size_t size, std::uint8_t fill) {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    name_ = "farlink-test-" + std::to_string(::getpid()) + "-" +
            (test != nullptr ? std::string(test->name()) : std::string("block"));
    for (char& c : name_)
        if (c == '/') c = '_';
    platform::removeSharedRegion(name_); // a leftover of a crashed run with the same pid
    platform::SharedRegion region;
    std::string refusal;
    if (!platform::createSharedRegion(name_, size, region, refusal))
        throw std::runtime_error("cannot create shared block " + name_ + ": " + refusal);
    platform::writeSharedRegion(region, 0, std::vector<std::uint8_t>(size, fill));
    runtime::attachSharedBlock(name_, region);
}

ScopedSharedBlock::~ScopedSharedBlock() {
    runtime::detachSharedBlock();
    platform::removeSharedRegion(name_);
}

std::vector<std::uint8_t> ScopedSharedBlock::bytes() const {
    platform::SharedRegion region;
    std::string refusal;
    std::vector<std::uint8_t> content;
    if (!platform::openSharedRegion(name_, 0, region, refusal)) return content;
    content.resize(platform::sharedRegionSize(region));
    platform::readSharedRegion(region, 0, content);
    platform::closeSharedRegion(region);
    return content;
}

} // namespace farlink::testing
