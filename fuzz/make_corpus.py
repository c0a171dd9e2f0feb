#!/usr/bin/env python3
"""Writes the fuzz targets' seed corpus, fuzz/corpus/<target>/, from the layouts each target
reads (see the comment at the top of each fuzz/<target>_fuzz.cpp).

    fuzz/make_corpus.py

Run it again after changing a target's input layout; the files are small and kept in the tree.
"""
import pathlib
import struct

ROOT = pathlib.Path(__file__).resolve().parent.parent
CORPUS = ROOT / "fuzz" / "corpus"
MARKER = bytes([0xFF, 0xAB, 0xCD, 0xEF])

# Indexes into the product table (engine/Products.h): a standard-framing unit, the alternate one.
STANDARD, ALTERNATE = 2, 3


def report(*head, data=b""):
    r = bytes([0, *head]) + data
    return r + bytes(64 - len(r))


def image_version():
    image = (ROOT / "resources" / "firmware.bin").read_bytes()
    at = image.find(MARKER)
    region = image[at - 12:at + 4 + 8 + 10 + 6]
    return {
        "header-region": region,
        "header-cut-in-tag": image[at - 4:at + 4 + 8 + 3],
        "header-too-short": image[at - 4:at + 4 + 8],
        "broken-marker": bytes([0xFF, 0xFF, 0xAB, 0xCD, 0xEF]) + region,
    }


def answers():
    # flags (bit 0 alternate), sequence number, count (4 bytes), chunk size, report.
    def case(alternate, sequence, count, chunk, rep):
        return bytes([alternate, sequence]) + struct.pack("<I", count) + bytes([chunk]) + rep

    data8 = bytes(range(0x10, 0x18))
    data16 = bytes(range(0x20, 0x30))
    return {
        "standard-read": case(0, 5, 64, 8, report(5, 8, data=data8)),
        "standard-read-short-count": case(0, 5, 10, 8, report(5, 8, data=data8)),
        "standard-write": case(0, 9, 64, 8, report(9, 0)),
        "standard-overlong-count": case(0, 7, 0xFFFFFFFF, 8, report(7, 61, data=bytes(61))),
        "alternate-read": case(1, 0, 64, 16, report(0, 0x90, data=data16)),
        "alternate-write": case(1, 0, 3, 16, report(0, 0x80)),
        # Requests, as the device side gets them (the report is also parsed as one).
        "standard-write-request": case(0, 3, 64, 8, report(3, 2, 16, 0xA8, 0xA0, 0, 8, 8,
                                                            data=data8)),
        "alternate-read-request": case(1, 0, 64, 16, report(0x80, 0xE4, 0xA0, 0x01, 0x00, 16)),
    }


def report_descriptor():
    # emulated/Descriptor.h: VendorDescriptor(in, out, reportId).
    def vendor(inp, out, report_id=False):
        d = bytes([0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01])
        if report_id:
            d += bytes([0x85, 0x01])
        return d + bytes([0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, inp, 0x09, 0x01,
                          0x81, 0x02, 0x95, out, 0x09, 0x01, 0x91, 0x02, 0xC0])

    return {
        "unit": vendor(63, 63),
        "numbered": vendor(63, 63, True),
        "too-wide": vendor(64, 64),
        "push-pop-long-item": bytes([0xA4, 0x75, 0x08, 0x95, 0x10, 0xB4, 0x81, 0x02,
                                     0xFE, 0x02, 0x00, 0xAA, 0xBB]) + vendor(8, 8),
    }


def uevent():
    return {
        "usb": b"DRIVER=hid-generic\nHID_ID=0003:00001852:00007029\n"
               b"HID_NAME=Quarnel USB Audio\nHID_PHYS=usb-0000:00:14.0-2/input3\nHID_UNIQ=\n"
               b"MODALIAS=hid:b0003g0001v00001852p00007029\n",
        "uhid-serial": b"HID_ID=0003:00001852:00002004\nHID_NAME=emulated\n"
                       b"HID_PHYS=quarnel-uhid-1\nHID_UNIQ=SN0042",
    }


def cli_options():
    def args(*a):
        return b"\0".join(x.encode() for x in a)

    return {
        "update": args("--simulate=2004", "update", "--timeout=0.5", "--json"),
        "backup": args("backup", "--device=/dev/hidraw3", "--force", "--", "-file.bin"),
        "verify": args("--image=fw.bin", "verify", "--quiet", "--simulate-fault=flip:0x10"),
        "mistakes": args("--timeout=1e3", "backup", "--image=x", "list", "--report=r.txt"),
        "long": args("update", "--device=" + "x" * 80),
    }


def shared_options():
    def args(*a):
        return b"\0".join(x.encode() for x in a)

    return {
        "simulate-faults": args("--simulate=2004", "--simulate-fault=dup:300",
                                "--simulate-fault=delay:30"),
        "report": args("--report=/tmp/window.txt", "--simulate"),
        "help": args("--simulate", "-h"),
        "version": args("--version"),
        "mistakes": args("--simulate=zz", "--simulate-fault=flip:99999", "--report="),
        "unknown": args("--simulate-fault=refuse-writes", "-x"),
    }


def text_escape():
    # Any bytes: a name from outside the program.
    return {
        "controls": b"a\nFW UPDATE OK!\x1b[2J\x7f\tend",
        "c1": b"csi \xc2\x9b31m lone \x9b31m",
        "not-utf8": b"i\xff.bin \xe6\x97 \xc0\x9b \xed\xa0\x80 \xf4\x90\x80\x80",
        "scripts": "caf\u00e9 \u65e5\u672c \U0001f3b5 \"q\" \\".encode(),
        "bidi": "Saved \u202enib.exe \u202a\u2066\u2069 \u2029\u202f\u2065\u206a".encode(),
    }


def worker_steps():
    # product index, image length in 16-byte units less one, first sequence number, phases
    # (bit 0 write, bit 1 read-back; none: both), then one selector byte per read: 0 the
    # device's next answer, 1 any report (count byte, bytes), 2 the last answer again,
    # 3 a time-out, 0xFF a failed link.
    def run(product, units, sequence, phases, reads):
        return bytes([product, units - 1, sequence, phases]) + bytes(reads)

    raw_overlong = [1, 64] + list(report(5, 30, data=bytes(range(1, 31))))
    return {
        "standard-update": run(STANDARD, 2, 1, 0, [0] * 8),
        "alternate-update": run(ALTERNATE, 2, 1, 0, [0] * 4),
        "standard-sequence-wrap": run(STANDARD, 4, 254, 0, [0, 3] * 16),
        "alternate-duplicate": run(ALTERNATE, 3, 1, 0, [0, 2, 0, 0, 2, 0, 0, 0, 2]),
        "standard-overlong-read": run(STANDARD, 1, 5, 2, raw_overlong + [0, 0]),
        "link-fails": run(STANDARD, 2, 1, 1, [0, 0, 0xFF, 0]),
    }


def main():
    for target, files in {
        "image_version": image_version(),
        "answers": answers(),
        "report_descriptor": report_descriptor(),
        "uevent": uevent(),
        "shared_options": shared_options(),
        "cli_options": cli_options(),
        "worker_steps": worker_steps(),
        "text_escape": text_escape(),
    }.items():
        folder = CORPUS / target
        folder.mkdir(parents=True, exist_ok=True)
        for name, content in files.items():
            (folder / name).write_bytes(content)


if __name__ == "__main__":
    main()
