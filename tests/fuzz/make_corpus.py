#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into tests/fuzz/corpus/<target>/.

Each seed is a small input as a converter, a dongle or a file really gives it, laid out in the
target's own input format (see the comment at the top of each *_fuzz.cpp)."""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "corpus")

CONVERTER_ADDRESS = bytes([0x78, 0x56, 0x34, 0x12, 0x8F, 0x19, 0x01, 0x36])  # wired header order
RADIO_ADDRESS = bytes([0x8F, 0x19, 0x78, 0x56, 0x34, 0x12, 0x01, 0x36])      # radio order
COUNTER_RECORD = bytes([0x04, 0xFD, 0x08, 0x10, 0x00, 0x00, 0x00])
VERSION_RECORD = bytes([0x02, 0xFD, 0x0C, 0x03, 0x01])


def long_frame(c, a, data):
    l = len(data) + 2
    body = bytes([c, a]) + data
    return bytes([0x68, l, l, 0x68]) + body + bytes([sum(body) & 0xFF, 0x16])


def wired_header(ci=0x72):
    # CI, identification, manufacturer, version, type, access number, status, signature
    return bytes([ci]) + CONVERTER_ADDRESS + bytes([0x05, 0x00, 0x00, 0x00])


def get_data_answer(slot=1):
    a = bytearray(64)
    a[0:3] = b"\x0F\x35\x92"
    a[3] = slot
    a[4] = 1
    a[8:12] = bytes([0x21, 0x43, 0x65, 0x87])
    a[12:14] = bytes([0x2D, 0x2C])
    a[14] = 0x01
    a[15] = 0x07
    a[24:40] = bytes(range(16))
    a[40:56] = bytes(range(16, 32))
    a[56], a[57], a[58], a[59] = 2, 3, 4, 2
    a[61] = 250
    return bytes(a)


def scan_answer():
    a = bytearray(84)
    a[0:4] = b"\x0F\x35\x96\x08"
    for e in range(8):
        entry = bytes([0x2D, 0x2C, e, 0x11, 0x22, 0x33, 0x01, 0x07, 0x90 + e, 0x00])
        a[4 + 10 * e:14 + 10 * e] = entry
    a[4:14] = RADIO_ADDRESS + b"\x80\x00"  # the converter itself, skipped
    return bytes(a)


def options_answer(values=(1, 0, 1, 1, 0, 2, 1, 0)):
    return b"\x0F\x35\x97" + bytes(values)


# --- wired_stream: op bytes 0 (tick, n, bytes), 2 (connect), 3 (send, n, bytes),
#     4 (connect and a well-formed answer: n, split, data bytes)
def tick(b):
    out = b""
    while b:
        out += bytes([0, min(len(b), 255)]) + b[:255]
        b = b[255:]
    return out


CONNECT = b"\x02"


def send(data):
    return bytes([3, len(data)]) + data


def wired_seeds():
    identity = long_frame(0x08, 0xFB, wired_header() + COUNTER_RECORD + VERSION_RECORD)
    get_data = long_frame(0x08, 0xFB, wired_header() + get_data_answer())
    options = long_frame(0x08, 0xFB, wired_header() + options_answer())
    scan = long_frame(0x08, 0xFB, wired_header() + scan_answer())
    secured = long_frame(0x08, 0xFB, bytes([0x90, 0x0F, 0x00, 0x2C, 0x25]) + CONVERTER_ADDRESS[:4]
                         + bytes([0x2A, 0x00, 0x00, 0x00]) + bytes(20))
    bad = bytearray(identity)
    bad[-2] ^= 0x55
    return {
        "req_ud2_answer": CONNECT + tick(identity),
        "req_ud2_answer_split": CONNECT + tick(identity[:3]) + tick(identity[3:20]) + tick(identity[20:]),
        "single_ack": CONNECT + tick(b"\xE5"),
        "before_connect": tick(identity) + CONNECT + tick(identity),
        "get_data_after_send": CONNECT + tick(identity) + send(b"\x72\x0F\x35\x92\x01")
                               + tick(get_data[:40]) + tick(get_data[40:]),
        "options_and_scan": CONNECT + tick(options) + CONNECT + tick(scan),
        "short_frame_and_zero": CONNECT + tick(b"\x10\x08\xFB\x03\x16") + CONNECT + tick(b"\x00\xE5"),
        "secured": CONNECT + tick(secured),
        "bad_checksum_then_good": CONNECT + tick(bytes(bad)) + CONNECT + tick(identity),
        "good_answer_split": bytes([4, 13, 5]) + wired_header(),
        "garbage_between": CONNECT + tick(b"\x42\x13" + identity[:10]) + tick(identity[10:]),
    }


# --- dongle frames: code, payload length (little-endian), payload
def radio_frame(payload, c=0x44):
    return bytes([c]) + RADIO_ADDRESS + bytes([0x7A, 0x05, 0x00, 0x00, 0x00]) + payload


def dongle_frame(code, payload):
    return bytes([code, len(payload) & 0xFF, len(payload) >> 8]) + payload


def dongle_stream_seeds():
    identity = radio_frame(COUNTER_RECORD + VERSION_RECORD)
    other_meter = bytes([0x44, 0x2D, 0x2C, 1, 2, 3, 4, 1, 7, 0x7A, 0, 0, 0, 0]) + COUNTER_RECORD
    return {
        "status_frames": b"".join(dongle_frame(c, b"") for c in (0x20, 0x50, 0x1F, 0x33)),
        "converter_identity": dongle_frame(0x00, identity),
        "get_data": dongle_frame(0x00, identity) + dongle_frame(0x00, radio_frame(get_data_answer())),
        "scan": dongle_frame(0x00, radio_frame(scan_answer())),
        "options": dongle_frame(0x00, radio_frame(options_answer())),
        "ignored_code": dongle_frame(0x0D, identity) + dongle_frame(0x20, b""),
        "other_meter": dongle_frame(0x00, other_meter),
        "truncated": dongle_frame(0x00, identity)[:12],
        "oversized": bytes([0x00, 0x58, 0x02]) + identity + dongle_frame(0x20, b""),
    }


def dongle_dispatch_seeds():
    out = {}
    for name, stream in dongle_stream_seeds().items():
        records = b""
        at = 0
        while at + 3 <= len(stream):
            code, length = stream[at], stream[at + 1] | stream[at + 2] << 8
            payload = stream[at + 3:at + 3 + length]
            records += bytes([code, length & 0xFF, length >> 8, len(payload) & 0xFF,
                              len(payload) >> 8]) + payload
            at += 3 + length
        out[name] = records
    identity = radio_frame(COUNTER_RECORD + VERSION_RECORD)
    # Announced longer than what arrived, and the other way round.
    out["announced_more"] = bytes([0x00, 0x00, 0x02, len(identity), 0]) + identity
    out["announced_less"] = bytes([0x00, 0x0A, 0x00, len(identity), 0]) + identity
    return out


def answer_seeds():
    def answers(*items):
        return b"".join(bytes([len(a)]) + a for a in items)

    bad_slot = bytearray(get_data_answer())
    bad_slot[3] = 4
    bad_mode = bytearray(get_data_answer())
    bad_mode[59] = 8
    return {
        "get_data": b"\x00" + answers(get_data_answer(0), get_data_answer(3)),
        "get_data_out_of_range": b"\x00" + answers(bytes(bad_slot), bytes(bad_mode)),
        "scan": b"\x00" + answers(scan_answer(), scan_answer()),
        "scan_full_list": b"\xF4" + answers(scan_answer()),
        "options_dialog_open": b"\x01" + answers(options_answer()),
        "options_dialog_closed": b"\x00" + answers(options_answer((0, 0, 0, 0, 0, 0, 0, 0))),
        "short_answers": b"\x01" + answers(b"\x0F\x35\x92", b"\x0F\x35\x96\x00", b"\x0F\x35\x97\x01"),
        "unknown_command": b"\x00" + answers(b"\x0F\x35\x99\x00", b"\x0E\x35\x92"),
    }


def key_list_seeds():
    converter = (b"# converter keys\n"
                 b"Simulated converter;12345678;000102030405060708090A0B0C0D0E0F\n"
                 b"Second;00000001;FFEEDDCCBBAA99887766554433221100\r\n")
    meter = (b"# meter keys\n"
             b"Heat meter, boiler room;87654321;00112233445566778899AABBCCDDEEFF;"
             b"FFEEDDCCBBAA99887766554433221100\n"
             b"Water meter;12345678;0F0E0D0C0B0A09080706050403020100\n")
    return {
        "converter_lines": b"\x00" + converter,
        "meter_lines": b"\x00" + meter,
        "near_full": b"\x82" + converter + meter,
        "odd_fields": b"\x00;;;\n;1234\nlabel;12;34;56;78\nno separators\n\x00;1;2\n",
        "long_line": b"\x00" + b"L" * 1100 + b";12345678;00\n",
    }


def config_seeds():
    return {
        "lf": b"Quarn start-up file\n3C5A0F1E92B47D68A0E1C3F5B7092D4E\n",
        "crlf": b"Quarn start-up file\r\n3C5A0F1E92B47D68A0E1C3F5B7092D4E\r\n",
        "one_line": b"only one line",
        "long_first_line": b"A" * 300 + b"\n000102030405060708090A0B0C0D0E0F\n",
        "nul_inside": b"first\x00hidden\nsecond\r\rline\n",
        "empty": b"",
    }


def hex_seeds():
    return {
        "key_text": b"\x10" + b"000102030405060708090A0B0C0D0E0F",
        "odd_digits": b"\x05" + b"abcdefG",
        "records": b"\x04" + bytes([0x72]) + COUNTER_RECORD + VERSION_RECORD,
        "record_at_end": b"\x00" + bytes(6) + bytes([0x02, 0xFD, 0x0C, 0x01]),
        "manufacturer": b"\x02" + bytes([0x2D, 0x2C, 0x41]) + bytes(14),
        "no_letters": b"\x02" + bytes([0x00, 0x80, 0x00]),
    }


def virtual_ports_seeds():
    return {
        "one_path": b"/dev/pts/7",
        "full_entries": b"/tmp/quarn-dongle|USB\\VID_10C4&PID_0003\\ZJ000123|CP2102 USB to UART;/dev/pts/3",
        "empty_entries": b";;/dev/;|x|y|z;name",
        "long_path": b"/" + b"p" * 300 + b";/dev/ttyS0|" + b"i" * 300,
    }


def meter_telegram_seeds():
    address = bytes.fromhex("2D2C785634121B07")
    mode5 = bytes([0x44]) + address + bytes([0x7A, 0x42, 0x00, 0x20, 0x05]) + bytes(range(32))
    mode7 = (bytes([0x44]) + address + bytes.fromhex("900F002C2504030201") + bytes(8) +
             bytes.fromhex("7A10001007 10") + bytes(range(16)))
    long_header = bytes([0x44]) + bytes.fromhex("A5119988776601 31 72 785634122D2C1B07 42001005") + bytes(16)
    return {
        "mode5": b"\x00" + mode5,
        "mode5_length_byte": b"\x01" + bytes([len(mode5)]) + mode5,
        "mode7_detect": b"\x02" + mode7,
        "long_header": b"\x00" + long_header,
        "ell_plain": b"\x00" + bytes([0x44]) + address + bytes.fromhex("8C2042 78 0C13"),
        "line_log_form": b"\x04" + b"telegram=|" + (bytes([len(mode5)]) + mode5).hex().upper().encode() + b"|",
        "line_spaces": b"\x04" + b" ".join(mode7.hex().upper()[i:i + 2].encode() for i in range(0, 2 * len(mode7), 2)),
    }


def main():
    targets = {
        "meter_telegram": meter_telegram_seeds(),
        "wired_stream": wired_seeds(),
        "dongle_stream": dongle_stream_seeds(),
        "dongle_dispatch": dongle_dispatch_seeds(),
        "answer_parser": answer_seeds(),
        "key_list": key_list_seeds(),
        "config_file": config_seeds(),
        "hex_text": hex_seeds(),
        "virtual_ports": virtual_ports_seeds(),
    }
    for target, seeds in targets.items():
        folder = os.path.join(OUT, target)
        os.makedirs(folder, exist_ok=True)
        for name, data in seeds.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
