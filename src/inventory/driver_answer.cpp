#include "inventory/driver_answer.h"

#include "inventory/dmi.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace farlink::inventory {

std::array<std::uint32_t, 4> driverItemRowCounts{};
std::uint32_t table13FirstRowAbsent = 0;
std::uint32_t table13SecondRowAbsent = 0;
std::array<std::uint8_t, runtime::kConfigurationAnswerSize> configurationAnswer{};
std::uint32_t configurationAnswerLength = 0;
std::uint32_t totalMemory = 0;

namespace {

// Where the fields of the configuration answer lie.
constexpr std::size_t kAnswerKind = 0;
constexpr std::size_t kAnswerVersion = 1;
constexpr std::size_t kAnswerDriverText = 8;
constexpr std::size_t kAnswerDriverTextWidth = 15; // up to the drive type byte
constexpr std::size_t kAnswerDriveType = 23;
constexpr std::size_t kAnswerTotalMemory = 24;
constexpr std::size_t kAnswerSerial1Io = 28;
constexpr std::size_t kAnswerSerial2Io = 30;
constexpr std::size_t kAnswerParallelIo = 32;
constexpr std::size_t kAnswerData = 36;
constexpr std::size_t kAnswerBusTypes = 36;
constexpr std::size_t kAnswerBusTypesWidth = 16; // up to the product name
constexpr std::size_t kAnswerProductName = 52;

// A text of the answer up to its terminator, within `most` bytes and within the answer.
std::string_view answerText(std::span<const std::uint8_t> answer, std::size_t offset,
                            std::size_t most) {
    if (offset >= answer.size()) return {};
    const char* text = reinterpret_cast<const char*>(answer.data() + offset);
    return {text, strnlen(text, std::min(most, answer.size() - offset))};
}

void copyToSummary(std::span<const std::uint8_t> answer, std::size_t offset, SummaryField field) {
    for (std::size_t i = 0; i < field.width; ++i)
        dmiSummary[field.offset + i] = answerByte(answer, offset + i);
}

void setSummaryText(SummaryField field, std::string_view text) {
    inventory::setSummaryText(field, text.data(), text.size());
}

std::string summaryText(SummaryField field) {
    const char* text = reinterpret_cast<const char*>(dmiSummary.data() + field.offset);
    return {text, strnlen(text, field.width - 1)};
}

} // namespace

void takeRowCounts(std::span<const std::uint8_t> answer) {
    for (std::size_t i = 0; i < driverItemRowCounts.size() && i < answer.size(); ++i)
        driverItemRowCounts[i] = answer[i];
}

// The table 13 count comes from one byte, so it can be 0; a row taken away from an empty table
// leaves it empty rather than wrapping to a huge count.
void dropTable13Row(std::uint32_t& absentFlag) {
    absentFlag = 1;
    if (driverItemRowCounts[kTable13] > 0) --driverItemRowCounts[kTable13];
}

AnswerSummary summarizeConfigurationAnswer(std::span<const std::uint8_t> answer) {
    setSummaryText(kSummaryDriverText,
                   answerText(answer, kAnswerDriverText, kAnswerDriverTextWidth));
    copyToSummary(answer, kAnswerDriveType, kSummaryDriveType);
    copyToSummary(answer, kAnswerSerial1Io, kSummarySerial1Io);
    copyToSummary(answer, kAnswerSerial2Io, kSummarySerial2Io);
    copyToSummary(answer, kAnswerParallelIo, kSummaryParallelIo);

    if (answerByte(answer, kAnswerKind) == 0) {
        // The older driver has no DMI data: it names its buses, its model and the memory itself;
        // the summary carries the total as well, so that every reader of it sees the same.
        setSummaryText(kSummaryBusTypes, answerText(answer, kAnswerBusTypes, kAnswerBusTypesWidth));
        setSummaryText(kSummaryProductName, answerText(answer, kAnswerProductName, answer.size()));
        copyToSummary(answer, kAnswerTotalMemory, kSummaryTotalMemory);
        return {true, "N/A"};
    }

    const std::span<const std::uint8_t> data =
        answer.size() > kAnswerData ? answer.subspan(kAnswerData) : std::span<const std::uint8_t>{};
    if ((answerByte(answer, kAnswerVersion) >> 4) >= 2) {
        parseDmiTable(data.empty() ? nullptr : data.data(), data.size());
    } else {
        for (std::size_t i = 0; i < kSummarySize; ++i)
            dmiSummary[i] = answerByte(data, i);
    }
    return {false, summaryText(kSummaryProductName)};
}

std::uint32_t summaryTotalMemory() {
    std::uint32_t total = 0;
    std::memcpy(&total, dmiSummary.data() + kSummaryTotalMemory.offset, sizeof total);
    return total;
}

} // namespace farlink::inventory
