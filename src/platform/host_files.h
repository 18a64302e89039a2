// Bounded reads of procfs and sysfs files for the host views. Inside the platform layer only.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace farlink::platform {

// The whole of a (pseudo) file, at most `limit` bytes, into `text`; false when it cannot be
// opened or read. A kernel text is produced as it is read, so it is read to its end at once,
// into the one buffer, which keeps its capacity from call to call.
bool readWholeFile(const char* path, std::string& text, std::size_t limit);

// A small attribute file into `buffer`, without its line end and surrounding blanks; an empty
// view when it cannot be read. A longer file is cut to the buffer.
std::string_view readAttribute(const char* path, std::span<char> buffer);

// The target of a symbolic link into `buffer`; an empty view when it is none or does not fit.
std::string_view readLinkTarget(const char* path, std::span<char> buffer);

// The last name of a slash-separated path.
std::string_view baseName(std::string_view path);

} // namespace farlink::platform
