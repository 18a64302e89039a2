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


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    mode = "wb" if isinstance(data, bytes) else "w"
    with open(path, mode) as f:
        f.write(data)


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
    # What the agent records while it runs is not part of the image.
    write(os.path.join(target, ".gitignore"), "requests.log\n")


if __name__ == "__main__":
    main()
