// The published layout of a performance data block: PERF_DATA_BLOCK, then per object a
// PERF_OBJECT_TYPE with its PERF_COUNTER_DEFINITIONs and either one PERF_COUNTER_BLOCK or, per
// instance, a PERF_INSTANCE_DEFINITION (with its UTF-16 name) and a PERF_COUNTER_BLOCK. All
// numbers little-endian, 8-byte packing; the pointer fields of the object type and the counter
// definition are 32-bit words in every build. The host's block is built to it and the reader
// walks it, so both take its offsets from here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace farlink::platform::perf_layout {

// PERF_DATA_BLOCK
inline constexpr std::size_t kBlockSignature = 0; // u"PERF"
inline constexpr std::size_t kBlockLittleEndian = 8;
inline constexpr std::size_t kBlockVersion = 12;
inline constexpr std::size_t kBlockRevision = 16;
inline constexpr std::size_t kBlockTotalByteLength = 20;
inline constexpr std::size_t kBlockHeaderLength = 24;
inline constexpr std::size_t kBlockNumObjectTypes = 28;
inline constexpr std::size_t kBlockDefaultObject = 32;
inline constexpr std::size_t kBlockSystemTime = 36; // SYSTEMTIME, 16 bytes
inline constexpr std::size_t kBlockPerfTime = 56;   // after 4 bytes of padding
inline constexpr std::size_t kBlockPerfFreq = 64;
inline constexpr std::size_t kBlockPerfTime100nSec = 72;
inline constexpr std::size_t kBlockSystemNameLength = 80;
inline constexpr std::size_t kBlockSystemNameOffset = 84;
inline constexpr std::size_t kBlockSize = 88;

// PERF_OBJECT_TYPE
inline constexpr std::size_t kObjectTotalByteLength = 0;
inline constexpr std::size_t kObjectDefinitionLength = 4;
inline constexpr std::size_t kObjectHeaderLength = 8;
inline constexpr std::size_t kObjectNameTitleIndex = 12;
inline constexpr std::size_t kObjectHelpTitleIndex = 20;
inline constexpr std::size_t kObjectDetailLevel = 28;
inline constexpr std::size_t kObjectNumCounters = 32;
inline constexpr std::size_t kObjectDefaultCounter = 36;
inline constexpr std::size_t kObjectNumInstances = 40;
inline constexpr std::size_t kObjectCodePage = 44;
inline constexpr std::size_t kObjectPerfTime = 48;
inline constexpr std::size_t kObjectPerfFreq = 56;
inline constexpr std::size_t kObjectSize = 64;

// PERF_COUNTER_DEFINITION
inline constexpr std::size_t kCounterByteLength = 0;
inline constexpr std::size_t kCounterNameTitleIndex = 4;
inline constexpr std::size_t kCounterHelpTitleIndex = 12;
inline constexpr std::size_t kCounterDefaultScale = 20;
inline constexpr std::size_t kCounterDetailLevel = 24;
inline constexpr std::size_t kCounterType = 28;
inline constexpr std::size_t kCounterSize = 32;
inline constexpr std::size_t kCounterOffset = 36;
inline constexpr std::size_t kCounterDefinitionSize = 40;

// PERF_INSTANCE_DEFINITION, its name following
inline constexpr std::size_t kInstanceByteLength = 0;
inline constexpr std::size_t kInstanceParentObjectTitleIndex = 4;
inline constexpr std::size_t kInstanceParentObjectInstance = 8;
inline constexpr std::size_t kInstanceUniqueId = 12;
inline constexpr std::size_t kInstanceNameOffset = 16;
inline constexpr std::size_t kInstanceNameLength = 20; // bytes, terminator included
inline constexpr std::size_t kInstanceSize = 24;

// PERF_COUNTER_BLOCK: its ByteLength, the counter values after it
inline constexpr std::size_t kCounterBlockByteLength = 0;
inline constexpr std::size_t kCounterBlockSize = 4;

inline constexpr std::int32_t kNoInstances = -1; // PERF_NO_INSTANCES
inline constexpr std::uint32_t kDetailNovice = 100;

// The CounterType bit fields.
inline constexpr std::uint32_t kSizeDword = 0x00000000;
inline constexpr std::uint32_t kSizeLarge = 0x00000100;
inline constexpr std::uint32_t kSizeZero = 0x00000200;
inline constexpr std::uint32_t kSizeVariableLen = 0x00000300;
inline constexpr std::uint32_t kSizeMask = 0x00000300;
inline constexpr std::uint32_t kTypeNumber = 0x00000000;
inline constexpr std::uint32_t kTypeCounter = 0x00000400;
inline constexpr std::uint32_t kTypeText = 0x00000800;
inline constexpr std::uint32_t kNumberHex = 0x00000000;
inline constexpr std::uint32_t kNumberDecimal = 0x00010000;
inline constexpr std::uint32_t kCounterValue = 0x00000000;
inline constexpr std::uint32_t kCounterRate = 0x00010000;
inline constexpr std::uint32_t kCounterFraction = 0x00020000;
inline constexpr std::uint32_t kCounterBase = 0x00030000;
inline constexpr std::uint32_t kCounterElapsed = 0x00040000;
inline constexpr std::uint32_t kCounterQueueLen = 0x00050000;
inline constexpr std::uint32_t kTimerTick = 0x00000000;
inline constexpr std::uint32_t kTimer100Ns = 0x00100000;
inline constexpr std::uint32_t kObjectTimer = 0x00200000;
inline constexpr std::uint32_t kDeltaCounter = 0x00400000;
inline constexpr std::uint32_t kDeltaBase = 0x00800000;
inline constexpr std::uint32_t kInverseCounter = 0x01000000;
inline constexpr std::uint32_t kMultiCounter = 0x02000000;
inline constexpr std::uint32_t kDisplayNoSuffix = 0x00000000;
inline constexpr std::uint32_t kDisplayPerSec = 0x10000000;
inline constexpr std::uint32_t kDisplayPercent = 0x20000000;
inline constexpr std::uint32_t kDisplaySeconds = 0x30000000;
inline constexpr std::uint32_t kDisplayNoShow = 0x40000000;

// A base counter has all of these bits.
inline constexpr std::uint32_t kBaseCounterBits = kCounterBase | kTypeCounter;

// The CounterType values, composed from the fields as they are published.
inline constexpr std::uint32_t kCounterCounter =
    kSizeDword | kTypeCounter | kCounterRate | kTimerTick | kDeltaCounter | kDisplayPerSec;
inline constexpr std::uint32_t kCounterTimer =
    kSizeLarge | kTypeCounter | kCounterRate | kTimerTick | kDeltaCounter | kDisplayPercent;
inline constexpr std::uint32_t kCounterQueueLenType =
    kSizeDword | kTypeCounter | kCounterQueueLen | kTimerTick | kDeltaCounter | kDisplayNoSuffix;
inline constexpr std::uint32_t kCounterBulkCount =
    kSizeLarge | kTypeCounter | kCounterRate | kTimerTick | kDeltaCounter | kDisplayPerSec;
inline constexpr std::uint32_t kCounterText = kSizeVariableLen | kTypeText;
inline constexpr std::uint32_t kCounterRawCount = kSizeDword | kTypeNumber | kNumberDecimal;
inline constexpr std::uint32_t kCounterLargeRawCount = kSizeLarge | kTypeNumber | kNumberDecimal;
inline constexpr std::uint32_t kCounterRawCountHex = kSizeDword | kTypeNumber | kNumberHex;
inline constexpr std::uint32_t kCounterLargeRawCountHex = kSizeLarge | kTypeNumber | kNumberHex;
inline constexpr std::uint32_t kSampleFraction =
    kSizeDword | kTypeCounter | kCounterFraction | kDeltaCounter | kDeltaBase | kDisplayPercent;
inline constexpr std::uint32_t kSampleCounter =
    kSizeDword | kTypeCounter | kCounterRate | kTimerTick | kDeltaCounter | kDisplayNoSuffix;
inline constexpr std::uint32_t kCounterNoData = kSizeZero | kDisplayNoShow;
inline constexpr std::uint32_t kCounterTimerInv = kSizeLarge | kTypeCounter | kCounterRate |
                                                  kTimerTick | kDeltaCounter | kInverseCounter |
                                                  kDisplayPercent;
inline constexpr std::uint32_t kSampleBase =
    kSizeDword | kTypeCounter | kCounterBase | kDisplayNoShow | 0x00000001;
inline constexpr std::uint32_t kAverageTimer =
    kSizeDword | kTypeCounter | kCounterFraction | kDisplaySeconds;
inline constexpr std::uint32_t kAverageBase =
    kSizeDword | kTypeCounter | kCounterBase | kDisplayNoShow | 0x00000002;
inline constexpr std::uint32_t kAverageBulk =
    kSizeLarge | kTypeCounter | kCounterFraction | kDisplayNoShow;
inline constexpr std::uint32_t k100NsecTimer =
    kSizeLarge | kTypeCounter | kCounterRate | kTimer100Ns | kDeltaCounter | kDisplayPercent;
inline constexpr std::uint32_t k100NsecTimerInv = kSizeLarge | kTypeCounter | kCounterRate |
                                                  kTimer100Ns | kDeltaCounter | kInverseCounter |
                                                  kDisplayPercent;
inline constexpr std::uint32_t kCounterMultiTimer = kSizeLarge | kTypeCounter | kCounterRate |
                                                    kDeltaCounter | kTimerTick | kMultiCounter |
                                                    kDisplayPercent;
inline constexpr std::uint32_t kCounterMultiTimerInv = kSizeLarge | kTypeCounter | kCounterRate |
                                                       kDeltaCounter | kMultiCounter | kTimerTick |
                                                       kInverseCounter | kDisplayPercent;
inline constexpr std::uint32_t kCounterMultiBase =
    kSizeLarge | kTypeCounter | kCounterBase | kMultiCounter | kDisplayNoShow;
inline constexpr std::uint32_t k100NsecMultiTimer = kSizeLarge | kTypeCounter | kDeltaCounter |
                                                    kCounterRate | kTimer100Ns | kMultiCounter |
                                                    kDisplayPercent;
inline constexpr std::uint32_t k100NsecMultiTimerInv = kSizeLarge | kTypeCounter | kDeltaCounter |
                                                       kCounterRate | kTimer100Ns | kMultiCounter |
                                                       kInverseCounter | kDisplayPercent;
inline constexpr std::uint32_t kRawFraction =
    kSizeDword | kTypeCounter | kCounterFraction | kDisplayPercent;
inline constexpr std::uint32_t kRawBase =
    kSizeDword | kTypeCounter | kCounterBase | kDisplayNoShow | 0x00000003;
inline constexpr std::uint32_t kElapsedTime =
    kSizeLarge | kTypeCounter | kCounterElapsed | kObjectTimer | kDisplaySeconds;

static_assert(kCounterCounter == 0x10410400 && kCounterBulkCount == 0x10410500);
static_assert(k100NsecTimerInv == 0x21510500 && kAverageBase == 0x40030402);

// Little-endian words of a byte range; the caller has checked that the word lies inside it.
inline std::uint32_t word32(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(bytes[offset]) |
           static_cast<std::uint32_t>(bytes[offset + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[offset + 2]) << 16 |
           static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}
inline std::uint64_t word64(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::uint64_t>(word32(bytes, offset)) |
           static_cast<std::uint64_t>(word32(bytes, offset + 4)) << 32;
}
inline void putWord32(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}
inline void putWord64(std::span<std::uint8_t> bytes, std::size_t offset, std::uint64_t value) {
    putWord32(bytes, offset, static_cast<std::uint32_t>(value));
    putWord32(bytes, offset + 4, static_cast<std::uint32_t>(value >> 32));
}

} // namespace farlink::platform::perf_layout
