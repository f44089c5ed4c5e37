#!/usr/bin/env python3
"""Writes the EDID files of the identity tests: fictitious displays with the structure real ones report
(header, vendor and product, version, basic parameters, timings, four descriptors, extension blocks with
checksums). Run it from this folder to regenerate them."""

import struct


def checksummed(block):
    assert len(block) == 127
    return bytes(block) + bytes([(-sum(block)) % 256])


def manufacturer(code):
    a, b, c = (ord(ch) - 64 for ch in code)
    return struct.pack(">H", (a << 10) | (b << 5) | c)


DTD_1080P = bytes.fromhex("023a801871382d40582c4500132b2100001e")
DTD_720P = bytes.fromhex("011d007251d01e206e285500c48e2100001e")
RANGE_LIMITS = bytes.fromhex("000000fd00384c1e5311000a202020202020")
DUMMY = bytes.fromhex("0000001000") + bytes(13)


def text_descriptor(tag, text):
    data = text.encode("ascii")
    assert len(data) <= 13
    if len(data) < 13:
        data += b"\n" + b" " * (12 - len(data))
    return bytes([0, 0, 0, tag, 0]) + data


def base_block(vendor, product, serial_number, year, version, descriptors, extensions):
    assert len(descriptors) == 4
    block = bytearray(b"\x00\xff\xff\xff\xff\xff\xff\x00")
    block += manufacturer(vendor)
    block += struct.pack("<HI", product, serial_number)
    block += bytes([12, year - 1990, 1, version])
    block += bytes.fromhex("b5351e783a")  # digital input, 53x30 cm, gamma 2.2, features
    block += bytes.fromhex("e1c5a4544e9e260d5054")  # chromaticity
    block += bytes.fromhex("210800")  # established timings
    block += bytes.fromhex("8180a9c0d1c001010101010101010101")  # standard timings
    for descriptor in descriptors:
        assert len(descriptor) == 18
        block += descriptor
    block.append(extensions)
    return checksummed(block)


def cea_block(dtds=()):
    data_blocks = bytes.fromhex("4710040301141205") + bytes.fromhex("65030c001000")
    block = bytearray([0x02, 0x03, 4 + len(data_blocks), 0xF0]) + data_blocks
    for dtd in dtds:
        block += dtd
    block += bytes(127 - len(block))
    return checksummed(block)


def displayid_block():
    block = bytearray([0x70, 0x20, 0x79, 0x03, 0x00]) + bytes(122)
    return checksummed(block)


FILES = {
    "office-monitor.bin": base_block(
        "VTR", 0x2415, 0x01020304, 2019, 3,
        [DTD_1080P, RANGE_LIMITS, text_descriptor(0xFC, "LOBBY 24"), text_descriptor(0xFF, "7HX42A1")], 0),
    "no-serial.bin": base_block(
        "KQM", 0x0A2F, 0, 2021, 4,
        [DTD_1080P, RANGE_LIMITS, text_descriptor(0xFC, "KQ2700"), DUMMY], 0),
    "no-descriptors.bin": base_block(
        "PXN", 0x0001, 0, 2015, 3, [DTD_1080P, DTD_720P, DUMMY, DUMMY], 0),
    "tv-256.bin": base_block(
        "TVW", 0x5501, 0x01010101, 2020, 3,
        [DTD_1080P, RANGE_LIMITS, text_descriptor(0xFC, "WALL TV 55"), text_descriptor(0xFF, "SN0001234567")], 1)
    + cea_block([DTD_720P]),
    "tv-384.bin": base_block(
        "HLT", 0x6502, 0, 2022, 3,
        [DTD_1080P, text_descriptor(0xFF, "HT65-0099"), RANGE_LIMITS, text_descriptor(0xFC, "HALL TV 65")], 2)
    + cea_block([DTD_720P]) + cea_block(),
    "tv-512.bin": base_block(
        "HLT", 0x7503, 0, 2023, 3,
        [DTD_1080P, RANGE_LIMITS, text_descriptor(0xFC, "HALL TV 75"), DUMMY], 3)
    + cea_block([DTD_720P]) + cea_block() + displayid_block(),
}

for name, data in FILES.items():
    assert len(data) % 128 == 0 and all(sum(data[i:i + 128]) % 256 == 0 for i in range(0, len(data), 128))
    with open(name, "wb") as f:
        f.write(data)
