#!/usr/bin/env python3
"""Writes the virtual adapter's sample EDID: a 256-byte image of this project's own making
(an EDID 1.4 base block and a CTA-861 extension), each block summing to 0 modulo 256."""
import struct
import sys


def checksum(block):
    block[127] = (-sum(block[:127])) % 256


def vendor(code):
    a, b, c = (ord(ch) - ord('A') + 1 for ch in code)
    return struct.pack('>H', (a << 10) | (b << 5) | c)


def text_descriptor(tag, text):
    body = text.encode('ascii')[:13]
    if len(body) < 13:
        body += b'\n' + b' ' * (12 - len(body))
    return bytes([0, 0, 0, tag, 0]) + body


def dtd_1080p():
    return bytes([0x02, 0x3A, 0x80, 0x18, 0x71, 0x38, 0x2D, 0x40, 0x58, 0x2C,
                  0x45, 0x00, 0x58, 0x54, 0x21, 0x00, 0x00, 0x1E])


def dtd_720p():
    return bytes([0x01, 0x1D, 0x00, 0x72, 0x51, 0xD0, 0x1E, 0x20, 0x6E, 0x28,
                  0x55, 0x00, 0x58, 0x54, 0x21, 0x00, 0x00, 0x1E])


base = bytearray(128)
base[0:8] = b'\x00\xff\xff\xff\xff\xff\xff\x00'
base[8:10] = vendor('OQN')
base[10:12] = struct.pack('<H', 0x1505)     # product code
base[12:16] = struct.pack('<I', 0x00001505)  # serial number
base[16] = 48                                # week of manufacture
base[17] = 2026 - 1990                       # year
base[18:20] = b'\x01\x04'                    # EDID 1.4
base[20] = 0xA5                              # digital, 8 bits per colour, DisplayPort
base[21:23] = bytes([60, 34])                # 60 x 34 cm
base[23] = 120                               # gamma 2.2
base[24] = 0x3A                              # RGB 4:4:4, preferred timing native
base[25:35] = bytes([0xEE, 0x91, 0xA3, 0x54, 0x4C, 0x99, 0x26, 0x0F, 0x50, 0x54])  # sRGB
base[35:38] = bytes([0x21, 0x08, 0x00])      # 640x480@60, 800x600@60, 1024x768@60
std = [(0xD1, 0xC0), (0x81, 0xC0), (0x81, 0x80), (0x95, 0x00),
       (0xB3, 0x00), (0x01, 0x01), (0x01, 0x01), (0x01, 0x01)]
base[38:54] = bytes(b for pair in std for b in pair)
base[54:72] = dtd_1080p()
base[72:90] = bytes([0, 0, 0, 0xFD, 0, 50, 75, 30, 83, 17, 0, 0x0A, 32, 32, 32, 32, 32, 32])
base[90:108] = text_descriptor(0xFC, 'Quillon Demo')
base[108:126] = text_descriptor(0xFF, 'OQ0000001505')
base[126] = 1                                # one extension block
checksum(base)

cta = bytearray(128)
data_blocks = bytes([
    0x43, 0x90, 0x04, 0x01,                  # video: 1080p60 (native), 720p60, 480p60
    0x23, 0x09, 0x07, 0x07,                  # audio: LPCM 2 channels 48/44.1/32 kHz
    0x83, 0x01, 0x00, 0x00,                  # speakers: front left/right
])
cta[0:4] = bytes([0x02, 0x03, 4 + len(data_blocks), 0x70])
cta[4:4 + len(data_blocks)] = data_blocks
offset = 4 + len(data_blocks)
cta[offset:offset + 18] = dtd_720p()
checksum(cta)

image = bytes(base + cta)
assert len(image) == 256 and sum(image[:128]) % 256 == 0 and sum(image[128:]) % 256 == 0
with open(sys.argv[1] if len(sys.argv) > 1 else 'sample-edid.bin', 'wb') as out:
    out.write(image)
