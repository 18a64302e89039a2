#include "perf/perf_reader.h"

#include "inventory/disks.h"
#include "platform/console.h"
#include "platform/key_tree.h"
#include "platform/perf_layout.h"
#include "platform/performance_data.h"
#include "runtime/guarded.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace farlink::perf {

namespace pl = platform::perf_layout;

namespace {

constexpr std::size_t kMaxCounters = 15;

struct SampleSlot {
    std::uint64_t previousValue = 0;
    std::uint64_t currentValue = 0;
    std::uint64_t previousBase = 0;
    std::uint64_t currentBase = 0;
};

struct CounterEntry {
    std::u16string_view name;
    std::uint32_t titleIndex = 0;
    std::uint32_t counterType = 0;
};

struct ObjectRecord {
    std::u16string_view name;
    std::size_t counterCount = 0;
    std::array<CounterEntry, kMaxCounters> counters{};
    std::uint32_t titleIndex = 0;
    std::uint32_t instanceCount = 0;
    std::int64_t previousBlockTime = 0, currentBlockTime = 0;
    std::int64_t previous100ns = 0, current100ns = 0;
    std::int64_t previousObjectTime = 0, currentObjectTime = 0;
    std::int64_t blockFrequency = 0, objectFrequency = 0;
    SampleSlot* storage = nullptr; // counters x instances, counter-major; a guarded block

    SampleSlot* slots(std::size_t counter) const {
        return storage == nullptr ? nullptr : storage + counter * instanceCount;
    }
};

constexpr std::array<std::u16string_view, 15> kDiskCounterNames = {
    u"Avg. Disk Bytes/Read", u"Avg. Disk Bytes/Write", u"Avg. Disk Bytes/Transfer",
    u"Avg. Disk sec/Read",   u"Avg. Disk sec/Write",   u"Avg. Disk sec/Transfer",
    u"Disk Read Bytes/sec",  u"Disk Write Bytes/sec",  u"Disk Bytes/sec",
    u"Disk Reads/sec",       u"Disk Writes/sec",       u"Disk Transfers/sec",
    u"% Disk Read Time",     u"% Disk Write Time",     u"% Disk Time"};

ObjectRecord makeObject(std::u16string_view name,
                        std::initializer_list<std::u16string_view> counters) {
    ObjectRecord object;
    object.name = name;
    for (std::u16string_view counter : counters)
        object.counters[object.counterCount++].name = counter;
    return object;
}

std::array<ObjectRecord, kObjectCount> freshObjects() {
    ObjectRecord physical = makeObject(u"PhysicalDisk", {});
    ObjectRecord logical = makeObject(u"LogicalDisk", {});
    for (std::u16string_view name : kDiskCounterNames) {
        physical.counters[physical.counterCount++].name = name;
        logical.counters[logical.counterCount++].name = name;
    }
    return {
        makeObject(u"System",
                   {u"% Total Processor Time", u"% Total Privileged Time", u"% Total User Time",
                    u"% Total Interrupt Time", u"Total Interrupts/sec", u"Context Switches/sec",
                    u"Exception Dispatches/sec", u"System Calls/sec",
                    u"File Control Operations/sec", u"File Control Bytes/sec",
                    u"File Data Operations/sec", u"File Read Operations/sec",
                    u"File Write Operations/sec", u"File Read Bytes/sec", u"File Write Bytes/sec"}),
        // Three of these names are not the system's spelling: those counters never get an
        // index and read 0, as managers of this MIB have always seen them.
        makeObject(u"Cache", {u"Copy Read Hits %", u"Copy Reads/sec", u"Data Map Hits %",
                              u"Data Maps/sec", u"Data Flushes/sec", u"Data Filush Pages/sec",
                              u"Laze Write Flushes/sec", u"Laze Write Pages/sec"}),
        makeObject(u"Memory",
                   {u"Page Faults/sec", u"Transition Faults/sec", u"Write Copies/sec",
                    u"Page Reads/sec", u"Page Writes/sec", u"Pages Input/sec", u"Pages Output/sec",
                    u"Pages/sec", u"System Code Total Bytes", u"System Driver Total Bytes"}),
        makeObject(u"Processor", {u"% Processor Time", u"% Privileged Time", u"% User Time",
                                  u"% Interrupt Time", u"Interrupts/sec"}),
        physical,
        logical,
    };
}

struct ProcessorSample {
    std::uint64_t previousValue = 0, currentValue = 0;
    std::uint64_t previous100ns = 0, current100ns = 0;
};

// Everything the walks change, under `samples`.
struct ReaderState {
    std::array<ObjectRecord, kObjectCount> objects = freshObjects();
    bool ready = false;
    std::uint32_t processorObjectIndex = 0, memoryObjectIndex = 0;
    std::uint32_t processorTimeIndex = 0, availableBytesIndex = 0;
    std::u16string objectsString;
    std::uint32_t processorCount = 0;
    std::array<ProcessorSample, kMaxProcessors> processors{};
    std::uint64_t availableBytes = 0;
    std::uint64_t totalMemory = 0;
    std::uint8_t availablePercent = 0;
    std::array<std::uint8_t, kMaxProcessors> busy{};
    // The times of the last block a snapshot walked.
    bool walked = false;
    std::uint64_t walkedTime = 0, walked100ns = 0;
    // The counter block of each instance of the object being walked, as [begin, end) offsets
    // of the block; keeps its capacity from walk to walk.
    std::vector<std::pair<std::size_t, std::size_t>> counterBlocks;
};

std::mutex samples;
ReaderState state;

// Serialises the queries, which share one buffer; never held with `samples` by an accessor.
std::mutex queries;
std::uint8_t* queryBuffer = nullptr;
std::size_t queryBufferSize = 0;

void releaseStorage(ObjectRecord& object) {
    if (object.storage != nullptr) runtime::guardedFree(object.storage);
    object.storage = nullptr;
    object.instanceCount = 0;
}

// ---------------------------------------------------------------------------------------------
// Counter types

double secs(std::int64_t a, std::int64_t b, std::int64_t frequency) {
    const auto d =
        static_cast<std::int64_t>(static_cast<std::uint64_t>(a) - static_cast<std::uint64_t>(b));
    if (d <= 0 || frequency <= 0) return 0;
    return static_cast<double>(d) / static_cast<double>(frequency);
}

std::int64_t signedDelta(std::uint64_t a, std::uint64_t b) {
    return static_cast<std::int64_t>(a - b);
}

std::uint32_t low32(std::uint64_t v) {
    return static_cast<std::uint32_t>(v);
}

double timerRule(std::uint32_t type, double elapsed, double delta, std::uint64_t b1) {
    if (elapsed <= 0) return 0;
    double r = delta / elapsed;
    const bool multi = (type & pl::kMultiCounter) != 0;
    const bool inverse = (type & pl::kInverseCounter) != 0;
    if (!multi && inverse) r = 1 - r;
    if (multi) {
        const auto base = static_cast<std::int32_t>(low32(b1));
        if (base <= 0) return 0;
        if (inverse) r = base - r;
        r /= base;
    }
    double p = 100 * r;
    if (p < 0) p = 0;
    if (p > 100 && !multi) p = 100;
    return p;
}

} // namespace

double computeCounterValue(const CounterInputs& in) {
    switch (in.counterType) {
    case pl::kCounterRawCount:
    case pl::kCounterRawCountHex:
        return low32(in.v1);
    case pl::kCounterLargeRawCount:
    case pl::kCounterLargeRawCountHex:
        return static_cast<double>(static_cast<std::int64_t>(in.v1));
    case pl::kCounterCounter: {
        const std::uint32_t d = low32(in.v1 - in.v0);
        if (d == 0) return 0;
        const double s = secs(in.t1, in.t0, in.frequency);
        if (s <= 0) return 0;
        const double value = d / s;
        // A wrapped 32-bit counter that still gives an absurd rate was reset, not wrapped.
        if (in.v1 < in.v0 && value > 1.5e9) return 0;
        return value;
    }
    case pl::kCounterBulkCount: {
        const std::int64_t d = signedDelta(in.v1, in.v0);
        if (d <= 0) return 0;
        const double s = secs(in.t1, in.t0, in.frequency);
        if (s <= 0) return 0;
        return static_cast<double>(d) / s;
    }
    case pl::kSampleCounter:
    case pl::kSampleFraction: {
        const auto dv = static_cast<std::int32_t>(low32(in.v1) - low32(in.v0));
        const auto db = static_cast<std::int32_t>(low32(in.b1) - low32(in.b0));
        if (dv <= 0 || db <= 0) return 0;
        const double value = static_cast<double>(dv) / db;
        return in.counterType == pl::kSampleFraction ? value * 100 : value;
    }
    case pl::kRawFraction:
        if (in.v1 == 0 || in.b1 == 0) return 0;
        return static_cast<double>(in.v1 * 100) / static_cast<double>(in.b1);
    case pl::kAverageTimer: {
        const std::uint32_t db = low32(in.b1) - low32(in.b0);
        if (db == 0) return 0;
        return secs(static_cast<std::int64_t>(in.v1), static_cast<std::int64_t>(in.v0),
                    in.frequency) /
               db;
    }
    case pl::kAverageBulk: {
        const std::int64_t d = signedDelta(in.v1, in.v0);
        if (d <= 0) return 0;
        const std::uint32_t db = low32(in.b1) - low32(in.b0);
        if (db == 0) return 0;
        return static_cast<double>(d) / db;
    }
    case pl::kElapsedTime: {
        const auto v1 = static_cast<std::int64_t>(in.v1);
        if (v1 <= 0) return 0;
        const std::int64_t d = signedDelta(static_cast<std::uint64_t>(in.t1), in.v1);
        if (d <= 0 || in.objectFrequency <= 0) return 0;
        return static_cast<double>(d) / static_cast<double>(in.objectFrequency);
    }
    case pl::kCounterTimer:
    case pl::kCounterTimerInv:
    case pl::kCounterMultiTimer:
    case pl::kCounterMultiTimerInv: {
        const double e = secs(in.t1, in.t0, in.frequency);
        const double d = in.frequency <= 0 ? 0
                                           : static_cast<double>(signedDelta(in.v1, in.v0)) /
                                                 static_cast<double>(in.frequency);
        return timerRule(in.counterType, e, d, in.b1);
    }
    case pl::k100NsecTimer:
    case pl::k100NsecTimerInv:
    case pl::k100NsecMultiTimer:
    case pl::k100NsecMultiTimerInv: {
        const auto e = static_cast<double>(
            signedDelta(static_cast<std::uint64_t>(in.n1), static_cast<std::uint64_t>(in.n0)));
        const auto d = static_cast<double>(signedDelta(in.v1, in.v0));
        return timerRule(in.counterType, e, d, in.b1);
    }
    default:
        return 0;
    }
}

std::uint32_t counterWord(double value) {
    if (!(value == value)) return 0; // NaN
    const double t = std::trunc(value);
    if (t >= 4294967295.0) return 0xFFFFFFFF;
    if (t <= -2147483648.0) return 0x80000000;
    if (t < 0) return static_cast<std::uint32_t>(static_cast<std::int32_t>(t));
    return static_cast<std::uint32_t>(t);
}

namespace {

// ---------------------------------------------------------------------------------------------
// The name table

// A decimal index of the table: 0 when it does not parse, as the system's own parse says.
std::uint32_t parseIndex(std::u16string_view text) {
    std::uint64_t value = 0;
    if (text.empty()) return 0;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9') return 0;
        value = value * 10 + static_cast<std::uint64_t>(c - u'0');
        if (value >= 0xFFFFFFFF) return 0xFFFFFFFF;
    }
    return static_cast<std::uint32_t>(value);
}

void registerName(ReaderState& s, std::u16string_view name, std::uint32_t index) {
    for (ObjectRecord& object : s.objects)
        if (object.name == name) {
            object.titleIndex = index;
            releaseStorage(object);
            return;
        }
    // One name the system lists once may be carried by several objects (the disk counters).
    for (ObjectRecord& object : s.objects)
        for (std::size_t j = 0; j < object.counterCount; ++j)
            if (object.counters[j].name == name) object.counters[j].titleIndex = index;
}

// ---------------------------------------------------------------------------------------------
// Walking a block

struct Span {
    std::size_t begin = 0, end = 0; // [begin, end) within the block
    bool holds(std::size_t at, std::size_t size) const {
        return at >= begin && at <= end && size <= end - at;
    }
};

// Bytes that stay inside `within`, or false: every offset of the block is untrusted.
bool inside(const Span& within, std::size_t base, std::uint64_t offset, std::size_t size,
            std::size_t& at) {
    if (offset > within.end || base > within.end - offset) return false;
    at = base + static_cast<std::size_t>(offset);
    return within.holds(at, size);
}

// One counter value by the size bits of its type; false for a size this reader does not keep.
bool readValue(std::span<const std::uint8_t> block, const Span& counterBlock, std::uint32_t offset,
               std::uint32_t type, std::uint64_t& value) {
    const std::uint32_t sizeBits = type & pl::kSizeMask;
    const std::size_t size = sizeBits == pl::kSizeDword ? 4 : sizeBits == pl::kSizeLarge ? 8 : 0;
    std::size_t at = 0;
    if (size == 0 || !inside(counterBlock, counterBlock.begin, offset, size, at)) return false;
    value = size == 4 ? pl::word32(block, at) : pl::word64(block, at);
    return true;
}

void storeValue(SampleSlot& slot, std::uint32_t type, std::uint64_t value) {
    if ((type & pl::kBaseCounterBits) == pl::kBaseCounterBits) {
        slot.previousBase = slot.currentBase;
        slot.currentBase = value;
    } else {
        slot.previousValue = slot.currentValue;
        slot.currentValue = value;
    }
}

// Makes the sample storage for `count` instances; on failure the object keeps none.
void resizeStorage(ObjectRecord& object, std::uint32_t count) {
    releaseStorage(object);
    const std::size_t slots = object.counterCount * static_cast<std::size_t>(count);
    if (slots == 0) return;
    void* block = runtime::guardedAlloc(slots * sizeof(SampleSlot));
    if (block == nullptr) return;
    std::memset(block, 0, slots * sizeof(SampleSlot));
    object.storage = static_cast<SampleSlot*>(block);
    object.instanceCount = count;
}

// Finds the counter blocks of up to `count` instances; stops at the first that does not fit.
void findCounterBlocks(ReaderState& s, std::span<const std::uint8_t> block, const Span& object,
                       std::size_t definitionLength, bool hasInstances, std::uint32_t count) {
    s.counterBlocks.clear();
    std::size_t at = 0;
    if (!inside(object, object.begin, definitionLength, 0, at)) return;
    if (!hasInstances) {
        if (!object.holds(at, pl::kCounterBlockSize)) return;
        const std::uint32_t blockLength = pl::word32(block, at);
        std::size_t end = 0;
        if (blockLength >= pl::kCounterBlockSize && inside(object, at, blockLength, 0, end))
            s.counterBlocks.emplace_back(at, end);
        return;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        if (!object.holds(at, pl::kInstanceSize)) return;
        const std::uint32_t length = pl::word32(block, at + pl::kInstanceByteLength);
        std::size_t counterBlock = 0;
        if (length < pl::kInstanceSize ||
            !inside(object, at, length, pl::kCounterBlockSize, counterBlock))
            return;
        const std::uint32_t blockLength = pl::word32(block, counterBlock);
        std::size_t next = 0;
        if (blockLength < pl::kCounterBlockSize ||
            !inside(object, counterBlock, blockLength, 0, next))
            return;
        s.counterBlocks.emplace_back(counterBlock, next);
        at = next;
    }
}

void walkObject(ReaderState& s, std::span<const std::uint8_t> block, const Span& object,
                std::int64_t blockTime, std::int64_t block100ns, std::int64_t blockFrequency,
                bool firstSample) {
    const std::uint32_t titleIndex = pl::word32(block, object.begin + pl::kObjectNameTitleIndex);
    ObjectRecord* record = nullptr;
    for (ObjectRecord& candidate : s.objects)
        if (candidate.titleIndex != 0 && candidate.titleIndex == titleIndex) record = &candidate;
    const bool isProcessor = titleIndex != 0 && titleIndex == s.processorObjectIndex;
    const bool isMemory = titleIndex != 0 && titleIndex == s.memoryObjectIndex;
    if (record == nullptr && !isProcessor && !isMemory) return;

    const std::size_t size = object.end - object.begin;
    const std::uint32_t definitionLength =
        pl::word32(block, object.begin + pl::kObjectDefinitionLength);
    const std::uint32_t headerLength = pl::word32(block, object.begin + pl::kObjectHeaderLength);
    const std::uint32_t numCounters = pl::word32(block, object.begin + pl::kObjectNumCounters);
    const auto numInstances =
        static_cast<std::int32_t>(pl::word32(block, object.begin + pl::kObjectNumInstances));
    const bool hasInstances = numInstances != pl::kNoInstances;
    // Each instance takes at least its definition and a counter block: a count the object
    // cannot hold is cut to what it can.
    std::uint32_t count = 1;
    if (hasInstances) {
        const std::size_t room = definitionLength < size ? size - definitionLength : 0;
        const std::size_t most = room / (pl::kInstanceSize + pl::kCounterBlockSize);
        count = numInstances < 0 ? 0
                                 : static_cast<std::uint32_t>(std::min<std::size_t>(
                                       static_cast<std::uint32_t>(numInstances), most));
    }

    if (record != nullptr) {
        record->previousBlockTime = record->currentBlockTime;
        record->previous100ns = record->current100ns;
        record->previousObjectTime = record->currentObjectTime;
        record->currentBlockTime = blockTime;
        record->current100ns = block100ns;
        record->currentObjectTime =
            static_cast<std::int64_t>(pl::word64(block, object.begin + pl::kObjectPerfTime));
        record->blockFrequency = blockFrequency;
        record->objectFrequency =
            static_cast<std::int64_t>(pl::word64(block, object.begin + pl::kObjectPerfFreq));
        if (count != record->instanceCount) resizeStorage(*record, count);
    }
    if (isProcessor) s.processorCount = count;

    findCounterBlocks(s, block, object, definitionLength, hasInstances, count);
    std::size_t at = 0;
    if (!inside(object, object.begin, headerLength, 0, at)) return;
    for (std::uint32_t d = 0; d < numCounters; ++d) {
        if (!object.holds(at, pl::kCounterDefinitionSize)) return;
        const std::uint32_t length = pl::word32(block, at + pl::kCounterByteLength);
        const std::uint32_t nameIndex = pl::word32(block, at + pl::kCounterNameTitleIndex);
        const std::uint32_t type = pl::word32(block, at + pl::kCounterType);
        const std::uint32_t offset = pl::word32(block, at + pl::kCounterOffset);

        CounterEntry* entry = nullptr;
        std::size_t entryNumber = 0;
        if (record != nullptr && record->storage != nullptr)
            for (std::size_t j = 0; j < record->counterCount && entry == nullptr; ++j)
                if (record->counters[j].titleIndex != 0 &&
                    record->counters[j].titleIndex == nameIndex) {
                    entry = &record->counters[j];
                    entryNumber = j;
                }
        for (std::size_t i = 0; i < s.counterBlocks.size(); ++i) {
            const Span counterBlock{s.counterBlocks[i].first, s.counterBlocks[i].second};
            std::uint64_t value = 0;
            const bool read = readValue(block, counterBlock, offset, type, value);
            if (entry != nullptr) {
                entry->counterType = type;
                if (read) storeValue(record->slots(entryNumber)[i], type, value);
            }
            if (!read) continue;
            if (isMemory && i == 0 && nameIndex == s.availableBytesIndex) s.availableBytes = value;
            if (isProcessor && i < kMaxProcessors && nameIndex == s.processorTimeIndex) {
                ProcessorSample& p = s.processors[i];
                (firstSample ? p.previousValue : p.currentValue) = value;
                (firstSample ? p.previous100ns : p.current100ns) =
                    static_cast<std::uint64_t>(block100ns);
            }
        }
        // A definition that does not move on, or runs past the object, ends the list.
        if (length < pl::kCounterDefinitionSize || !inside(object, at, length, 0, at)) return;
    }
}

void walkLocked(ReaderState& s, std::span<const std::uint8_t> block, bool firstSample) {
    if (!s.ready || block.size() < pl::kBlockSize) return;
    const std::uint32_t total = pl::word32(block, pl::kBlockTotalByteLength);
    const Span whole{
        0, std::min<std::size_t>(block.size(), total < pl::kBlockSize ? block.size() : total)};
    const std::uint32_t objects = pl::word32(block, pl::kBlockNumObjectTypes);
    const auto blockTime = static_cast<std::int64_t>(pl::word64(block, pl::kBlockPerfTime));
    const auto frequency = static_cast<std::int64_t>(pl::word64(block, pl::kBlockPerfFreq));
    const auto time100ns = static_cast<std::int64_t>(pl::word64(block, pl::kBlockPerfTime100nSec));
    std::size_t at = 0;
    if (!inside(whole, 0, pl::word32(block, pl::kBlockHeaderLength), 0, at)) return;
    for (std::uint32_t k = 0; k < objects; ++k) {
        if (!whole.holds(at, pl::kObjectSize)) return;
        const std::uint32_t length = pl::word32(block, at + pl::kObjectTotalByteLength);
        // An object shorter than its own header does not move the walk on: it ends here.
        if (length < pl::kObjectSize) return;
        const Span object{at, length > whole.end - at ? whole.end : at + length};
        walkObject(s, block, object, blockTime, time100ns, frequency, firstSample);
        if (length > whole.end - at) return;
        at += length;
    }
}

// Queries the data into the kept buffer; the block, or an empty span when the query failed.
std::span<const std::uint8_t> query(std::u16string_view objects) {
    if (queryBuffer == nullptr) {
        queryBuffer = static_cast<std::uint8_t*>(runtime::guardedAlloc(kQueryBufferSize));
        if (queryBuffer == nullptr) return {};
        queryBufferSize = kQueryBufferSize;
    }
    // The data may grow between two queries; a few rounds are enough for any real change.
    for (int round = 0; round < 8; ++round) {
        std::uint32_t size = 0;
        const int result =
            platform::queryPerformanceData(objects, {queryBuffer, queryBufferSize}, size);
        if (result == 0) return {queryBuffer, std::min<std::size_t>(size, queryBufferSize)};
        if (result != platform::kErrorMoreData) return {};
        // Grown in whole steps, straight to the size the system asked for.
        std::size_t grown = queryBufferSize + kQueryBufferStep;
        if (size > grown)
            grown += (size - grown + kQueryBufferStep - 1) / kQueryBufferStep * kQueryBufferStep;
        auto* larger = static_cast<std::uint8_t*>(runtime::guardedAlloc(grown));
        if (larger == nullptr) return {};
        runtime::guardedFree(queryBuffer);
        queryBuffer = larger;
        queryBufferSize = grown;
    }
    return {};
}

enum class Snapshot { Failed, Same, Fresh };

// Query and walk. A block with the times of the one walked last is that same sample handed over
// again (a host's block within its reuse time, an image's unchanged file): walking it twice would
// only make every rate 0, so it is not walked.
Snapshot snapshot(bool firstSample) {
    std::u16string objects;
    {
        std::lock_guard guard(samples);
        if (!state.ready) return Snapshot::Failed;
        objects = state.objectsString;
    }
    std::lock_guard queryGuard(queries);
    const std::span<const std::uint8_t> block = query(objects);
    if (block.empty()) return Snapshot::Failed;
    std::lock_guard guard(samples);
    if (block.size() >= pl::kBlockSize) {
        const std::uint64_t time = pl::word64(block, pl::kBlockPerfTime);
        const std::uint64_t time100ns = pl::word64(block, pl::kBlockPerfTime100nSec);
        if (state.walked && time == state.walkedTime && time100ns == state.walked100ns)
            return Snapshot::Same;
        state.walked = true;
        state.walkedTime = time;
        state.walked100ns = time100ns;
    }
    walkLocked(state, block, firstSample);
    return Snapshot::Fresh;
}

const ObjectRecord* objectRecord(std::uint32_t object) {
    return object < kObjectCount ? &state.objects[object] : nullptr;
}

double valueLocked(std::uint32_t object, std::uint32_t position, std::uint32_t instance) {
    const ObjectRecord* o = objectRecord(object);
    if (o == nullptr || o->storage == nullptr || position >= o->counterCount ||
        instance >= o->instanceCount)
        return 0;
    const CounterEntry& entry = o->counters[position];
    const SampleSlot& slot = o->slots(position)[instance];
    CounterInputs in;
    in.v1 = slot.currentValue;
    in.v0 = slot.previousValue;
    in.b1 = slot.currentBase;
    in.b0 = slot.previousBase;
    const bool objectTimer = (entry.counterType & pl::kObjectTimer) != 0;
    in.t1 = objectTimer ? o->currentObjectTime : o->currentBlockTime;
    in.t0 = objectTimer ? o->previousObjectTime : o->previousBlockTime;
    in.n1 = o->current100ns;
    in.n0 = o->previous100ns;
    in.frequency = o->blockFrequency;
    in.objectFrequency = o->objectFrequency;
    in.counterType = entry.counterType;
    return computeCounterValue(in);
}

} // namespace

int loadCounterNames(std::span<const std::uint8_t> counters) {
    std::lock_guard guard(samples);
    ReaderState& s = state;
    s.ready = false; // until the whole table has been read
    bool haveIndex = false;
    std::uint32_t index = 0;
    std::u16string text;
    for (std::size_t at = 0; at + 1 < counters.size(); at += 2) {
        const auto c = static_cast<char16_t>(counters[at] | counters[at + 1] << 8);
        if (c != 0) {
            text.push_back(c);
            continue;
        }
        if (text.empty()) break; // the empty text that ends the list
        if (!haveIndex) {
            index = parseIndex(text);
            if (index == 0 || index == 0xFFFFFFFF) return -1;
            haveIndex = true;
        } else {
            registerName(s, text, index);
            if (text == u"Processor") s.processorObjectIndex = index;
            if (text == u"Memory") s.memoryObjectIndex = index;
            if (text == u"% Processor Time") s.processorTimeIndex = index;
            if (text == u"Available Bytes") s.availableBytesIndex = index;
            haveIndex = false;
        }
        text.clear();
    }
    s.objectsString.clear();
    for (const ObjectRecord& object : s.objects) {
        for (char c : std::to_string(object.titleIndex))
            s.objectsString.push_back(static_cast<char16_t>(c));
        s.objectsString.push_back(u' ');
    }
    s.ready = true;
    return 0;
}

std::u16string_view objectsString() {
    return state.objectsString;
}

int initPerformanceData() {
    using namespace platform;
    KeyHandle perflib = nullptr, language = nullptr;
    int result =
        openKey(kLocalMachine, "Software\\Microsoft\\Windows NT\\CurrentVersion\\Perflib", perflib);
    std::vector<std::uint8_t> names;
    if (result == kErrorSuccess) {
        std::uint32_t type = 0, size = 0;
        std::array<std::uint8_t, 4> last{};
        result = queryValue(perflib, "Last Counter", &type, last, size);
        if (result == kErrorSuccess && type != kRegDword) result = kErrorFileNotFound;
        if (result == kErrorSuccess) result = openKey(perflib, "009", language);
        if (result == kErrorSuccess) {
            result = queryValue(language, "Counters", &type, {}, size);
            if (result == kErrorMoreData || result == kErrorSuccess) {
                names.resize(size);
                result = queryValue(language, "Counters", &type, names, size);
                names.resize(std::min<std::size_t>(size, names.size()));
            }
        }
    }
    if (language != nullptr) closeKey(language);
    if (perflib != nullptr) closeKey(perflib);
    if (result != kErrorSuccess) {
        setLastError(result);
        return -1;
    }
    if (loadCounterNames(names) != 0) return -1;
    std::string narrow;
    for (char16_t c : objectsString())
        narrow.push_back(static_cast<char>(c));
    printText("objectsString is " + narrow + "\n");
    snapshot(true);
    return 0;
}

int takePerformanceSnapshot() {
    return snapshot(false) == Snapshot::Failed ? -1 : 0;
}

void walkPerformanceBlock(std::span<const std::uint8_t> block, bool firstSample) {
    std::lock_guard guard(samples);
    walkLocked(state, block, firstSample);
}

void samplePerformanceLoad(std::span<std::uint8_t, kMaxProcessors> busy,
                           std::uint32_t& processorCount, std::uint8_t& availablePercent) {
    const Snapshot taken = snapshot(false);
    if (taken == Snapshot::Failed) return;
    std::lock_guard guard(samples);
    ReaderState& s = state;
    const std::uint32_t count = std::min<std::uint32_t>(s.processorCount, kMaxProcessors);
    // The same sample again gives the same answer; only a new one moves the comparison on.
    for (std::uint32_t i = 0; i < count && taken == Snapshot::Fresh; ++i) {
        ProcessorSample& p = s.processors[i];
        // 64-bit differences: snapshots minutes apart must not wrap.
        const std::uint64_t dv = p.currentValue - p.previousValue;
        const std::uint64_t dt = p.current100ns - p.previous100ns;
        double value = 0;
        if (dt > dv) value = (1 - static_cast<double>(dv) / static_cast<double>(dt)) * 100 + 0.5;
        s.busy[i] = static_cast<std::uint8_t>(std::min(value, 100.0));
        p.previousValue = p.currentValue;
        p.previous100ns = p.current100ns;
    }
    std::copy_n(s.busy.begin(), count, busy.begin());
    std::uint64_t percent = 0;
    if (s.totalMemory != 0)
        percent = static_cast<std::uint64_t>(static_cast<double>(s.availableBytes) /
                                             static_cast<double>(s.totalMemory) * 100);
    s.availablePercent = static_cast<std::uint8_t>(std::min<std::uint64_t>(percent, 100));
    availablePercent = s.availablePercent;
    processorCount = s.processorCount;
}

void setPerformanceTotalMemory(std::uint64_t bytes) {
    std::lock_guard guard(samples);
    state.totalMemory = bytes;
}

std::uint32_t objectInstanceCount(std::uint32_t object) {
    std::lock_guard guard(samples);
    const ObjectRecord* o = objectRecord(object);
    return o == nullptr ? 0 : o->instanceCount;
}

double counterValue(std::uint32_t object, std::uint32_t position, std::uint32_t instance) {
    std::lock_guard guard(samples);
    return valueLocked(object, position, instance);
}

std::uint32_t systemCounterValue(std::uint32_t position) {
    return counterWord(counterValue(kSystemObject, position, 0));
}

std::uint32_t cacheCounterValue(std::uint32_t position) {
    return counterWord(counterValue(kCacheObject, position, 0));
}

std::uint32_t memoryCounterValue(std::uint32_t position) {
    return counterWord(counterValue(kMemoryObject, position, 0));
}

std::uint32_t processorCounterValue(std::uint32_t position, std::uint32_t instance) {
    return counterWord(counterValue(kProcessorObject, position, instance));
}

std::uint32_t logicalDiskCounterValue(std::uint32_t position, std::uint32_t instance) {
    return counterWord(counterValue(kLogicalDiskObject, position, instance));
}

std::uint32_t physicalDiskCounterValue(std::uint32_t position, std::uint32_t diskNumber) {
    if (diskNumber >= static_cast<std::uint32_t>(std::max(inventory::diskCount, 0)) ||
        diskNumber >= inventory::kDiskLimit)
        return 0;
    if (inventory::disks[diskNumber].unitKind != inventory::kHardDisk) return 0;
    const std::int32_t ordinal = inventory::diskOrdinals[diskNumber];
    if (ordinal < 0) return 0;
    return counterWord(
        counterValue(kPhysicalDiskObject, position, static_cast<std::uint32_t>(ordinal)));
}

void resetPerformanceReader() {
    std::lock_guard queryGuard(queries);
    std::lock_guard guard(samples);
    for (ObjectRecord& object : state.objects)
        releaseStorage(object);
    state = ReaderState{};
    if (queryBuffer != nullptr) runtime::guardedFree(queryBuffer);
    queryBuffer = nullptr;
    queryBufferSize = 0;
}

} // namespace farlink::perf
