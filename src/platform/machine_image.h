// The simulated machine chosen with FARLINK_MACHINE: where its image lies and where the requests
// that change it are written down. Shared by the device and service backends.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace farlink::platform {

// The image directory from FARLINK_MACHINE, or empty when the host itself serves.
std::string machineImageDirectory();

// The record file: FARLINK_MACHINE_RECORD, else requests.log in the image directory.
std::string machineRecordPath(const std::string& imageDirectory);

// Appends one line to the record file of the image; false (errno set) when it cannot be written.
// Line breaks inside the text become blanks, so that one request stays one line.
bool appendMachineRecord(const std::string& imageDirectory, std::string_view line);

// The lines of a text file of the image without their line ends; false (errno set) when the
// file cannot be read, 2 when it does not exist.
bool readImageLines(const std::string& path, std::vector<std::string>& lines);

} // namespace farlink::platform
