// Finding the installed network adapters at start-up: the NetworkCards keys, each adapter's
// device, its static facts and the statistics its poller will query.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace farlink::adapters {

inline constexpr std::uint32_t kIoctlNdisQueryGlobalStats = 0x00170002;

inline constexpr std::uint32_t kOidSupportedList = 0x00010101;
inline constexpr std::uint32_t kOidHardwareStatus = 0x00010102;
inline constexpr std::uint32_t kOidMediaInUse = 0x00010103;
inline constexpr std::uint32_t kOidVendorDescription = 0x0001010D;
inline constexpr std::uint32_t kOid8023PermanentAddress = 0x01010101;
inline constexpr std::uint32_t kOid8025PermanentAddress = 0x02010101;
inline constexpr std::uint32_t kOid8025CurrentRingStatus = 0x02010106;

// Walks NetworkCards and opens each usable card's device; returns the number opened (at most
// 8), which is also stored as the NIC count.
int discoverAdapters();

// One NDIS query on adapter `adapter`'s device: false without a call when the adapter does not
// exist. A caller that needs n bytes must also check `returned`.
bool adapterQuery(int adapter, std::uint32_t oid, std::span<std::uint8_t> output,
                  std::uint32_t& returned);

// Whether a poller keeps an OID of the supported list: the statistics of the general and 802.3
// families, and of 802.5 with its ring status.
bool polledOid(std::uint32_t oid);

// The polled OID list of the adapter from its supported list; false when that cannot be read.
bool buildPolledOidList(int adapter);

// The adapter's record: resources, media, address, vendor text and title; false when its
// resource key or a query fails (the record keeps what was stored before).
bool fillAdapterRecord(int adapter);

// Discovery, records and one poller per adapter: 1, or 0 when a poller could not be started
// (reported).
int initNic();

// Closes every adapter device and forgets the cards, records and counters, as at process start.
void resetAdapters();

} // namespace farlink::adapters
