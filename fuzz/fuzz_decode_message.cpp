// Received messages come from whoever holds the serial line: decode anything, and encode the
// answer to whatever decodes, as the request pipeline does.
#include "platform/console.h"
#include "snmp/message.h"
#include "snmp/station_message.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace farlink::snmp;
    static const bool quiet = [] {
        farlink::platform::setConsoleQuiet(true);
        return true;
    }();
    (void)quiet;

    // A station reads whatever comes back on the line with the same bounds.
    Response any;
    if (decodeResponse(std::span<const std::uint8_t>(data, size), any) == 0 &&
        any.bindingCount > kMaxBindings)
        __builtin_trap();

    std::array<VarBind, kMaxBindings> varbinds{};
    RequestRecord request{};
    for (std::size_t i = 0; i < kMaxBindings; ++i)
        request.bindings[i] = &varbinds[i];

    if (decodeMessage(std::span<const std::uint8_t>(data, size), request) != 0) return 0;
    if (request.bindingCount == 0 || request.bindingCount > kMaxBindings) __builtin_trap();

    request.pduType = kGetResponse;
    std::array<std::uint8_t, kMaxResponseSize> out{};
    if (encodeResponse(request, out) != 0) return 0;
    const std::size_t length = encodedMessageLength(out);
    if (length < 2 || length > out.size()) __builtin_trap();

    // The station's reader takes the response as the agent wrote it, name for name.
    Response answer;
    if (decodeResponse(std::span<const std::uint8_t>(out.data(), length), answer) != 0 ||
        answer.bindingCount != request.bindingCount || answer.requestId != request.requestId)
        __builtin_trap();
    for (std::size_t i = 0; i < answer.bindingCount; ++i) {
        if (varbinds[i].name.count != 0 && answer.bindings[i].name.count != varbinds[i].name.count)
            __builtin_trap();
    }

    // The response must be well-formed: with a request's PDU tag it decodes to the same bindings.
    const std::size_t pduAt = 2 + ((out[1] & 0x80) != 0 ? (out[1] & 0x7F) : 0) + 3 + 8;
    if (pduAt >= length || out[pduAt] != kGetResponse) __builtin_trap();
    out[pduAt] = kSetRequest;
    std::array<VarBind, kMaxBindings> again{};
    RequestRecord reread{};
    for (std::size_t i = 0; i < kMaxBindings; ++i)
        reread.bindings[i] = &again[i];
    if (decodeMessage(std::span<const std::uint8_t>(out.data(), length), reread) != 0) {
        // A response may pass the 512 bytes a request may have; only then may it fail to read.
        if (length <= kMaxMessageSize) __builtin_trap();
        return 0;
    }
    if (reread.bindingCount != request.bindingCount) __builtin_trap();
    for (std::size_t i = 0; i < request.bindingCount; ++i) {
        // An empty name goes back as the shortest one there is, 0.0.
        if (varbinds[i].name.count != 0 && again[i].name.count != varbinds[i].name.count)
            __builtin_trap();
    }
    return 0;
}
