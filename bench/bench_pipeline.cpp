// CPU cost of answering one frame: the whole pipeline from the raw SLIP frame to the reply
// handed to the port, with the port itself taking the reply and keeping nothing.
#include "link/pipeline.h"
#include "link/slip.h"
#include "platform/console.h"
#include "platform/event_log.h"
#include "service/guarded.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <initializer_list>
#include <vector>

namespace {

using namespace farlink;
using Bytes = std::vector<std::uint8_t>;

class NullPort final : public platform::SerialPort {
  public:
    bool getState(platform::CommState&) override { return true; }
    bool setState(const platform::CommState&) override { return true; }
    bool setupQueues(std::uint32_t, std::uint32_t) override { return true; }
    bool escape(platform::CommEscape) override { return true; }
    bool setTimeouts(const platform::CommTimeouts&) override { return true; }
    bool modemStatus(std::uint32_t&) override { return false; }
    bool setEventMask(std::uint32_t) override { return false; }
    platform::WaitOutcome waitEvent(std::uint32_t&, int) override {
        return platform::WaitOutcome::Failed;
    }
    bool read(std::uint8_t*, std::size_t, std::size_t& n) override {
        n = 0;
        return true;
    }
    bool write(const std::uint8_t*, std::size_t size, std::size_t& n) override {
        n = size;
        written += size;
        return true;
    }
    std::string deviceName() const override { return "null"; }
    std::size_t written = 0;
};

Bytes tlv(std::uint8_t tag, const Bytes& content) {
    Bytes out{tag};
    const std::size_t n = content.size();
    if (n >= 256) {
        out.push_back(0x82);
        out.push_back(static_cast<std::uint8_t>(n >> 8));
    } else if (n >= 128) {
        out.push_back(0x81);
    }
    out.push_back(static_cast<std::uint8_t>(n));
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes smallInteger(std::uint8_t v) {
    return tlv(0x02, {v});
}

Bytes mibName(std::initializer_list<std::uint8_t> tail) {
    // 1.3.6.1.4.1.32473.25 followed by small sub-identifiers.
    Bytes content = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x81, 0xFD, 0x59, 0x19};
    content.insert(content.end(), tail);
    return tlv(0x06, content);
}

struct Binding {
    Bytes name;
    Bytes value;
};

Bytes message(std::uint8_t pduType, const std::vector<Binding>& bindings) {
    Bytes list;
    for (const Binding& b : bindings)
        list = cat({list, tlv(0x30, cat({b.name, b.value}))});
    const Bytes pdu =
        tlv(pduType, cat({smallInteger(1), smallInteger(0), smallInteger(0), tlv(0x30, list)}));
    return tlv(0x30, cat({smallInteger(0), tlv(0x04, {'k', 'e', 's', 't', 'r', 'l'}), pdu}));
}

std::uint16_t sum(const Bytes& b, std::size_t from, std::size_t length) {
    std::uint32_t s = 0;
    for (std::size_t i = 0; i < length; i += 2) {
        s += (std::uint32_t{b[from + i]} << 8) | (i + 1 < length ? b[from + i + 1] : 0u);
        s = (s & 0xFFFF) + (s >> 16);
    }
    return static_cast<std::uint16_t>(s);
}

// The frame of a datagram from 10.0.0.1:40001 to 10.0.0.2:161, without a UDP checksum. The
// identification is chosen so that the header needs no escapes: a 25-binding request only just
// fits the 512-byte frame block.
Bytes frameOf(const Bytes& m) {
    for (std::uint16_t id = 0x1000;; ++id) {
        Bytes d = {0x45,
                   0,
                   static_cast<std::uint8_t>((m.size() + 28) >> 8),
                   static_cast<std::uint8_t>(m.size() + 28),
                   static_cast<std::uint8_t>(id >> 8),
                   static_cast<std::uint8_t>(id),
                   0,
                   0,
                   64,
                   17,
                   0,
                   0,
                   10,
                   0,
                   0,
                   1,
                   10,
                   0,
                   0,
                   2,
                   0x9C,
                   0x41,
                   0,
                   161,
                   static_cast<std::uint8_t>((m.size() + 8) >> 8),
                   static_cast<std::uint8_t>(m.size() + 8),
                   0,
                   0};
        const std::uint16_t c = static_cast<std::uint16_t>(~sum(d, 0, 20));
        d[10] = static_cast<std::uint8_t>(c >> 8);
        d[11] = static_cast<std::uint8_t>(c);
        d.insert(d.end(), m.begin(), m.end());
        Bytes frame(link::slipEncodedMax(d.size()));
        frame.resize(link::slipEncode(d, frame));
        if (frame.size() <= link::kFrameBlockSize) return frame;
        if (frame.size() > d.size() + 2 + 4) return {}; // the message itself needs escapes
    }
}

void answerFrames(benchmark::State& state, const Bytes& frame) {
    platform::useMemoryEventLog();
    platform::setConsoleQuiet(true);
    if (frame.empty()) {
        state.SkipWithError("request does not fit a frame block");
        return;
    }
    NullPort port;
    for (auto _ : state) {
        // As a port reader hands it over: the request and its frame block, owned by the pipeline.
        auto* request = service::guardedNew<link::FrameRequest>();
        auto* block = static_cast<std::uint8_t*>(service::guardedAlloc(link::kFrameBlockSize));
        std::memcpy(block, frame.data(), frame.size());
        request->frameLength = static_cast<std::uint32_t>(frame.size());
        request->port = &port;
        request->frame = block;
        link::processFrame(request);
    }
    if (port.written == 0 || !platform::loggedEvents().empty()) {
        state.SkipWithError("the pipeline did not answer");
        return;
    }
    state.counters["reply_bytes"] =
        static_cast<double>(port.written) / static_cast<double>(state.iterations());
}

const Bytes kNull = {0x05, 0x00};

void BM_GetOneBinding(benchmark::State& state) {
    answerFrames(state, frameOf(message(0xA0, {{mibName({2, 1, 0}), kNull}})));
}

void BM_GetNextEventTable(benchmark::State& state) {
    answerFrames(state, frameOf(message(0xA1, {{mibName({7, 2, 1}), kNull}})));
}

void BM_SetEventAction(benchmark::State& state) {
    answerFrames(
        state, frameOf(message(0xA3, {{mibName({7, 2, 1, 2, 0}), tlv(0x02, {0x01, 0x00, 0x06})}})));
}

void BM_Get25Bindings(benchmark::State& state) {
    std::vector<Binding> bindings(25, Binding{mibName({2, 1, 0}), kNull});
    answerFrames(state, frameOf(message(0xA0, bindings)));
}

BENCHMARK(BM_GetOneBinding);
BENCHMARK(BM_GetNextEventTable);
BENCHMARK(BM_SetEventAction);
BENCHMARK(BM_Get25Bindings);

} // namespace

BENCHMARK_MAIN();
