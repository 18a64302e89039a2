#include "link/slip.h"

#include "platform/console.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace farlink::link {

namespace {

// Where the bytes SLIP must mark (END and ESC) lie in a span: each kind is found with memchr,
// and looked for again only once the walk has passed the one found last.
class MarkedBytes {
  public:
    explicit MarkedBytes(std::span<const std::uint8_t> bytes)
        : bytes_(bytes), end_(find(kSlipEnd, 0)), esc_(find(kSlipEsc, 0)) {}

    // The length of the run of bytes from `at` that SLIP carries as they stand.
    std::size_t plainRun(std::size_t at) {
        if (end_ < at) end_ = find(kSlipEnd, at);
        if (esc_ < at) esc_ = find(kSlipEsc, at);
        return std::min(end_, esc_) - at;
    }

  private:
    std::size_t find(std::uint8_t marker, std::size_t at) const {
        if (at >= bytes_.size()) return bytes_.size(); // an empty span may have no storage
        const void* found = std::memchr(bytes_.data() + at, marker, bytes_.size() - at);
        return found == nullptr ? bytes_.size()
                                : static_cast<std::size_t>(static_cast<const std::uint8_t*>(found) -
                                                           bytes_.data());
    }

    std::span<const std::uint8_t> bytes_;
    std::size_t end_;
    std::size_t esc_;
};

// The decoder's walk over a frame; it stores the bytes only when out is given, and refuses a
// datagram longer than capacity whole rather than passing it on cut short.

std::size_t decodeFrame(std::span<const std::uint8_t> frame, std::uint8_t* out,
                        std::size_t capacity) {
    MarkedBytes marked(frame);
    std::size_t count = 0;
    std::size_t i = 0;
    while (i < frame.size()) {
        // Most of a frame is plain bytes: copied a run at a time.
        const std::size_t run = marked.plainRun(i);
        if (run > 0) {
            if (run > capacity - count) return 0;
            if (out != nullptr) std::memcpy(out + count, frame.data() + i, run);
            count += run;
            i += run;
            continue;
        }
        std::uint8_t c = frame[i++];
        if (c == kSlipEnd) {
            // An END before any data opens the frame (a line may carry several); after data it
            // closes it.
            if (count > 0) return count;
            continue;
        }
        if (i == frame.size()) return 0; // cut inside an escape: no closing END follows
        c = frame[i++];
        if (c == kSlipEscEnd)
            c = kSlipEnd;
        else if (c == kSlipEscEsc)
            c = kSlipEsc;
        // Any other byte after ESC stands for itself.
        if (count == capacity) return 0;
        if (out != nullptr) out[count] = c;
        ++count;
    }
    return 0;
}

} // namespace

std::size_t slipDecode(std::span<const std::uint8_t> frame, std::span<std::uint8_t> out) {
    return decodeFrame(frame, out.data(), out.size());
}

std::size_t slipDecodedLength(std::span<const std::uint8_t> frame) {
    return decodeFrame(frame, nullptr, SIZE_MAX);
}

std::size_t slipEncode(std::span<const std::uint8_t> datagram, std::span<std::uint8_t> out) {
    // Refuse up front rather than stop half way: a frame is written whole or not at all.
    if (out.size() < slipEncodedMax(datagram.size())) return 0;
    std::size_t n = 0;
    out[n++] = kSlipEnd;
    MarkedBytes marked(datagram);
    for (std::size_t i = 0; i < datagram.size();) {
        const std::size_t run = marked.plainRun(i);
        if (run > 0) std::memcpy(out.data() + n, datagram.data() + i, run);
        n += run;
        i += run;
        if (i == datagram.size()) break;
        out[n++] = kSlipEsc;
        out[n++] = datagram[i++] == kSlipEnd ? kSlipEscEnd : kSlipEscEsc;
    }
    out[n++] = kSlipEnd;
    return n;
}

std::size_t writePort(platform::PortHandle port, const std::uint8_t* bytes, std::size_t length) {
    if (port == nullptr) return 0;
    std::size_t written = 0;
    if (!port->write(bytes, length, written)) {
        platform::diagnostic(platform::formatText("Error in write:%d ", platform::lastError()));
        return 0;
    }
    return written;
}

} // namespace farlink::link
