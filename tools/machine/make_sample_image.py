#!/usr/bin/env python3
"""Writes the sample machine image: a dual-processor server with a KORU driver of the newer
kind, whose configuration answer carries the firmware's DMI structures.

Run it from anywhere; it rewrites machines/sample/ in the repository (or the directory given as
its only argument). The files are committed, so a change here is followed by a run and a commit
of what it wrote.
"""

import os
import struct
import sys

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


class StructureTable:
    """DMI structures laid end to end, each with its own string set."""

    def __init__(self):
        self.data = bytearray()
        self.handle = 0

    def add(self, kind, formatted, texts=(), string_set=True):
        """formatted: the bytes after the four-byte header; texts: the string set in order."""
        length = 4 + len(formatted)
        assert length <= 255
        self.data += struct.pack("<BBH", kind, length, self.handle) + bytes(formatted)
        self.handle += 1
        if not string_set:
            # The memory controller is read without a string set: the next structure follows
            # its formatted area at once.
            assert not texts
            return
        if texts:
            for text in texts:
                encoded = text.encode("ascii")
                assert b"\0" not in encoded
                self.data += encoded + b"\0"
            self.data += b"\0"
        else:
            self.data += b"\0\0"


def u8(*values):
    return struct.pack("<%dB" % len(values), *values)


def u16(*values):
    return struct.pack("<%dH" % len(values), *values)


def u32(*values):
    return struct.pack("<%dI" % len(values), *values)


def smbios_table():
    t = StructureTable()

    # BIOS: vendor, version, start segment, release date, ROM size, characteristics.
    characteristics = 0
    for bit in (4, 7, 9, 10, 11, 12, 15, 16):  # ISA, PCI, PnP, APM, flash, shadowing, CD, boot
        characteristics |= 1 << bit
    t.add(0, u8(1, 2) + u16(0xE000) + u8(3, 3) + u32(characteristics, 0),
          ["Northgate Firmware", "4.51 PG", "04/15/99"])

    # System: manufacturer, product, version, serial number.
    t.add(1, u8(1, 2, 3, 4), ["Tessel Systems", "ServerView 440BX", "1.0", "TS-0471123"])

    # Base board: its product is the name the configuration's "driver" key must equal.
    t.add(2, u8(1, 2, 3, 4), ["Tessel Systems", "SV-440BX", "Rev. C", "BB-77321"])

    # Two central processors (type 3), family 11, 450 MHz of 500, 100 MHz bus. The first ID
    # byte 0x52 gives the model nibble 0x50, which needs no voltage request.
    for socket in ("CPU 1", "CPU 2"):
        processor_id = u8(0x52, 0x06, 0x00, 0x00, 0xFF, 0xF9, 0x83, 0x01)
        t.add(4, u8(1, 3, 11, 2) + processor_id + u8(3, 0x94) + u16(100, 500, 450)
              + u8(0x41, 0x08),
              [socket, "GenuineIntel", "Pentium II"])

    # Memory controller: 64-bit ECC, single-bit correction, one-way interleave, 128 MB modules
    # at most, 60 ns, DIMM SDRAM, 3.3 V, four slots with their module handles.
    t.add(5, u8(0x06, 0x08, 0x03, 0x03, 7) + u16(0x0008, 0x0500) + u8(0x02, 4)
          + u16(6, 7, 8, 9), string_set=False)

    # Four 64 MB modules in two banks: bank 1 and bank 2 hold 128 MB each, 256 MB in all.
    for socket, bank in (("DIMM0", 0x0F), ("DIMM1", 0x0F), ("DIMM2", 0x1F), ("DIMM3", 0x1F)):
        t.add(6, u8(1, bank, 60) + u16(0x0500) + u8(6, 6, 0), [socket])

    # Caches: 16 KB internal level 1, 512 KB external level 2 (location bits 5-6 = 1).
    t.add(7, u8(1) + u16(0x0180, 0x0010, 0x0010, 0x0020, 0x0020), ["L1 Cache"])
    t.add(7, u8(1) + u16(0x01A1, 0x0200, 0x0200, 0x0010, 0x0010), ["L2 Cache"])

    # Port connectors: internal designator, internal type, external designator, external
    # type, port type.
    for internal, external, connector, port in (
        ("J12", "Keyboard", 15, 13),   # PS/2 keyboard
        ("J13", "PS/2 Mouse", 15, 14),  # PS/2 mouse
        ("J9", "Parallel", 5, 5),       # DB25 female, ECP/EPP
        ("J10", "COM1", 8, 9),          # DB9 male, 16550A
        ("J11", "COM2", 8, 9),
    ):
        t.add(8, u8(1, 0, 2, connector, port), [internal, external])

    # Slots: designation, type, bus width, usage, length, slot ID, characteristics.
    for name, kind, width, usage, slot_id, flags in (
        ("PCI1", 0x06, 0x05, 0x04, 1, 0x06),
        ("PCI2", 0x06, 0x05, 0x03, 2, 0x06),
        ("ISA1", 0x03, 0x04, 0x03, 0, 0x02),
    ):
        t.add(9, u8(1, kind, width, usage, 0x04) + u16(slot_id) + u8(flags), [name])

    # On-board devices (bit 7: enabled): video, SCSI, ethernet.
    t.add(10, u8(0x83, 1, 0x84, 2, 0x85, 3),
          ["Onboard VGA", "Ultra2 SCSI", "10/100 Ethernet"])

    # OEM strings; the count byte is not read, the string set is.
    t.add(11, u8(2), ["Tessel Systems ServerView", "Asset tag 000-4711"])

    # BIOS language: one installable language, the current one is text 1.
    t.add(13, u8(1, 0) + bytes(15) + u8(1), ["en|US|iso8859-1"])

    # The end marker.
    t.add(255, b"")
    return bytes(t.data)


def configuration_answer():
    head = bytearray(36)
    head[0] = 1          # newer driver: a summary record or DMI structures from byte 36
    head[1] = 0x21       # version 2.1: raw DMI structures
    head[2] = 0x12       # driver build
    text = b"KORU 2.1"
    head[8:8 + len(text)] = text
    head[23] = 0x40      # drive types: first drive 4 (3.5" 1.44 MB), second none
    struct.pack_into("<HHH", head, 28, 0x3F8, 0x2F8, 0x378)
    return bytes(head) + smbios_table()


def eisa_answer():
    entries = [
        (0x0E11A010, 1, 1),  # an EISA board in slot 1
        (0x00000000, 2, 5),  # slot 2: an ISA board
        (0x0E11A011, 20, 1),  # no such slot: the agent ignores it
    ]
    data = u32(len(entries))
    for identifier, slot, kind in entries:
        data += u32(identifier, slot, kind) + bytes(80)
    return data


def item_list(rows):
    """byte 0, one 32-bit offset per row, then per row its name and 32-bit values."""
    offsets = []
    body = bytearray()
    start = 1 + 4 * len(rows)
    for name, values in rows:
        offsets.append(start + len(body))
        body += name.encode("ascii") + b"\0" + u32(*values)
    data = u8(len(rows)) + u32(*offsets) + bytes(body)
    assert len(data) <= 400
    return data


ITEM_TABLES = {
    # code: rows; tables 11, 12 and 14 carry one value a row, table 13 four.
    0x8000208C: [("Fan 1", (3400,)), ("Fan 2", (3350,)), ("Fan 3", (3420,))],
    0x80002084: [("CPU 1 Temp", (45,)), ("CPU 2 Temp", (47,))],
    0x80002088: [("+5V", (5020, 4750, 5250, 5000)), ("+12V", (12100, 11400, 12600, 12000)),
                 ("Vcore", (2010, 1900, 2100, 2000))],
    0x80002090: [("Chassis Intrusion", (0,)), ("Power Supply", (1,))],
}


# The resource map: which driver holds which ports, interrupts, memory ranges and DMA channels,
# as the system records it under HARDWARE\RESOURCEMAP, one CM_RESOURCE_LIST per device.
INTERFACE_ISA, INTERFACE_PCI = 1, 5
SHARE_EXCLUSIVE, SHARE_SHARED = 1, 3


def port(start, length):
    return struct.pack("<BBHQI", 1, SHARE_EXCLUSIVE, 0x0001, start, length)  # flag: I/O space


def interrupt(level, vector=None, affinity=0xFFFFFFFF, pci=False):
    """ISA interrupts are latched and the driver's own; PCI ones level-sensitive and shared."""
    vector = level if vector is None else vector
    share, flags = (SHARE_SHARED, 0x0000) if pci else (SHARE_EXCLUSIVE, 0x0001)
    return struct.pack("<BBHIII", 2, share, flags, level, vector, affinity)


def memory(start, length):
    return struct.pack("<BBHQI", 3, SHARE_EXCLUSIVE, 0x0000, start, length)  # read-write


def dma(channel):
    return struct.pack("<BBHIII", 4, SHARE_EXCLUSIVE, 0, channel, 0, 0)


def device_specific(data):
    return struct.pack("<BBHIII", 5, 0, 0, len(data), 0, 0) + bytes(data)


def resource_list(*fulls):
    """fulls: (interface type, bus number, [partial descriptors]) per full descriptor."""
    data = u32(len(fulls))
    for interface, bus, partials in fulls:
        data += u32(interface, bus) + u16(1, 1) + u32(len(partials)) + b"".join(partials)
    return data


def isa(*partials):
    return resource_list((INTERFACE_ISA, 0, list(partials)))


# Keys in walk order: path below RESOURCEMAP and its values (name, list). The HAL's and the
# firmware's own resources lie in the two keys the agent passes by; the legacy devices, the
# serial and floppy drivers, the disk adapters, a network card and the video card are drivers.
RESOURCE_MAP = [
    ("Hardware Abstraction Layer\\PC Compatible Eisa/Isa HAL",
     [(".Raw", isa(port(0x20, 2), port(0xA0, 2), port(0x4D0, 2), interrupt(2)))]),
    ("System Resources\\Physical Memory",
     [(".Translated", isa(memory(0x1000, 0x9E000), memory(0x100000, 0xFF00000))),
      (".Raw", isa(memory(0x1000, 0x9E000), memory(0x100000, 0xFF00000)))]),
    ("System Devices\\Timer", [("\\Device\\Timer.Raw", isa(port(0x40, 4), interrupt(0)))]),
    ("System Devices\\Real Time Clock",
     [("\\Device\\Rtc.Raw", isa(port(0x70, 2), interrupt(8)))]),
    ("System Devices\\DMA Controller",
     [("\\Device\\Dma.Raw", isa(port(0x00, 0x10), port(0x80, 0x10), port(0xC0, 0x20), dma(4)))]),
    ("KeyboardPort\\i8042prt",
     [("\\Device\\KeyboardPort0.Raw", isa(port(0x60, 1), port(0x64, 1), interrupt(1))),
      ("\\Device\\PointerPort0.Raw", isa(interrupt(12)))]),
    # Each port with its raw list and the translated one beside it, which holds vectors.
    ("LOADED SERIAL DRIVER RESOURCES\\Serial",
     [("\\Device\\Serial0.Raw", isa(port(0x3F8, 8), interrupt(4))),
      ("\\Device\\Serial0.Translated", isa(port(0x3F8, 8), interrupt(4, 0x34, 1))),
      ("\\Device\\Serial1.Raw", isa(port(0x2F8, 8), interrupt(3))),
      ("\\Device\\Serial1.Translated", isa(port(0x2F8, 8), interrupt(3, 0x33, 1)))]),
    ("OtherDrivers\\Floppy",
     [("\\Device\\Floppy0.Raw", isa(port(0x3F0, 6), port(0x3F7, 1), interrupt(6), dma(2)))]),
    ("OtherDrivers\\Parport",
     [("\\Device\\ParallelPort0.Raw", isa(port(0x378, 3), interrupt(7)))]),
    # A PCI network card: its I/O and memory windows, its interrupt, and the slot data the bus
    # driver keeps with them.
    ("OtherDrivers\\E100B",
     [("\\Device\\E100B1.Raw", resource_list(
         (INTERFACE_PCI, 0, [port(0xEC00, 0x20), memory(0xFEBFF000, 0x1000),
                             interrupt(11, pci=True),
                             device_specific(u32(0x12298086, 0x0008, 0x00000201))])))]),
    ("ScsiAdapter\\atapi",
     [("\\Device\\ScsiPort0.Raw", isa(port(0x1F0, 8), port(0x3F6, 1), interrupt(14))),
      ("\\Device\\ScsiPort1.Raw", isa(port(0x170, 8), port(0x376, 1), interrupt(15)))]),
    ("ScsiAdapter\\aic78xx",
     [("\\Device\\ScsiPort2.Raw", resource_list(
         (INTERFACE_PCI, 0, [port(0xE800, 0x100), memory(0xFEBFE000, 0x1000),
                             interrupt(10, pci=True)])))]),
    # The video card: the VGA ranges on the ISA side, its PCI windows on the other, one of them
    # a 64-bit window above 4 GiB.
    ("VIDEO\\mga64",
     [("\\Device\\Video0.Raw", resource_list(
         (INTERFACE_ISA, 0, [port(0x3B0, 0xC), port(0x3C0, 0x20), memory(0xA0000, 0x20000)]),
         (INTERFACE_PCI, 0, [memory(0xF4000000, 0x1000000), memory(0x200000000, 0x1000000),
                             memory(0xF8000000, 0x4000)])))]),
]


def reg_hex_value(name, value_type, data):
    """One value as regedit writes it: a hex list broken after a comma before column 80, each
    further line indented by two blanks."""
    quoted = '"%s"' % name.replace("\\", "\\\\").replace('"', '\\"')
    line = "%s=hex(%x):" % (quoted, value_type)
    lines = []
    for i, byte in enumerate(data):
        item = "%02x" % byte + ("," if i + 1 < len(data) else "")
        if len(line) + len(item) > 77 and i > 0:
            lines.append(line + "\\")
            line = "  "
        line += item
    lines.append(line)
    return "\r\n".join(lines)


def resource_map_reg():
    """The resource map as regedit exports it (REGEDIT4), with CR LF line ends."""
    root = "HKEY_LOCAL_MACHINE\\HARDWARE\\RESOURCEMAP"
    out = ["REGEDIT4", "", "[%s]" % root, ""]
    for path, values in RESOURCE_MAP:
        out.append("[%s\\%s]" % (root, path))
        for name, data in values:
            out.append(reg_hex_value(name, 8, data))
        out.append("")
    return ("\r\n".join(out) + "\r\n").encode("ascii")


# The storage: the IDE disk of a primary disk driver, the two IDE channels of the atapi miniport
# (whose resource lists the resource map above holds) and a SCSI adapter with two disks and a
# CD-ROM. The disks are matched with the physical drives in the order the agent finds them: the
# IDE disk first (PhysicalDrive0), then the SCSI disks (PhysicalDrive1 and 2); the CD-ROM has no
# drive of its own.
STORAGE_KEYS = [
    # The primary disk driver holds no resources of its own here: atapi drives the channel.
    ("HARDWARE\\RESOURCEMAP\\OtherDrivers\\atdisk", []),
    ("SYSTEM\\CurrentControlSet\\Services\\atdisk", [("Group", "Primary Disk")]),
    ("HARDWARE\\DEVICEMAP\\atdisk\\Controller0\\Disk0",
     [("Identifier", "QUARRY  QD8400A IDE DISK"), ("SerialNumber", "QA7731-0042")]),
    ("SYSTEM\\CurrentControlSet\\Services\\atapi", [("Group", "SCSI miniport")]),
    ("SYSTEM\\CurrentControlSet\\Services\\aic78xx", [("Group", "SCSI Miniport")]),
    ("HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port 0", [("Driver", "atapi"), ("DeviceName", "ScsiPort0")]),
    ("HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port 0\\Scsi Bus 0", []),
    ("HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port 1", [("Driver", "atapi"), ("DeviceName", "ScsiPort1")]),
    ("HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port 1\\Scsi Bus 0", []),
    ("HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port 2",
     [("Driver", "aic78xx"), ("DeviceName", "ScsiPort2")]),
    ("HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port 2\\Scsi Bus 0\\Initiator Id 7", []),
    ("HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port 2\\Scsi Bus 0\\Target Id 0\\Logical Unit Id 0",
     [("Identifier", "QUARRY  QD9100LW ULTRA2 0142"), ("Type", "DiskPeripheral")]),
    ("HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port 2\\Scsi Bus 0\\Target Id 1\\Logical Unit Id 0",
     [("Identifier", "QUARRY  QX3000LW ULTRA3 0210"), ("Type", "DiskPeripheral")]),
    ("HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port 2\\Scsi Bus 0\\Target Id 4\\Logical Unit Id 0",
     [("Identifier", "TESSEL  CDR-3200S SCSI  1.10"), ("Type", "CdRomPeripheral")]),
]

# PhysicalDriveN: cylinders, tracks per cylinder, sectors per track, bytes per sector. The third
# holds 3 TiB, more than 32-bit sector arithmetic can count.
DRIVE_GEOMETRY = [
    (1024, 255, 63, 512),    # the IDE disk, 8 GB
    (1106, 255, 63, 512),    # the first SCSI disk, 9 GB
    (401024, 255, 63, 512),  # the second SCSI disk, 3 TiB
]


def storage_reg():
    """The storage keys as regedit exports them (REGEDIT4), with CR LF line ends."""
    def quoted(text):
        return '"%s"' % text.replace("\\", "\\\\").replace('"', '\\"')

    out = ["REGEDIT4", ""]
    for path, values in STORAGE_KEYS:
        out.append("[HKEY_LOCAL_MACHINE\\%s]" % path)
        for name, text in values:
            out.append("%s=%s" % (quoted(name), quoted(text)))
        out.append("")
    return ("\r\n".join(out) + "\r\n").encode("ascii")


def disk_geometry(cylinders, tracks, sectors, bytes_per_sector):
    """The answer to the drive geometry request: DISK_GEOMETRY, a fixed hard disk (media 12)."""
    return struct.pack("<qIIII", cylinders, 12, tracks, sectors, bytes_per_sector)


# The performance data: the server's counter name table under Perflib, and one block of its
# performance data in the published PERF_DATA_BLOCK layout, taken ten minutes after boot. The
# agent's first snapshot compares it with nothing, so every rate below is its count over the
# 600 seconds and every share its part of the ten minutes: the values a manager reads are the
# round numbers in the comments.
PERF_SECONDS = 600
PERF_FREQ = 1000                          # PerfTime counts milliseconds
PERF_100NS = PERF_SECONDS * 10_000_000    # PerfTime100nSec

# This server numbers its names in its own order: the agent finds every index in the table.
PERF_NAMES = [
    "System", "% Total Processor Time", "% Total Privileged Time", "% Total User Time",
    "% Total Interrupt Time", "Total Interrupts/sec", "Context Switches/sec",
    "Exception Dispatches/sec", "System Calls/sec", "File Control Operations/sec",
    "File Control Bytes/sec", "File Data Operations/sec", "File Read Operations/sec",
    "File Write Operations/sec", "File Read Bytes/sec", "File Write Bytes/sec",
    "Memory", "Page Faults/sec", "Transition Faults/sec", "Write Copies/sec", "Page Reads/sec",
    "Page Writes/sec", "Pages Input/sec", "Pages Output/sec", "Pages/sec",
    "System Code Total Bytes", "System Driver Total Bytes", "Available Bytes",
    "Cache", "Copy Read Hits %", "Copy Reads/sec", "Data Map Hits %", "Data Maps/sec",
    "Data Flushes/sec", "Data Flush Pages/sec", "Lazy Write Flushes/sec", "Lazy Write Pages/sec",
    "Processor", "% Processor Time", "% Privileged Time", "% User Time", "% Interrupt Time",
    "Interrupts/sec",
    "PhysicalDisk", "LogicalDisk", "Avg. Disk Bytes/Read", "Avg. Disk Bytes/Write",
    "Avg. Disk Bytes/Transfer", "Avg. Disk sec/Read", "Avg. Disk sec/Write",
    "Avg. Disk sec/Transfer", "Disk Read Bytes/sec", "Disk Write Bytes/sec", "Disk Bytes/sec",
    "Disk Reads/sec", "Disk Writes/sec", "Disk Transfers/sec", "% Disk Read Time",
    "% Disk Write Time", "% Disk Time",
]
PERF_INDEX = {name: 230 + 2 * i for i, name in enumerate(PERF_NAMES)}

# CounterType values of the published layout.
RAWCOUNT = 0x00010000
LARGE_RAWCOUNT = 0x00010100
BULK_COUNT = 0x10410500
TIMER_100NS = 0x20510500
TIMER_100NS_INV = 0x21510500
SAMPLE_FRACTION = 0x20C20400
SAMPLE_BASE = 0x40030401
AVERAGE_TIMER = 0x30020400
AVERAGE_BULK = 0x40020500
AVERAGE_BASE = 0x40030402


def wide(text):
    return text.encode("utf-16-le") + b"\0\0"


def padded(data):
    return data + bytes(-len(data) % 8)


def perflib_reg():
    """Perflib's keys as regedit 5 exports them: the "Counters" list in UTF-16."""
    counters = b"".join(wide(str(PERF_INDEX[n])) + wide(n) for n in PERF_NAMES) + b"\0\0"
    key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib"
    out = ["Windows Registry Editor Version 5.00", "", "[%s]" % key,
           '"Last Counter"=dword:%08x' % max(PERF_INDEX.values()), "",
           "[%s\\009]" % key, reg_hex_value("Counters", 7, counters), ""]
    return ("\r\n".join(out) + "\r\n").encode("ascii")


def rate(per_second):
    return per_second * PERF_SECONDS


def share(percent):
    """A part of the ten minutes in 100-ns units."""
    return PERF_100NS * percent // 100


def perf_object(name, counters, instances=None):
    """counters: (counter name, type, value or [value per instance]); instances: their names.

    Each counter block is its length, 4 bytes of padding and 8 bytes per counter."""
    definitions = b""
    for i, (counter, kind, _) in enumerate(counters):
        size = 8 if kind & 0x300 == 0x100 else 4
        definitions += struct.pack("<IIIIIiIIII", 40, PERF_INDEX[counter], 0,
                                   PERF_INDEX[counter] + 1, 0, 0, 100, kind, size, 8 + 8 * i)

    def counter_block(row):
        values = b""
        for _, kind, value in counters:
            v = value[row] if isinstance(value, list) else value
            values += struct.pack("<Q", v) if kind & 0x300 == 0x100 else struct.pack("<II", v, 0)
        return struct.pack("<II", 8 + len(values), 0) + values

    body = b""
    if instances is None:
        body = counter_block(0)
    else:
        for row, instance in enumerate(instances):
            text = wide(instance)
            body += struct.pack("<IIIiII", 24 + len(padded(text)), 0, 0, -1, 24, len(text))
            body += padded(text) + counter_block(row)
    header_length = 64
    definition_length = header_length + len(definitions)
    total = definition_length + len(body)
    header = struct.pack("<IIIIIIIIIiiIqq", total, definition_length, header_length,
                         PERF_INDEX[name], 0, PERF_INDEX[name] + 1, 0, 100, len(counters), 0,
                         -1 if instances is None else len(instances), 0,
                         PERF_SECONDS * PERF_FREQ, PERF_FREQ)
    return header + definitions + body


def disk_counters(disks):
    """disks: per instance (reads/s, writes/s, bytes/read, bytes/write, read %, write %). Each
    average comes with its base counter just before it, under the average's name."""
    reads = [rate(d[0]) for d in disks]
    writes = [rate(d[1]) for d in disks]
    read_bytes = [rate(d[0] * d[2]) for d in disks]
    write_bytes = [rate(d[1] * d[3]) for d in disks]
    read_ms = [PERF_SECONDS * d[4] * PERF_FREQ // 100 for d in disks]
    write_ms = [PERF_SECONDS * d[5] * PERF_FREQ // 100 for d in disks]

    def plus(a, b):
        return [x + y for x, y in zip(a, b)]

    return [
        ("Avg. Disk Bytes/Read", AVERAGE_BASE, reads),
        ("Avg. Disk Bytes/Read", AVERAGE_BULK, read_bytes),
        ("Avg. Disk Bytes/Write", AVERAGE_BASE, writes),
        ("Avg. Disk Bytes/Write", AVERAGE_BULK, write_bytes),
        ("Avg. Disk Bytes/Transfer", AVERAGE_BASE, plus(reads, writes)),
        ("Avg. Disk Bytes/Transfer", AVERAGE_BULK, plus(read_bytes, write_bytes)),
        ("Avg. Disk sec/Read", AVERAGE_BASE, reads),
        ("Avg. Disk sec/Read", AVERAGE_TIMER, read_ms),
        ("Avg. Disk sec/Write", AVERAGE_BASE, writes),
        ("Avg. Disk sec/Write", AVERAGE_TIMER, write_ms),
        ("Avg. Disk sec/Transfer", AVERAGE_BASE, plus(reads, writes)),
        ("Avg. Disk sec/Transfer", AVERAGE_TIMER, plus(read_ms, write_ms)),
        ("Disk Read Bytes/sec", BULK_COUNT, read_bytes),
        ("Disk Write Bytes/sec", BULK_COUNT, write_bytes),
        ("Disk Bytes/sec", BULK_COUNT, plus(read_bytes, write_bytes)),
        ("Disk Reads/sec", BULK_COUNT, reads),
        ("Disk Writes/sec", BULK_COUNT, writes),
        ("Disk Transfers/sec", BULK_COUNT, plus(reads, writes)),
        ("% Disk Read Time", TIMER_100NS, [share(d[4]) for d in disks]),
        ("% Disk Write Time", TIMER_100NS, [share(d[5]) for d in disks]),
        ("% Disk Time", TIMER_100NS, [share(d[4] + d[5]) for d in disks]),
    ]


def perf_data():
    objects = [
        perf_object("System", [
            ("% Total Processor Time", TIMER_100NS_INV, share(60)),    # 40 % busy
            ("% Total Privileged Time", TIMER_100NS, share(10)),
            ("% Total User Time", TIMER_100NS, share(30)),
            ("% Total Interrupt Time", TIMER_100NS, share(2)),
            ("Total Interrupts/sec", BULK_COUNT, rate(250)),
            ("Context Switches/sec", BULK_COUNT, rate(1200)),
            ("Exception Dispatches/sec", BULK_COUNT, rate(2)),
            ("System Calls/sec", BULK_COUNT, rate(3000)),
            ("File Control Operations/sec", BULK_COUNT, rate(5)),
            ("File Control Bytes/sec", BULK_COUNT, rate(1024)),
            ("File Data Operations/sec", BULK_COUNT, rate(55)),
            ("File Read Operations/sec", BULK_COUNT, rate(40)),
            ("File Write Operations/sec", BULK_COUNT, rate(15)),
            ("File Read Bytes/sec", BULK_COUNT, rate(163840)),
            ("File Write Bytes/sec", BULK_COUNT, rate(61440)),
        ]),
        perf_object("Memory", [
            ("Page Faults/sec", BULK_COUNT, rate(500)),
            ("Transition Faults/sec", BULK_COUNT, rate(120)),
            ("Write Copies/sec", BULK_COUNT, rate(10)),
            ("Page Reads/sec", BULK_COUNT, rate(6)),
            ("Page Writes/sec", BULK_COUNT, rate(2)),
            ("Pages Input/sec", BULK_COUNT, rate(12)),
            ("Pages Output/sec", BULK_COUNT, rate(4)),
            ("Pages/sec", BULK_COUNT, rate(16)),
            ("System Code Total Bytes", RAWCOUNT, 1048576),
            ("System Driver Total Bytes", RAWCOUNT, 2097152),
            ("Available Bytes", LARGE_RAWCOUNT, 64 << 20),              # a quarter of 256 MB
        ]),
        # The hit ratios come with their base counters, one hundred reads each.
        perf_object("Cache", [
            ("Copy Read Hits %", SAMPLE_BASE, 100),
            ("Copy Read Hits %", SAMPLE_FRACTION, 90),
            ("Copy Reads/sec", BULK_COUNT, rate(20)),
            ("Data Map Hits %", SAMPLE_BASE, 100),
            ("Data Map Hits %", SAMPLE_FRACTION, 95),
            ("Data Maps/sec", BULK_COUNT, rate(30)),
            ("Data Flushes/sec", BULK_COUNT, rate(4)),
            ("Data Flush Pages/sec", BULK_COUNT, rate(8)),
            ("Lazy Write Flushes/sec", BULK_COUNT, rate(3)),
            ("Lazy Write Pages/sec", BULK_COUNT, rate(6)),
        ]),
        perf_object("Processor", [
            ("% Processor Time", TIMER_100NS_INV, [share(55), share(65)]),  # 45 % and 35 %
            ("% Privileged Time", TIMER_100NS, [share(12), share(8)]),
            ("% User Time", TIMER_100NS, [share(33), share(27)]),
            ("% Interrupt Time", TIMER_100NS, [share(2), share(2)]),
            ("Interrupts/sec", BULK_COUNT, [rate(150), rate(100)]),
        ], ["0", "1"]),
        # The three hard disks in the order of PhysicalDrive0 to 2; the CD-ROM is none.
        perf_object("PhysicalDisk", disk_counters([
            (10, 5, 4096, 8192, 5, 5),
            (20, 10, 8192, 4096, 10, 5),
            (1, 1, 65536, 65536, 1, 1),
        ]), ["0", "1", "2"]),
        perf_object("LogicalDisk", disk_counters([
            (8, 4, 4096, 4096, 4, 2),
            (12, 6, 8192, 8192, 6, 3),
        ]), ["C:", "D:"]),
    ]
    name = padded(wide("TESSEL-SV440"))
    header_length = 88 + len(name)
    total = header_length + sum(len(o) for o in objects)
    header = (b"P\0E\0R\0F\0" + struct.pack("<IIIIIIi", 1, 1, 1, total, header_length,
                                             len(objects), PERF_INDEX["Processor"])
              + struct.pack("<8H", 1999, 6, 2, 15, 8, 10, 0, 0) + bytes(4)
              + struct.pack("<qqqII", PERF_SECONDS * PERF_FREQ, PERF_FREQ, PERF_100NS,
                            len(wide("TESSEL-SV440")), 88))
    assert len(header) == 88
    return header + name + b"".join(objects)


# The network cards: an Ethernet card with traffic (E100B, whose resource list the resource map
# above holds), a Token Ring card whose driver keeps no resource list, and a hidden dial-up
# adapter that discovery passes by. Each card's device answers the NDIS query by OID from
# devices/<service>/00170002/<OID>.bin, or grows as a .rate counter ("start per-second").
NETWORK_CARDS = [
    # subkey, product, service, title, hidden
    ("1", "E100B", "E100B1", "[1] Tessel FastLink 10/100 PCI Adapter", None),
    ("2", "QTok16", "QTok161", "[2] Quarry 16/4 Token-Ring PCI Adapter", None),
    ("3", "NdisWan", "NdisWan4", "[3] Remote Access WAN Wrapper", 1),
]

GENERAL_STATISTICS = [0x00020101, 0x00020102, 0x00020103, 0x00020104, 0x00020105] + \
    [0x00020200 + n for n in range(1, 0x0F)]
ETHERNET_STATISTICS = [0x01020101, 0x01020102, 0x01020103, 0x01020201, 0x01020202, 0x01020203,
                       0x01020204, 0x01020205, 0x01020206, 0x01020207]
TOKEN_RING_STATISTICS = [0x02020101, 0x02020102, 0x02020201, 0x02020202, 0x02020203,
                         0x02020204, 0x02020205, 0x02020206, 0x02020207]

# The Ethernet card's traffic: (start, per second). The demo's TESSEL.INI sets a Packets
# threshold that frames received at 1200 a second cross.
ETHERNET_RATES = {
    0x00020101: (1000000, 900),    # frames sent
    0x00020102: (2500000, 1200),   # frames received
    0x00020201: (60000000, 70000),  # directed bytes sent
    0x00020202: (900000, 850),     # directed frames sent
    0x00020207: (150000000, 90000),  # directed bytes received
    0x00020208: (2400000, 1100),   # directed frames received
    0x0002020B: (3000000, 6000),   # broadcast bytes received
    0x0002020C: (50000, 100),      # broadcast frames received
}


def network_reg():
    """NetworkCards, the Token Ring card's resource key and the TCP/IP address of the Ethernet
    card, as regedit exports them (REGEDIT4), with CR LF line ends."""
    def quoted(text):
        return '"%s"' % text.replace("\\", "\\\\").replace('"', '\\"')

    cards = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards"
    out = ["REGEDIT4", "", "[%s]" % cards, ""]
    for key, product, service, title, hidden in NETWORK_CARDS:
        out.append("[%s\\%s]" % (cards, key))
        for name, text in (("ProductName", product), ("ServiceName", service), ("Title", title)):
            out.append("%s=%s" % (quoted(name), quoted(text)))
        if hidden is not None:
            out.append('"Hidden"=dword:%08x' % hidden)
        out.append("")
    # The Token Ring driver's key holds no list: its resources read 0.
    out += ["[HKEY_LOCAL_MACHINE\\HARDWARE\\RESOURCEMAP\\OtherDrivers\\QTok16]", ""]
    address = b"192.168.7.20\0\0"
    out.append("[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\E100B1\\Parameters\\Tcpip]")
    out.append('"IPAddress"=hex(7):' + ",".join("%02x" % b for b in address))
    out.append("")
    return ("\r\n".join(out) + "\r\n").encode("ascii")


def network_answers():
    """{(service, OID): bytes or (start, rate)} for the two cards' devices."""
    answers = {}

    def card(service, medium, address, vendor, statistics):
        address_oid = 0x01010101 if medium == 0 else 0x02010101
        listed = [0x00010101, 0x00010102, 0x00010103, 0x0001010D, address_oid] + statistics
        answers[(service, 0x00010101)] = u32(*listed)
        answers[(service, 0x00010102)] = u32(0)  # NdisHardwareStatusReady
        answers[(service, 0x00010103)] = u32(medium)
        answers[(service, 0x0001010D)] = vendor.encode("ascii") + b"\0"
        answers[(service, address_oid)] = bytes(address)

    card("E100B1", 0, [0x00, 0xA0, 0xC9, 0x12, 0x34, 0x56], "Tessel FastLink 10/100 PCI Adapter",
         GENERAL_STATISTICS + ETHERNET_STATISTICS)
    for oid in GENERAL_STATISTICS + ETHERNET_STATISTICS:
        answers[("E100B1", oid)] = ETHERNET_RATES.get(oid, struct.pack("<Q", 0))
    answers[("E100B1", 0x01020102)] = struct.pack("<Q", 14)  # one collision, long ago
    answers[("E100B1", 0x0002020E)] = struct.pack("<Q", 2)   # frames queued

    card("QTok161", 1, [0x10, 0x00, 0x5A, 0x4C, 0x21, 0x07], "Quarry 16/4 Token-Ring PCI Adapter",
         GENERAL_STATISTICS[:5] + [0x02010106] + TOKEN_RING_STATISTICS)
    for oid in GENERAL_STATISTICS[:5] + TOKEN_RING_STATISTICS:
        answers[("QTok161", oid)] = struct.pack("<Q", 0)
    answers[("QTok161", 0x00020101)] = struct.pack("<Q", 48211)
    answers[("QTok161", 0x00020102)] = struct.pack("<Q", 51007)
    answers[("QTok161", 0x02010106)] = u32(0x20)  # ring status: a soft error was seen
    answers[("QTok161", 0x02020206)] = struct.pack("<Q", 3)
    return answers


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    mode = "wb" if isinstance(data, bytes) else "w"
    with open(path, mode) as f:
        f.write(data)


def system_facts():
    """The server's name, account, system version and memory; up 57 days, 20 hours, 53 minutes
    and 20 seconds, longer than a 32-bit millisecond count reaches."""
    return ("ComputerName\tTESSEL-SV1\n"
            "UserName\tAdministrator\n"
            "Version\t4.0\n"
            "UptimeMs\t5000000000\n"
            "Memory\t%d\n" % (256 << 20))


def system_volumes():
    """C: on the IDE disk and D: on the first SCSI disk, both with 4 KB clusters (8 sectors of
    512 bytes); a CD-ROM and a network share, which are not fixed volumes."""
    return ("# letter, kind, name, sectors per cluster, bytes per sector, free and total clusters\n"
            "C:\tfixed\tSYSTEM\t8\t512\t1048576\t2096128\n"
            "D:\tfixed\tDATA\t8\t512\t1966080\t2359296\n"
            "E:\tcdrom\n"
            "F:\tremote\tPUBLIC\n")


def main():
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(REPO, "machines", "sample")
    koru = os.path.join(target, "devices", "KORU")

    def answer(code, data):
        write(os.path.join(koru, "%08x.bin" % code), data)

    answer(0x80002080, u8(*(len(rows) for rows in ITEM_TABLES.values())))
    answer(0x80002010, configuration_answer())
    answer(0x80002018, eisa_answer())
    answer(0x8000201C, struct.pack("<4h", 45, 47, 0, 0))
    answer(0x80002064, u32(450, 450, 0, 0))
    for code, rows in ITEM_TABLES.items():
        answer(code, item_list(rows))
    # Requests that carry values or expect none: accepted with an empty answer, and recorded.
    for code in (0x800020D0, 0x8000205C, 0x80002050, 0x80002054, 0x80002058):
        answer(code, b"")

    write(os.path.join(target, "services", "drivers"),
          "koru\tKORU Management Driver\n"
          "atapi\tIDE/ATAPI Port Driver\n"
          "serial\tSerial Port Driver\n"
          "tcpip\tTCP/IP Protocol Driver\n")
    write(os.path.join(target, "services", "installed"), "SNMP\nFARLINK\n")
    write(os.path.join(target, "registry", "10-resourcemap.reg"), resource_map_reg())
    write(os.path.join(target, "registry", "20-storage.reg"), storage_reg())
    for number, geometry in enumerate(DRIVE_GEOMETRY):
        write(os.path.join(target, "devices", "PhysicalDrive%d" % number, "00070000.bin"),
              disk_geometry(*geometry))
    write(os.path.join(target, "registry", "30-perflib.reg"), perflib_reg())
    write(os.path.join(target, "perf", "data.bin"), perf_data())
    write(os.path.join(target, "registry", "40-network.reg"), network_reg())
    for (service, oid), data in network_answers().items():
        folder = os.path.join(target, "devices", service, "00170002")
        if isinstance(data, tuple):
            write(os.path.join(folder, "%08x.rate" % oid), "%d %d\n" % data)
        else:
            write(os.path.join(folder, "%08x.bin" % oid), data)
    write(os.path.join(target, "system", "facts"), system_facts())
    write(os.path.join(target, "system", "volumes"), system_volumes())
    # What the agent records while it runs is not part of the image.
    write(os.path.join(target, ".gitignore"), "requests.log\n")


if __name__ == "__main__":
    main()
