// Fixture files under tests/data, found by the absolute path the build passes in, so that a test
// reads them whatever directory it runs from.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace farlink::testing {

inline std::string dataPath(const std::string& name) {
    return std::string(FARLINK_TEST_DATA) + "/" + name;
}

// The whole file; a missing one throws, so that a fixture that is not found fails the test
// instead of reading as an empty text.
inline std::string dataText(const std::string& name) {
    std::ifstream in(dataPath(name), std::ios::binary);
    if (!in) throw std::runtime_error("no test data file " + dataPath(name));
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A tree of small files below `root` from one data file of lines "path<TAB>content": each file
// holds its content and a newline, as sysfs and procfs show their values.
inline void writeTree(const std::string& root, const std::string& name) {
    std::istringstream lines(dataText(name));
    for (std::string line; std::getline(lines, line);) {
        const std::size_t tab = line.find('\t');
        if (line.empty() || line[0] == '#' || tab == std::string::npos) continue;
        const std::filesystem::path path = root + "/" + line.substr(0, tab);
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << line.substr(tab + 1) << '\n';
    }
}

} // namespace farlink::testing
