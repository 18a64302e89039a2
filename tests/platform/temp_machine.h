// A temporary machine image for the platform tests: FARLINK_MACHINE points at a fresh directory
// and FARLINK_MACHINE_RECORD at a record file inside it, both for the life of the object.
#pragma once

#include "support/test_support.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace farlink::testing {

class TempMachine {
  public:
    TempMachine()
        : machine_("FARLINK_MACHINE", dir_.path()),
          record_("FARLINK_MACHINE_RECORD", dir_.path() + "/record.log") {}

    const std::string& path() const { return dir_.path(); }

    // Writes a file of the image, making its folders.
    void write(const std::string& relative, const std::string& bytes) const {
        const std::filesystem::path file = std::filesystem::path(dir_.path()) / relative;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << bytes;
    }
    void write(const std::string& relative, const std::vector<std::uint8_t>& bytes) const {
        write(relative, std::string(bytes.begin(), bytes.end()));
    }
    void makeFolder(const std::string& relative) const {
        std::filesystem::create_directories(std::filesystem::path(dir_.path()) / relative);
    }

    // The lines of a file of the image (the record file by default); none when it is missing.
    std::vector<std::string> lines(const std::string& relative = "record.log") const {
        std::ifstream in(dir_.path() + "/" + relative, std::ios::binary);
        std::vector<std::string> out;
        for (std::string line; std::getline(in, line);)
            out.push_back(line);
        return out;
    }

  private:
    TempProfileDir dir_;
    ScopedEnv machine_;
    ScopedEnv record_;
};

} // namespace farlink::testing
