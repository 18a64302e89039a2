// The names of the private MIB, group by group in registry order. A column's description says
// what the agent answers there, including the values that only stand in for data it has not got.
#include "mib/object_names.h"

#include <array>

namespace farlink::mib {

namespace {

using C = ColumnName;

// ---- Storage (.1) --------------------------------------------------------------------------

constexpr C kStorageScalars[] = {
    {2, "farlinkStorageAdapterCount", "", "Number of rows of farlinkStorageAdapterTable."},
    {4, "farlinkDiskCount", "", "Number of rows of farlinkDiskTable."},
    {6, "farlinkDiskRowCount", "",
     "Number of rows of farlinkDiskTable, again: always equal to "
     "farlinkDiskCount."},
};

constexpr C kDriveTypes[] = {
    {1, "farlinkDriveTypeIndex", "",
     "1 for the drive type in the high 4 bits of the firmware's drive type byte, 2 for the low "
     "4 bits."},
    {2, "farlinkDriveTypeCode", "", "The 4-bit drive type code the firmware reports."},
};

constexpr C kStorageAdapters[] = {
    {1, "farlinkStorageAdapterIndex", "", "The adapter's row number, from 0."},
    {2, "farlinkStorageAdapterReserved1", "", "Reserved: always 0.", "Integer32 (0..12)"},
    {3, "farlinkStorageAdapterBusCount", "",
     "Number of SCSI buses of a SCSI adapter; 0 for any other adapter.", "Integer32 (0..3)"},
    {4, "farlinkStorageAdapterBusType", "",
     "1 for a SCSI miniport adapter, 2 for a primary (ATA) disk adapter."},
    {5, "farlinkStorageAdapterDriver", "", "The name of the adapter's driver."},
    {6, "farlinkStorageAdapterPortBase", "", "The first I/O port the driver holds; 0 for none."},
    {7, "farlinkStorageAdapterIrq", "", "The interrupt level the driver holds."},
    {8, "farlinkStorageAdapterMemoryBase", "",
     "The start of the memory range the driver holds; 0 for none."},
    {9, "farlinkStorageAdapterDmaChannel", "", "The DMA channel the driver holds."},
    {10, "farlinkStorageAdapterReserved2", "", "Reserved: always N/A."},
    {11, "farlinkStorageAdapterDevice", "",
     "The adapter's device name (ScsiPort0, ...); N/A when it is not known."},
    {12, "farlinkStorageAdapterReserved3", "", "Reserved: always 0."},
    {13, "farlinkStorageAdapterInitiatorId", "",
     "The SCSI ID of the adapter itself on its first bus; -1 when not known.", "Integer32 (-1..7)"},
};

constexpr C kDisks[] = {
    {1, "farlinkDiskIndex", "", "The disk's row number, from 0."},
    {2, "farlinkDiskAdapterIndex", "", "farlinkStorageAdapterIndex of the disk's adapter."},
    {3, "farlinkDiskReserved", "", "Reserved: always 0.", "Integer32 (0..12)"},
    {4, "farlinkDiskBus", "", "The number of the SCSI bus the disk is on.",
     "Integer32 (-128..127)"},
    {5, "farlinkDiskTargetId", "", "The disk's SCSI target ID.", "Integer32 (-128..127)"},
    {6, "farlinkDiskIdentifier", "", "The identifier text the disk reports."},
    {7, "farlinkDiskSizeKB", "KB",
     "The disk's size (a signed 32-bit number: 2 TiB and more reads negative); 0 for a CD-ROM."},
    {8, "farlinkDiskProduct", "", "The disk's product text."},
    {9, "farlinkDiskSerialNumber", "", "The disk's serial number."},
    {10, "farlinkDiskBusType", "", "IDE or SCSI.", "DisplayString (SIZE (3..4))"},
    {11, "farlinkDiskReservedText", "", "Reserved: always empty."},
    {12, "farlinkDiskTimePercent", "%",
     "Share of the last sampling period the disk was busy; 0 for a CD-ROM."},
    {13, "farlinkDiskSecPerTransfer", "seconds",
     "Average time of a transfer over the last sampling period, in whole seconds; 0 for a "
     "CD-ROM."},
    {14, "farlinkDiskTransfersPerSec", "", "Transfers per second; 0 for a CD-ROM."},
    {15, "farlinkDiskBytesPerSec", "", "Bytes read and written per second; 0 for a CD-ROM."},
    {16, "farlinkDiskUnitKind", "", "1 for a hard disk, 2 for a CD-ROM."},
};

// ---- Network adapters (.2) -----------------------------------------------------------------

constexpr C kNicScalars[] = {
    {1, "farlinkAdapterCount", "", "Number of network adapters (rows of farlinkAdapterTable)."},
    {6, "farlinkAdapterBytesDefault", "",
     "The threshold of every byte counter; a SET applies it to every adapter."},
    {7, "farlinkAdapterPacketsDefault", "",
     "The threshold of every frame counter; a SET applies it to every adapter."},
    {8, "farlinkAdapterFaultsDefault", "",
     "The threshold of every error counter; a SET applies it to every adapter."},
};

constexpr C kAdapters[] = {
    {1, "farlinkAdapterIndex", "", "The adapter's row number, from 0."},
    {2, "farlinkAdapterReserved", "", "Reserved: always 0."},
    {3, "farlinkAdapterPortBase", "", "The adapter's first I/O port; 0 for none."},
    {4, "farlinkAdapterDmaChannel", "", "The adapter's DMA channel; 255 for none.",
     "Integer32 (0..255)"},
    {5, "farlinkAdapterIrq", "", "The adapter's interrupt level."},
    {6, "farlinkAdapterMemoryBase", "", "The start of the adapter's memory range; 0 for none."},
    {7, "farlinkAdapterVendor", "", "The vendor's description of the adapter."},
    {8, "farlinkAdapterTitle", "", "The adapter's title."},
    {9, "farlinkAdapterReservedText", "", "Reserved: always empty."},
    {10, "farlinkAdapterMediaName", "", "The name of the medium the adapter uses."},
    {11, "farlinkAdapterAddress", "",
     "The adapter's permanent address as 12 upper-case hexadecimal digits."},
    {12, "farlinkAdapterMediaCode", "",
     "1 for 802.3 (Ethernet), 2 for 802.5 (Token Ring), else "
     "0."},
};

// The statistics tables and their threshold tables share a column layout: a threshold column is
// named after its counter with Limit added.
constexpr C kGeneralStatistics[] = {
    {1, "farlinkGenTxOk", "",
     "Counter of frames sent without error, as last polled; -1 before the first poll."},
    {2, "farlinkGenRxOk", "",
     "Counter of frames received without error, as last polled; -1 before the first poll."},
    {3, "farlinkGenTxErrors", "",
     "Counter of frames that failed to be sent, as last polled; -1 before the first poll."},
    {4, "farlinkGenRxErrors", "",
     "Counter of frames received with errors, as last polled; -1 before the first poll."},
    {5, "farlinkGenRxNoBuffer", "",
     "Counter of frames lost for want of a buffer, as last polled; -1 before the first poll."},
    {6, "farlinkGenTxDirectedBytes", "",
     "Counter of bytes sent in directed frames, as last polled; -1 before the first poll."},
    {7, "farlinkGenTxDirectedFrames", "",
     "Counter of directed frames sent, as last polled; -1 before the first poll."},
    {8, "farlinkGenTxMulticastBytes", "",
     "Counter of bytes sent in multicast frames, as last polled; -1 before the first poll."},
    {9, "farlinkGenTxMulticastFrames", "",
     "Counter of multicast frames sent, as last polled; -1 before the first poll."},
    {10, "farlinkGenTxBroadcastBytes", "",
     "Counter of bytes sent in broadcast frames, as last polled; -1 before the first poll."},
    {11, "farlinkGenTxBroadcastFrames", "",
     "Counter of broadcast frames sent, as last polled; -1 before the first poll."},
    {12, "farlinkGenRxDirectedBytes", "",
     "Counter of bytes received in directed frames, as last polled; -1 before the first poll."},
    {13, "farlinkGenRxDirectedFrames", "",
     "Counter of directed frames received, as last polled; -1 before the first poll."},
    {14, "farlinkGenRxMulticastBytes", "",
     "Counter of bytes received in multicast frames, as last polled; -1 before the first poll."},
    {15, "farlinkGenRxMulticastFrames", "",
     "Counter of multicast frames received, as last polled; -1 before the first poll."},
    {16, "farlinkGenRxBroadcastBytes", "",
     "Counter of bytes received in broadcast frames, as last polled; -1 before the first poll."},
    {17, "farlinkGenRxBroadcastFrames", "",
     "Counter of broadcast frames received, as last polled; -1 before the first poll."},
    {18, "farlinkGenRxCrcErrors", "",
     "Counter of frames received with a CRC error, as last polled; -1 before the first poll."},
    {19, "farlinkGenTxQueueLength", "",
     "Counter of frames waiting to be sent, as last polled; -1 before the first poll."},
};
constexpr C kGeneralThresholds[] = {
    {1, "farlinkGenTxOkLimit", "",
     "Growth per second of the counter of frames sent without error above which a threshold "
     "message is written."},
    {2, "farlinkGenRxOkLimit", "",
     "Growth per second of the counter of frames received without error above which a threshold "
     "message is written."},
    {3, "farlinkGenTxErrorsLimit", "",
     "Growth per second of the counter of frames that failed to be sent above which a threshold "
     "message is written."},
    {4, "farlinkGenRxErrorsLimit", "",
     "Growth per second of the counter of frames received with errors above which a threshold "
     "message is written."},
    {5, "farlinkGenRxNoBufferLimit", "",
     "Growth per second of the counter of frames lost for want of a buffer above which a threshold "
     "message is written."},
    {6, "farlinkGenTxDirectedBytesLimit", "",
     "Growth per second of the counter of bytes sent in directed frames above which a threshold "
     "message is written."},
    {7, "farlinkGenTxDirectedFramesLimit", "",
     "Growth per second of the counter of directed frames sent above which a threshold message is "
     "written."},
    {8, "farlinkGenTxMulticastBytesLimit", "",
     "Growth per second of the counter of bytes sent in multicast frames above which a threshold "
     "message is written."},
    {9, "farlinkGenTxMulticastFramesLimit", "",
     "Growth per second of the counter of multicast frames sent above which a threshold message is "
     "written."},
    {10, "farlinkGenTxBroadcastBytesLimit", "",
     "Growth per second of the counter of bytes sent in broadcast frames above which a threshold "
     "message is written."},
    {11, "farlinkGenTxBroadcastFramesLimit", "",
     "Growth per second of the counter of broadcast frames sent above which a threshold message is "
     "written."},
    {12, "farlinkGenRxDirectedBytesLimit", "",
     "Growth per second of the counter of bytes received in directed frames above which a "
     "threshold message is written."},
    {13, "farlinkGenRxDirectedFramesLimit", "",
     "Growth per second of the counter of directed frames received above which a threshold message "
     "is written."},
    {14, "farlinkGenRxMulticastBytesLimit", "",
     "Growth per second of the counter of bytes received in multicast frames above which a "
     "threshold message is written."},
    {15, "farlinkGenRxMulticastFramesLimit", "",
     "Growth per second of the counter of multicast frames received above which a threshold "
     "message is written."},
    {16, "farlinkGenRxBroadcastBytesLimit", "",
     "Growth per second of the counter of bytes received in broadcast frames above which a "
     "threshold message is written."},
    {17, "farlinkGenRxBroadcastFramesLimit", "",
     "Growth per second of the counter of broadcast frames received above which a threshold "
     "message is written."},
    {18, "farlinkGenRxCrcErrorsLimit", "",
     "Growth per second of the counter of frames received with a CRC error above which a threshold "
     "message is written."},
    {19, "farlinkGenTxQueueLengthLimit", "",
     "Growth per second of the counter of frames waiting to be sent above which a threshold "
     "message is written."},
};
constexpr C kEtherStatistics[] = {
    {1, "farlinkEtherAlignErrors", "",
     "Counter of frames received with an alignment error, as last polled; -1 on an adapter of "
     "another medium."},
    {2, "farlinkEtherOneCollision", "",
     "Counter of frames sent after exactly one collision, as last polled; -1 on an adapter of "
     "another medium."},
    {3, "farlinkEtherMoreCollisions", "",
     "Counter of frames sent after more than one collision, as last polled; -1 on an adapter of "
     "another medium."},
    {4, "farlinkEtherDeferred", "",
     "Counter of frames sent after a deferral, as last polled; -1 on an adapter of another "
     "medium."},
    {5, "farlinkEtherMaxCollisions", "",
     "Counter of frames not sent for too many collisions, as last polled; -1 on an adapter of "
     "another medium."},
    {6, "farlinkEtherRxOverrun", "",
     "Counter of frames lost to a receive overrun, as last polled; -1 on an adapter of another "
     "medium."},
    {7, "farlinkEtherTxUnderrun", "",
     "Counter of frames lost to a transmit underrun, as last polled; -1 on an adapter of another "
     "medium."},
    {8, "farlinkEtherHeartbeatErrors", "",
     "Counter of frames sent without a heartbeat, as last polled; -1 on an adapter of another "
     "medium."},
    {9, "farlinkEtherCarrierLost", "",
     "Counter of frames sent while the carrier was lost, as last polled; -1 on an adapter of "
     "another medium."},
    {10, "farlinkEtherLateCollisions", "",
     "Counter of late collisions, as last polled; -1 on an adapter of another medium."},
};
constexpr C kEtherThresholds[] = {
    {1, "farlinkEtherAlignErrorsLimit", "",
     "Growth per poll of the counter of frames received with an alignment error above which a "
     "threshold message is written; -1 on an adapter of another medium."},
    {2, "farlinkEtherOneCollisionLimit", "",
     "Growth per poll of the counter of frames sent after exactly one collision above which a "
     "threshold message is written; -1 on an adapter of another medium."},
    {3, "farlinkEtherMoreCollisionsLimit", "",
     "Growth per poll of the counter of frames sent after more than one collision above which a "
     "threshold message is written; -1 on an adapter of another medium."},
    {4, "farlinkEtherDeferredLimit", "",
     "Growth per poll of the counter of frames sent after a deferral above which a threshold "
     "message is written; -1 on an adapter of another medium."},
    {5, "farlinkEtherMaxCollisionsLimit", "",
     "Growth per poll of the counter of frames not sent for too many collisions above which a "
     "threshold message is written; -1 on an adapter of another medium."},
    {6, "farlinkEtherRxOverrunLimit", "",
     "Growth per poll of the counter of frames lost to a receive overrun above which a threshold "
     "message is written; -1 on an adapter of another medium."},
    {7, "farlinkEtherTxUnderrunLimit", "",
     "Growth per poll of the counter of frames lost to a transmit underrun above which a threshold "
     "message is written; -1 on an adapter of another medium."},
    {8, "farlinkEtherHeartbeatErrorsLimit", "",
     "Growth per poll of the counter of frames sent without a heartbeat above which a threshold "
     "message is written; -1 on an adapter of another medium."},
    {9, "farlinkEtherCarrierLostLimit", "",
     "Growth per poll of the counter of frames sent while the carrier was lost above which a "
     "threshold message is written; -1 on an adapter of another medium."},
    {10, "farlinkEtherLateCollisionsLimit", "",
     "Growth per poll of the counter of late collisions above which a threshold message is "
     "written; -1 on an adapter of another medium."},
};
constexpr C kRingStatistics[] = {
    {1, "farlinkRingAcErrors", "",
     "Counter of A/C errors, as last polled; -1 on an adapter of another medium."},
    {2, "farlinkRingAbortDelimiters", "",
     "Counter of abort delimiters sent, as last polled; -1 on an adapter of another medium."},
    {3, "farlinkRingBurstErrors", "",
     "Counter of burst errors, as last polled; -1 on an adapter of another medium."},
    {4, "farlinkRingFrameCopyErrors", "",
     "Counter of frame-copied errors, as last polled; -1 on an adapter of another medium."},
    {5, "farlinkRingFrequencyErrors", "",
     "Counter of frequency errors, as last polled; -1 on an adapter of another medium."},
    {6, "farlinkRingInternalErrors", "",
     "Counter of internal errors, as last polled; -1 on an adapter of another medium."},
    {7, "farlinkRingStatus", "",
     "The current ring status, as last polled; -1 on an adapter of another medium."},
    {8, "farlinkRingLineErrors", "",
     "Counter of line errors, as last polled; -1 on an adapter of another medium."},
    {9, "farlinkRingLostFrames", "",
     "Counter of lost frames, as last polled; -1 on an adapter of another medium."},
    {10, "farlinkRingTokenErrors", "",
     "Counter of token errors, as last polled; -1 on an adapter of another medium."},
};
constexpr C kRingThresholds[] = {
    {1, "farlinkRingAcErrorsLimit", "",
     "Growth per poll of the counter of A/C errors above which a threshold message is written; -1 "
     "on an adapter of another medium."},
    {2, "farlinkRingAbortDelimitersLimit", "",
     "Growth per poll of the counter of abort delimiters sent above which a threshold message is "
     "written; -1 on an adapter of another medium."},
    {3, "farlinkRingBurstErrorsLimit", "",
     "Growth per poll of the counter of burst errors above which a threshold message is written; "
     "-1 on an adapter of another medium."},
    {4, "farlinkRingFrameCopyErrorsLimit", "",
     "Growth per poll of the counter of frame-copied errors above which a threshold message is "
     "written; -1 on an adapter of another medium."},
    {5, "farlinkRingFrequencyErrorsLimit", "",
     "Growth per poll of the counter of frequency errors above which a threshold message is "
     "written; -1 on an adapter of another medium."},
    {6, "farlinkRingInternalErrorsLimit", "",
     "Growth per poll of the counter of internal errors above which a threshold message is "
     "written; -1 on an adapter of another medium."},
    {7, "farlinkRingStatusLimit", "",
     "Change per poll of the ring status above which a threshold message is written; -1 on an "
     "adapter of another medium."},
    {8, "farlinkRingLineErrorsLimit", "",
     "Growth per poll of the counter of line errors above which a threshold message is written; -1 "
     "on an adapter of another medium."},
    {9, "farlinkRingLostFramesLimit", "",
     "Growth per poll of the counter of lost frames above which a threshold message is written; -1 "
     "on an adapter of another medium."},
    {10, "farlinkRingTokenErrorsLimit", "",
     "Growth per poll of the counter of token errors above which a threshold message is written; "
     "-1 on an adapter of another medium."},
};

// ---- System resources (.3) -----------------------------------------------------------------

constexpr C kResourceScalars[] = {
    {3, "farlinkPortRangeCount", "", "Number of I/O port ranges drivers hold now (at most 64)."},
    {6, "farlinkMemoryModuleCount", "", "Number of memory modules the firmware counts."},
    {8, "farlinkResourceValue", "", "A value the KORU driver reports; 0 without one."},
    {9, "farlinkResourceVersion", "", "The version of these groups: 1.0."},
    {10, "farlinkResourceReserved", "", "Reserved: always N/A."},
    {11, "farlinkResourceText1", "", "A text the KORU driver reports; empty without one."},
    {12, "farlinkResourceText2", "", "A text the KORU driver reports; empty without one."},
    {13, "farlinkResourceText3", "", "A text the KORU driver reports; empty without one."},
    {14, "farlinkMemoryRangeCount", "", "Number of memory ranges drivers hold now (at most 64)."},
};

constexpr C kInterrupts[] = {
    {1, "farlinkIrqLevel", "", "The interrupt level."},
    {2, "farlinkIrqOwner", "",
     "The driver that holds the level now; Reserved with its terminating zero byte when none "
     "does.",
     "OCTET STRING (SIZE (0..255))"},
};

constexpr C kDmaChannels[] = {
    {1, "farlinkDmaChannel", "", "The DMA channel."},
    {2, "farlinkDmaOwner", "",
     "The driver that holds the channel now; None with its terminating zero byte when none does.",
     "OCTET STRING (SIZE (0..255))"},
};

constexpr C kPortRanges[] = {
    {1, "farlinkPortRangeIndex", "", "The range's row number, from 0."},
    {2, "farlinkPortRangeStart", "", "The first port of the range."},
    {3, "farlinkPortRangeEnd", "", "The last port of the range."},
    {4, "farlinkPortRangeOwner", "", "The driver that holds the range."},
};

constexpr C kEisaSlots[] = {
    {1, "farlinkEisaSlotNumber", "",
     "The slot's number as the KORU driver reports it; 0 without "
     "a driver.",
     "Integer32 (0..9)"},
    {2, "farlinkEisaSlotType", "",
     "The slot's type as the KORU driver reports it; 0 without a "
     "driver.",
     "Integer32 (0..5)"},
    {3, "farlinkEisaSlotId", "", "Not reported: always N/A."},
};

constexpr C kModuleSizes[] = {
    {1, "farlinkModuleSizeIndex", "", "The module's number, from 1."},
    {2, "farlinkModuleSize", "",
     "The module's size, right-aligned in 4 characters, such as  8M or 128M."},
};

constexpr C kMemoryRanges[] = {
    {1, "farlinkMemoryRangeIndex", "", "The range's row number, from 0."},
    {2, "farlinkMemoryRangeStart", "", "The first address of the range."},
    {3, "farlinkMemoryRangeLength", "", "The length of the range in bytes."},
    {4, "farlinkMemoryRangeOwner", "", "The driver that holds the range."},
};

// ---- System (.4) ---------------------------------------------------------------------------

constexpr C kSystemScalars[] = {
    {1, "farlinkSystemProduct", "", "The server's product name."},
    {2, "farlinkSystemOs", "", "The operating system and its version."},
    {3, "farlinkSystemBusTypes", "", "The server's bus types."},
    {4, "farlinkSystemProcessor", "", "The processor and its speed."},
    {5, "farlinkSystemCacheSize", "KB", "The processor cache."},
    {6, "farlinkSystemExternalCache", "KB",
     "The external cache of a processor without caches of its own; else 0."},
    {7, "farlinkSystemMemory", "bytes", "The server's memory; 4 GiB and more reads -1 (all ones)."},
    {8, "farlinkSystemFreeMemory", "bytes", "The memory available now."},
    {9, "farlinkSystemSerialPort1", "", "The first serial port: type, connector and address."},
    {10, "farlinkSystemSerialPort2", "", "The second serial port: type, connector and address."},
    {11, "farlinkSystemParallelPort", "", "The parallel port: type, connector and address."},
    {12, "farlinkSystemKeyboard", "", "The keyboard connector."},
    {13, "farlinkSystemDriverText", "", "The firmware's driver text."},
    {14, "farlinkSystemMouse", "", "The mouse connector."},
    {15, "farlinkSystemBiosVersion", "", "The BIOS version."},
    {16, "farlinkSystemComputerName", "", "The server's computer name."},
    {17, "farlinkSystemUptime", "",
     "Time since the server started, as days, hours, minutes "
     "and seconds."},
    {19, "farlinkSystemDescription", "",
     "The server's description, kept by the in-band agent (one value carries up to 80 bytes)."},
    {20, "farlinkSystemFixedDrives", "", "Number of fixed drives."},
    {22, "farlinkSystemVolumeCount", "",
     "Number of fixed volumes (rows of farlinkVolumeTable): the same as "
     "farlinkSystemFixedDrives."},
    {27, "farlinkPollingInterval", "seconds",
     "Time between two polls of the network adapters' counters."},
    {28, "farlinkVolumeUsageDefault", "%",
     "The volume usage threshold; a SET gives it to every volume as well."},
    {29, "farlinkSystemProcessorCount", "", "Number of processors."},
    {39, "farlinkAgentPassword", "", "The agent's password text."},
    {42, "farlinkLinkModeA", "",
     "Written only: a SET answers with 4 bytes telling how the request reached the agent; a read "
     "answers the request's own value."},
    {43, "farlinkLinkModeB", "", "Written only, as farlinkLinkModeA."},
    {44, "farlinkTemperatureLowLimit", "0.1 degrees Celsius",
     "The lower temperature limit held by the KORU driver."},
    {45, "farlinkTemperatureHighLimit", "0.1 degrees Celsius",
     "The upper temperature limit held by the KORU driver."},
    {46, "farlinkProcessorLimit", "%", "The processor load threshold."},
    {47, "farlinkIoBusLimit", "", "The I/O bus threshold, handed to the KORU driver as well."},
    {48, "farlinkMemoryLimit", "%", "The memory threshold."},
    {51, "farlinkSystemAddress1", "", "Not served."},
    {52, "farlinkSystemAddress2", "", "Not served."},
    {56, "farlinkAgentUserKnown", "", "1 when the agent knows the account it runs under, else 0."},
    {58, "farlinkAgentUserKnown2", "", "The same as farlinkAgentUserKnown.", "Integer32 (0..1)"},
    {59, "farlinkAgentUserKnown3", "", "The same as farlinkAgentUserKnown."},
    {61, "farlinkActiveDriverCount", "",
     "Number of drivers that were active at the agent's "
     "start (rows of farlinkDriverTable)."},
};

constexpr C kContacts[] = {
    {1, "farlinkContactName", "", "The administrator's name."},
    {2, "farlinkContactOfficePhone", "", "The administrator's office phone."},
    {3, "farlinkContactOfficeAddress", "", "The administrator's office address."},
    {4, "farlinkContactHomePhone", "", "The administrator's home phone."},
    {5, "farlinkContactHomeAddress", "", "The administrator's home address."},
    {6, "farlinkContactPager", "", "The administrator's pager."},
    {7, "farlinkContactEmail", "", "The administrator's e-mail address."},
    {8, "farlinkContactIndex", "", "The contact's row number, from 0."},
};

constexpr C kVolumes[] = {
    {1, "farlinkVolumeIndex", "", "The volume's row number, from 0, in drive letter order."},
    {2, "farlinkVolumeLabel", "", "The drive letter, a colon, a blank and the volume's name."},
    {3, "farlinkVolumeSizeKB", "KB", "The volume's size."},
    {4, "farlinkVolumeFreeKB", "KB", "The volume's free space."},
    {5, "farlinkVolumeClusters", "", "The volume's clusters."},
    {6, "farlinkVolumeFreeClusters", "", "The volume's free clusters."},
    {7, "farlinkVolumeUsageLimit", "%", "The volume's usage threshold."},
};

constexpr C kUnserved[] = {
    {1, "farlinkUnservedValue1", "", "Not served."},
    {2, "farlinkUnservedValue2", "", "Not served."},
    {3, "farlinkUnservedValue3", "", "Not served."},
    {4, "farlinkUnservedValue4", "", "Not served."},
    {5, "farlinkUnservedValue5", "", "Not served."},
    {6, "farlinkUnservedText", "", "Not served."},
    {7, "farlinkUnservedSetting", "", "Not served."},
};

constexpr C kProcessors[] = {
    {1, "farlinkProcessorIndex", "", "The processor's number, from 0."},
    {2, "farlinkProcessorLoad", "%", "Share of the last sampling period the processor was busy."},
    {3, "farlinkProcessorLoadLimit", "%", "The processor load threshold."},
    {4, "farlinkProcessorTemperature", "degrees Celsius",
     "The KORU driver's temperature reading for processors 0 to 3; 0 for the others."},
    {5, "farlinkProcessorTempLowLimit", "0.1 degrees Celsius",
     "The lower temperature limit; a SET changes it only together with the upper one."},
    {6, "farlinkProcessorTempHighLimit", "0.1 degrees Celsius",
     "The upper temperature limit; a SET changes it only together with the lower one."},
    {7, "farlinkProcessorReading", "0.1 degrees Celsius",
     "The KORU driver's second reading for processors 0 to 3; 0 for the others."},
    {8, "farlinkProcessorReserved", "", "Reserved: always -1.", "Integer32 (-1..1)"},
    {9, "farlinkProcessorPrivilegedTime", "%", "Share of time in privileged mode."},
    {10, "farlinkProcessorUserTime", "%", "Share of time in user mode."},
    {11, "farlinkProcessorInterruptTime", "%", "Share of time serving interrupts."},
};

// DMI: the firmware's own structures, values as it codes them.
constexpr C kDmiScalars[] = {
    {1, "farlinkBiosVendor", "", "The BIOS vendor."},
    {2, "farlinkBiosVersion", "", "The BIOS version."},
    {3, "farlinkBiosStartSegment", "", "The segment the BIOS starts at."},
    {4, "farlinkBiosReleaseDate", "", "The BIOS release date."},
    {5, "farlinkBiosRomSize", "", "The BIOS ROM size code: (n + 1) * 64 KB."},
    {6, "farlinkBiosCharacteristicsLow", "", "BIOS characteristics bits 0 to 31."},
    {7, "farlinkBiosCharacteristicsHigh", "", "BIOS characteristics bits 32 to 63."},
    {8, "farlinkSysManufacturer", "", "The system's manufacturer."},
    {9, "farlinkSysProductName", "", "The system's product name."},
    {10, "farlinkSysVersion", "", "The system's version."},
    {11, "farlinkSysSerialNumber", "", "The system's serial number."},
    {12, "farlinkBoardManufacturer", "", "The base board's manufacturer."},
    {13, "farlinkBoardProduct", "", "The base board's product."},
    {14, "farlinkBoardVersion", "", "The base board's version."},
    {15, "farlinkBoardSerialNumber", "", "The base board's serial number."},
    {16, "farlinkMemCtlErrorDetection", "", "The memory controller's error detecting method."},
    {17, "farlinkMemCtlErrorCorrection", "",
     "The memory controller's error correcting "
     "capability."},
    {18, "farlinkMemCtlInterleaveSupport", "", "The supported interleave."},
    {19, "farlinkMemCtlInterleave", "", "The current interleave."},
    {20, "farlinkMemCtlMaxModuleSize", "", "The largest memory module, as 2 to the power n MB."},
    {21, "farlinkMemCtlSpeeds", "", "The supported memory speeds (bits)."},
    {22, "farlinkMemCtlTypes", "", "The supported memory types (bits)."},
    {23, "farlinkMemCtlVoltage", "", "The memory module voltage (bits)."},
    {24, "farlinkMemCtlSlotCount", "", "Number of memory slots of the controller."},
    {25, "farlinkDmiProcessorCount", "", "Number of rows of farlinkDmiProcessorTable."},
    {26, "farlinkDmiMemoryModuleCount", "", "Number of rows of farlinkDmiMemoryModuleTable."},
    {27, "farlinkDmiCacheCount", "", "Number of rows of farlinkDmiCacheTable."},
    {28, "farlinkDmiPortConnectorCount", "", "Number of rows of farlinkDmiPortConnectorTable."},
    {29, "farlinkDmiSystemSlotCount", "", "Number of rows of farlinkDmiSystemSlotTable."},
    {30, "farlinkDmiOnBoardDeviceCount", "", "Number of rows of farlinkDmiOnBoardDeviceTable."},
    {31, "farlinkDmiOemStringCount", "", "Number of rows of farlinkDmiOemStringTable."},
};

constexpr C kDmiProcessors[] = {
    {1, "farlinkDmiProcSocket", "", "The processor's socket designation."},
    {2, "farlinkDmiProcType", "", "The processor type code."},
    {3, "farlinkDmiProcFamily", "", "The processor family code."},
    {4, "farlinkDmiProcManufacturer", "", "The processor's manufacturer."},
    {5, "farlinkDmiProcId", "", "The processor ID: always answered empty.",
     "OCTET STRING (SIZE (0 | 8))"},
    {6, "farlinkDmiProcVersion", "", "The processor's version."},
    {7, "farlinkDmiProcVoltage", "", "The processor voltage code."},
    {8, "farlinkDmiProcExternalClock", "MHz", "The external clock."},
    {9, "farlinkDmiProcMaxSpeed", "MHz", "The highest speed."},
    {10, "farlinkDmiProcCurrentSpeed", "MHz", "The current speed."},
    {11, "farlinkDmiProcStatus", "", "The processor status code."},
    {12, "farlinkDmiProcUpgrade", "", "The processor upgrade code."},
};

constexpr C kDmiMemoryModules[] = {
    {1, "farlinkDmiModuleSocket", "", "The module's socket designation."},
    {2, "farlinkDmiModuleBanks", "", "The module's bank connections."},
    {3, "farlinkDmiModuleSpeed", "ns", "The module's current speed."},
    {4, "farlinkDmiModuleType", "", "The module's current memory type (bits)."},
    {5, "farlinkDmiModuleInstalledSize", "", "The installed size code."},
    {6, "farlinkDmiModuleEnabledSize", "", "The enabled size code."},
    {7, "farlinkDmiModuleErrorStatus", "", "The module's error status."},
};

constexpr C kDmiCaches[] = {
    {1, "farlinkDmiCacheSocket", "", "The cache's socket designation."},
    {2, "farlinkDmiCacheConfiguration", "", "The cache configuration code."},
    {3, "farlinkDmiCacheMaxSize", "", "The largest cache size code."},
    {4, "farlinkDmiCacheInstalledSize", "", "The installed size code."},
    {5, "farlinkDmiCacheSramSupport", "", "The supported SRAM types (bits)."},
    {6, "farlinkDmiCacheSramType", "", "The current SRAM type (bits)."},
};

constexpr C kDmiPortConnectors[] = {
    {1, "farlinkDmiPortInternalRef", "", "The internal reference designator."},
    {2, "farlinkDmiPortInternalType", "", "The internal connector type code."},
    {3, "farlinkDmiPortExternalRef", "", "The external reference designator."},
    {4, "farlinkDmiPortExternalType", "", "The external connector type code."},
    {5, "farlinkDmiPortType", "", "The port type code."},
};

constexpr C kDmiSystemSlots[] = {
    {1, "farlinkDmiSlotDesignation", "", "The slot's designation."},
    {2, "farlinkDmiSlotType", "", "The slot type code."},
    {3, "farlinkDmiSlotDataBusWidth", "", "The data bus width code."},
    {4, "farlinkDmiSlotUsage", "", "The current usage code."},
    {5, "farlinkDmiSlotLength", "", "The slot length code."},
    {6, "farlinkDmiSlotId", "", "The slot ID."},
    {7, "farlinkDmiSlotCharacteristics", "", "The slot characteristics (bits)."},
};

constexpr C kDmiOnBoardDevices[] = {
    {1, "farlinkDmiDeviceType", "", "The device type code; bit 7 set when the device is enabled."},
    {2, "farlinkDmiDeviceDescription", "", "The device's description."},
};

constexpr C kDmiOemStrings[] = {
    {1, "farlinkDmiOemString", "", "The text."},
};

// Performance figures, from the system's own counters.
constexpr C kNoData[] = {
    {1, "farlinkNoDataAddress", "", "Not served: every read answers noSuchName."},
};

constexpr C kAccount[] = {
    {1, "farlinkAccountName", "",
     "The account the agent runs under, with its terminating zero "
     "byte.",
     "OCTET STRING (SIZE (0..255))"},
    {2, "farlinkAccountDomain", "", "Not reported: always N/A."},
};

constexpr C kDrivers[] = {
    {1, "farlinkDriverName", "", "The driver's service name."},
    {2, "farlinkDriverDisplayName", "", "The driver's display name."},
};

constexpr C kPaging[] = {
    {1, "farlinkPagingInputPerSec", "", "Pages read from disk per second."},
    {2, "farlinkPagingInputScaled", "", "Pages read from disk per second, times 512."},
    {3, "farlinkPagingOutputPerSec", "", "Pages written to disk per second."},
    {4, "farlinkPagingOutputScaled", "", "Pages written to disk per second, times 512."},
    {5, "farlinkPagingFaultsPerSec", "", "Page faults per second."},
    {6, "farlinkPagingCopyReadHits", "%", "Copy reads the file cache answered."},
    {7, "farlinkPagingDataMapHits", "%", "Data maps the file cache answered."},
};

constexpr C kSystemCounters[] = {
    {1, "farlinkSysProcessorTime", "%", "All processors' busy time."},
    {2, "farlinkSysPrivilegedTime", "%", "All processors' time in privileged mode."},
    {3, "farlinkSysUserTime", "%", "All processors' time in user mode."},
    {4, "farlinkSysInterruptTime", "%", "All processors' time serving interrupts."},
    {5, "farlinkSysInterruptsPerSec", "", "Interrupts per second."},
    {6, "farlinkSysContextSwitchesPerSec", "", "Context switches per second."},
    {7, "farlinkSysExceptionsPerSec", "", "Exception dispatches per second."},
    {8, "farlinkSysSystemCallsPerSec", "", "System calls per second."},
    {9, "farlinkSysFileControlOpsPerSec", "", "File control operations per second."},
    {10, "farlinkSysFileControlBytesPerSec", "", "Bytes of file control operations per second."},
    {11, "farlinkSysFileDataOpsPerSec", "", "File read and write operations per second."},
    {12, "farlinkSysFileReadOpsPerSec", "", "File read operations per second."},
    {13, "farlinkSysFileWriteOpsPerSec", "", "File write operations per second."},
    {14, "farlinkSysFileReadBytesPerSec", "", "Bytes read from files per second."},
    {15, "farlinkSysFileWriteBytesPerSec", "", "Bytes written to files per second."},
};

constexpr C kCacheCounters[] = {
    {1, "farlinkCacheCopyReadHits", "%", "Copy reads the file cache answered."},
    {2, "farlinkCacheCopyReadsPerSec", "", "Copy reads per second."},
    {3, "farlinkCacheDataMapHits", "%", "Data maps the file cache answered."},
    {4, "farlinkCacheDataMapsPerSec", "", "Data maps per second."},
    {5, "farlinkCacheDataFlushesPerSec", "", "Data flushes per second."},
    {6, "farlinkCacheFlushPagesPerSec", "", "Not counted: always 0."},
    {7, "farlinkCacheLazyFlushesPerSec", "", "Not counted: always 0."},
    {8, "farlinkCacheLazyPagesPerSec", "", "Not counted: always 0."},
};

constexpr C kMemoryCounters[] = {
    {1, "farlinkMemPageFaultsPerSec", "", "Page faults per second."},
    {2, "farlinkMemTransitionFaultsPerSec", "", "Transition faults per second."},
    {3, "farlinkMemWriteCopiesPerSec", "", "Copy-on-write faults per second."},
    {4, "farlinkMemPageReadsPerSec", "", "Page reads from disk per second."},
    {5, "farlinkMemPageWritesPerSec", "", "Page writes to disk per second."},
    {6, "farlinkMemPagesInputPerSec", "", "Pages read from disk per second."},
    {7, "farlinkMemPagesOutputPerSec", "", "Pages written to disk per second."},
    {8, "farlinkMemPagesPerSec", "", "Pages read and written per second."},
    {9, "farlinkMemSystemCodeBytes", "bytes", "Pageable system code."},
    {10, "farlinkMemSystemDriverBytes", "bytes", "Pageable driver code."},
};

constexpr C kPhysicalDisks[] = {
    {1, "farlinkPhysDiskIndex", "", "The disk's row number, from 0."},
    {2, "farlinkPhysDiskReadBytesTrend", "",
     "Running value of farlinkPhysDiskReadBytesPerSec, moved each time that is read."},
    {3, "farlinkPhysDiskWriteBytesTrend", "",
     "Running value of farlinkPhysDiskWriteBytesPerSec, moved each time that is read."},
    {4, "farlinkPhysDiskBytesTrend", "",
     "Running value of farlinkPhysDiskBytesPerSec, moved each time that is read."},
    {5, "farlinkPhysDiskReadsTrend", "",
     "Running value of farlinkPhysDiskReadsPerSec, moved each time that is read."},
    {6, "farlinkPhysDiskWritesTrend", "",
     "Running value of farlinkPhysDiskWritesPerSec, moved each time that is read."},
    {7, "farlinkPhysDiskTransfersTrend", "",
     "Running value of farlinkPhysDiskTransfersPerSec, moved each time that is read."},
    {8, "farlinkPhysDiskReadBytesPerSec", "", "Bytes read per second."},
    {9, "farlinkPhysDiskWriteBytesPerSec", "", "Bytes written per second."},
    {10, "farlinkPhysDiskBytesPerSec", "", "Bytes read and written per second."},
    {11, "farlinkPhysDiskReadsPerSec", "", "Reads per second."},
    {12, "farlinkPhysDiskWritesPerSec", "", "Writes per second."},
    {13, "farlinkPhysDiskTransfersPerSec", "", "Reads and writes per second."},
};

constexpr C kLogicalDisks[] = {
    {1, "farlinkLogDiskIndex", "", "The volume's row number, from 0."},
    {2, "farlinkLogDiskBytesPerRead", "", "Average bytes per read."},
    {3, "farlinkLogDiskBytesPerWrite", "", "Average bytes per write."},
    {4, "farlinkLogDiskBytesPerTransfer", "", "Average bytes per read or write."},
    {5, "farlinkLogDiskSecPerRead", "seconds", "Average time of a read, in whole seconds."},
    {6, "farlinkLogDiskSecPerWrite", "seconds", "Average time of a write, in whole seconds."},
    {7, "farlinkLogDiskSecPerTransfer", "seconds",
     "Average time of a transfer, in whole "
     "seconds."},
    {8, "farlinkLogDiskReadBytesPerSec", "", "Bytes read per second."},
    {9, "farlinkLogDiskWriteBytesPerSec", "", "Bytes written per second."},
    {10, "farlinkLogDiskBytesPerSec", "", "Bytes read and written per second."},
    {11, "farlinkLogDiskReadsPerSec", "", "Reads per second."},
    {12, "farlinkLogDiskWritesPerSec", "", "Writes per second."},
    {13, "farlinkLogDiskTransfersPerSec", "", "Reads and writes per second."},
};

// ---- KORU driver (.5) ----------------------------------------------------------------------

constexpr C kDriverInformation[] = {
    {1, "farlinkKoruInterfaceLevel", "", "The driver interface level this agent speaks: 2."},
    {2, "farlinkKoruConfiguration", "", "The configuration byte the driver reports."},
    {3, "farlinkKoruVersion", "",
     "The driver's version times 100 (350 for 3.5); 0 for a driver "
     "of the older kind."},
    {5, "farlinkKoruPollInterval", "seconds", "The driver's polling interval: 120."},
};

constexpr C kDriverItemCounts[] = {
    {1, "farlinkFanCount", "", "Number of rows of farlinkFanTable."},
    {2, "farlinkTemperatureCount", "", "Number of rows of farlinkTemperatureTable."},
    {3, "farlinkVoltageCount", "", "Number of rows of farlinkVoltageTable."},
    {4, "farlinkSensorCount", "", "Number of rows of farlinkSensorTable."},
};

constexpr C kFans[] = {
    {1, "farlinkFanName", "", "The fan's name."},
    {2, "farlinkFanSpeed", "RPM", "The fan's speed."},
};

constexpr C kTemperatures[] = {
    {1, "farlinkTemperatureName", "", "The sensor's name."},
    {2, "farlinkTemperature", "degrees Celsius", "The temperature."},
};

constexpr C kVoltages[] = {
    {1, "farlinkVoltageName", "", "The supply's name."},
    {2, "farlinkVoltage", "mV", "The voltage now."},
    {3, "farlinkVoltageLow", "mV", "The lowest voltage in range."},
    {4, "farlinkVoltageHigh", "mV", "The highest voltage in range."},
    {5, "farlinkVoltageNominal", "mV", "The nominal voltage."},
};

constexpr C kSensors[] = {
    {1, "farlinkSensorName", "", "The sensor's name."},
    {2, "farlinkSensorState", "", "The sensor's state."},
};

// ---- Events (.7) ---------------------------------------------------------------------------

constexpr C kThresholdMessage[] = {
    {1, "farlinkThresholdMessage", "",
     "The last network adapter threshold message; empty before the first."},
};

constexpr C kEventActions[] = {
    {1, "farlinkEventNumber", "", "The event's number."},
    {2, "farlinkEventAction", "", "What is done when the event happens."},
    {3, "farlinkEventProgram", "", "The program started for the event."},
    {4, "farlinkEventPager", "", "The pager called for the event."},
};

constexpr std::string_view kStorage = "Storage";
constexpr std::string_view kNetwork = "Network adapters";
constexpr std::string_view kResources = "System resources";
constexpr std::string_view kSystem = "System";
constexpr std::string_view kDriver = "KORU driver";
constexpr std::string_view kEvents = "Events";

constexpr std::array<GroupName, kGroupCount> kGroups = {{
    /*  0 */ {"farlinkStorage", "", "Storage", kStorage, kStorageScalars},
    /*  1 */
    {"farlinkDriveTypeEntry", "farlinkDriveTypeTable", "Drive types", kStorage, kDriveTypes},
    /*  2 */
    {"farlinkStorageAdapterEntry", "farlinkStorageAdapterTable", "Storage adapters", kStorage,
     kStorageAdapters},
    /*  3 */ {"farlinkDiskEntry", "farlinkDiskTable", "Disks", kStorage, kDisks},
    /*  4 */ {"farlinkNetwork", "", "Network adapters", kNetwork, kNicScalars},
    /*  5 */ {"farlinkAdapterEntry", "farlinkAdapterTable", "Adapters", kNetwork, kAdapters},
    /*  6 */
    {"farlinkGenStatsEntry", "farlinkGenStatsTable", "General statistics", kNetwork,
     kGeneralStatistics, "farlinkGenStatsAdapter", true},
    /*  7 */
    {"farlinkGenLimitEntry", "farlinkGenLimitTable", "General thresholds", kNetwork,
     kGeneralThresholds, "farlinkGenLimitAdapter"},
    /*  8 */
    {"farlinkEtherStatsEntry", "farlinkEtherStatsTable", "Ethernet statistics", kNetwork,
     kEtherStatistics, "farlinkEtherStatsAdapter", true},
    /*  9 */
    {"farlinkEtherLimitEntry", "farlinkEtherLimitTable", "Ethernet thresholds", kNetwork,
     kEtherThresholds, "farlinkEtherLimitAdapter"},
    /* 10 */
    {"farlinkRingStatsEntry", "farlinkRingStatsTable", "Token Ring statistics", kNetwork,
     kRingStatistics, "farlinkRingStatsAdapter", true},
    /* 11 */
    {"farlinkRingLimitEntry", "farlinkRingLimitTable", "Token Ring thresholds", kNetwork,
     kRingThresholds, "farlinkRingLimitAdapter"},
    /* 12 */ {"farlinkResources", "", "System resources", kResources, kResourceScalars},
    /* 13 */ {"farlinkIrqEntry", "farlinkIrqTable", "Interrupt levels", kResources, kInterrupts},
    /* 14 */ {"farlinkDmaEntry", "farlinkDmaTable", "DMA channels", kResources, kDmaChannels},
    /* 15 */
    {"farlinkPortRangeEntry", "farlinkPortRangeTable", "I/O port ranges", kResources, kPortRanges},
    /* 16 */
    {"farlinkEisaSlotEntry", "farlinkEisaSlotTable", "EISA slots", kResources, kEisaSlots,
     "farlinkEisaSlotInstance"},
    /* 17 */
    {"farlinkModuleSizeEntry", "farlinkModuleSizeTable", "Memory module sizes", kResources,
     kModuleSizes},
    /* 18 */
    {"farlinkMemoryRangeEntry", "farlinkMemoryRangeTable", "Memory ranges", kResources,
     kMemoryRanges},
    /* 19 */ {"farlinkSystem", "", "System", kSystem, kSystemScalars},
    /* 20 */
    {"farlinkContactEntry", "farlinkContactTable", "Administrator contact", kSystem, kContacts},
    /* 21 */ {"farlinkVolumeEntry", "farlinkVolumeTable", "Fixed volumes", kSystem, kVolumes},
    /* 22 */
    {"farlinkUnservedEntry", "farlinkUnservedTable", "Not served", kSystem, kUnserved},
    /* 23 */
    {"farlinkProcessorEntry", "farlinkProcessorTable", "Processors", kSystem, kProcessors},
    /* 24 */
    {"farlinkDmi", "", "DMI: BIOS, system, board, memory controller", kSystem, kDmiScalars},
    /* 25 */
    {"farlinkDmiProcessorEntry", "farlinkDmiProcessorTable", "DMI processors", kSystem,
     kDmiProcessors, "farlinkDmiProcessorInstance"},
    /* 26 */
    {"farlinkDmiMemoryModuleEntry", "farlinkDmiMemoryModuleTable", "DMI memory modules", kSystem,
     kDmiMemoryModules, "farlinkDmiMemoryModuleInstance"},
    /* 27 */
    {"farlinkDmiCacheEntry", "farlinkDmiCacheTable", "DMI caches", kSystem, kDmiCaches,
     "farlinkDmiCacheInstance"},
    /* 28 */
    {"farlinkDmiPortConnectorEntry", "farlinkDmiPortConnectorTable", "DMI port connectors", kSystem,
     kDmiPortConnectors, "farlinkDmiPortConnectorInstance"},
    /* 29 */
    {"farlinkDmiSystemSlotEntry", "farlinkDmiSystemSlotTable", "DMI system slots", kSystem,
     kDmiSystemSlots, "farlinkDmiSystemSlotInstance"},
    /* 30 */
    {"farlinkDmiOnBoardDeviceEntry", "farlinkDmiOnBoardDeviceTable", "DMI on-board devices",
     kSystem, kDmiOnBoardDevices, "farlinkDmiOnBoardDeviceInstance"},
    /* 31 */
    {"farlinkDmiOemStringEntry", "farlinkDmiOemStringTable", "DMI OEM strings", kSystem,
     kDmiOemStrings, "farlinkDmiOemStringInstance"},
    /* 32 */
    {"farlinkNoDataEntry", "farlinkNoDataTable", "No data", kSystem, kNoData,
     "farlinkNoDataInstance"},
    /* 33 */
    {"farlinkAccountEntry", "farlinkAccountTable", "Agent account", kSystem, kAccount,
     "farlinkAccountInstance"},
    /* 34 */
    {"farlinkDriverEntry", "farlinkDriverTable", "Active drivers", kSystem, kDrivers,
     "farlinkDriverInstance"},
    /* 35 */ {"farlinkPaging", "", "Paging", kSystem, kPaging},
    /* 36 */ {"farlinkSysCounters", "", "System counters", kSystem, kSystemCounters, {}, true},
    /* 37 */ {"farlinkCacheCounters", "", "File cache counters", kSystem, kCacheCounters, {}, true},
    /* 38 */ {"farlinkMemCounters", "", "Memory counters", kSystem, kMemoryCounters},
    /* 39 */
    {"farlinkPhysDiskEntry", "farlinkPhysDiskTable", "Physical disk counters", kSystem,
     kPhysicalDisks},
    /* 40 */
    {"farlinkLogDiskEntry", "farlinkLogDiskTable", "Logical disk counters", kSystem, kLogicalDisks},
    /* 41 */ {"farlinkKoru", "", "KORU driver", kDriver, kDriverInformation},
    /* 42 */ {"farlinkKoruItems", "", "KORU driver readings", kDriver, kDriverItemCounts},
    /* 43 */
    {"farlinkFanEntry", "farlinkFanTable", "Fans", kDriver, kFans, "farlinkFanInstance"},
    /* 44 */
    {"farlinkTemperatureEntry", "farlinkTemperatureTable", "Temperatures", kDriver, kTemperatures,
     "farlinkTemperatureInstance"},
    /* 45 */
    {"farlinkVoltageEntry", "farlinkVoltageTable", "Voltages", kDriver, kVoltages,
     "farlinkVoltageInstance"},
    /* 46 */
    {"farlinkSensorEntry", "farlinkSensorTable", "Sensors", kDriver, kSensors,
     "farlinkSensorInstance"},
    /* 47 */ {"farlinkEvents", "", "Events", kEvents, kThresholdMessage},
    /* 48 */
    {"farlinkEventActionEntry", "farlinkEventActionTable", "Event actions", kEvents, kEventActions,
     "farlinkEventActionInstance"},
}};

constexpr std::uint32_t kAdapterCountersSuffix[] = {2, 5};
constexpr std::uint32_t kCountersSuffix[] = {4, 65};

constexpr SubtreeName kSubtrees[] = {
    {kAdapterCountersSuffix, "farlinkAdapterCounters",
     "Network adapter statistics and "
     "thresholds"},
    {kCountersSuffix, "farlinkCounters", "Performance counters"},
};

} // namespace

const GroupName& groupName(std::size_t group) {
    return kGroups[group];
}

const ColumnName* columnName(std::size_t group, std::uint32_t column) {
    if (group >= kGroups.size()) return nullptr;
    for (const ColumnName& c : kGroups[group].columns)
        if (c.column == column) return &c;
    return nullptr;
}

bool instanceIsColumn(const snmp::GroupDescriptor& group) {
    if (group.indexCount == 0) return false;
    const snmp::ColumnRecord& index = group.indexRecords[0];
    const snmp::ColumnRecord& column = group.column(index.column);
    return column.column == index.column && column.syntax == index.syntax &&
           column.valueTag == index.valueTag && column.minimum == index.minimum &&
           column.maximum == index.maximum && column.flags == index.flags;
}

std::span<const SubtreeName> subtreeNames() {
    return kSubtrees;
}

} // namespace farlink::mib
