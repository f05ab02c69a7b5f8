"""Failures as Python exceptions: ValueError with the core's text for everything parse_file
and parse_str cannot load or read (plain and gzip), OSError with the bare error text for
write_file. The core's rules themselves are covered case by case by the C++ suite."""

import gzip
import os

import pytest

import mopsel._mopsel as mm
from mopsel_testlib import SMALL_MPS, WRITER_TEXT, gzip_member, snapshot

PARSE_FAIL = "Failed to parse MPS file"
HEADER_ERR = "Read error: invalid gzip header"
CHECKSUM_ERR = "Read error: corrupt gzip stream does not have a matching checksum"
EOF_ERR = "Read error: unexpected end of file"
PAYLOAD = SMALL_MPS.encode()


def value_error(call, arg, keep=False):
    """The text of the ValueError that `call(arg)` raises (or the exception itself)."""
    with pytest.raises(ValueError) as ei:
        call(arg)
    assert type(ei.value) is ValueError and len(ei.value.args) == 1
    return ei.value if keep else ei.value.args[0]


# File name, its bytes, the message. Reader failures, gzip failures (one per message, and
# the checksums), and the ".gz" suffix rule (only that exact suffix is inflated).
PARSE_FILE_FAILURES = {
    "empty": ("m.mps", b"", PARSE_FAIL),
    "no_endata": ("m.mps", b"NAME x\nROWS\n N obj\nCOLUMNS\n    x obj 1\n", PARSE_FAIL),
    "unknown_row_type": ("m.mps", b"ROWS\n N obj\n X r1\nENDATA\n", PARSE_FAIL),
    # Names must reach Python as str: bytes that are not UTF-8 fail the read there.
    "model_name_not_utf8": ("m.mps", PAYLOAD.replace(b"NAME          demo", b"NAME caf\xe9"), PARSE_FAIL),
    "column_name_surrogate": ("m.mps", PAYLOAD.replace(b"    x  c2  2", b"    x\xed\xa0\x80  c2  2"), PARSE_FAIL),
    "gzip_empty_file": ("m.gz", b"", EOF_ERR),
    "gzip_plain_text": ("m.mps.gz", PAYLOAD, HEADER_ERR),
    "gzip_reserved_flag": ("m.mps.gz", gzip_member(PAYLOAD, flags=0x20), HEADER_ERR),
    "gzip_header_crc": ("m.mps.gz", gzip_member(PAYLOAD, fname=b"n", fhcrc=True, hcrc_delta=1), CHECKSUM_ERR),
    "gzip_crc32": ("m.mps.gz", gzip_member(PAYLOAD, crc_delta=1 << 31), CHECKSUM_ERR),
    "gzip_isize": ("m.mps.gz", gzip_member(PAYLOAD, isize_delta=1), CHECKSUM_ERR),
    "gzip_deflate": ("m.mps.gz", gzip_member(PAYLOAD, body=b"\xff" * 64), "Read error: corrupt deflate stream"),
    "gzip_field_too_long": ("m.mps.gz", gzip_member(PAYLOAD, fname=b"n" * 65536),
                            "Read error: gzip header field too long"),
    "gzip_empty_payload": ("m.mps.gz", gzip_member(b""), PARSE_FAIL),
    "gzip_under_other_suffix": ("m.mps.GZ", gzip_member(PAYLOAD), PARSE_FAIL),
}


@pytest.mark.parametrize("name, data, message", PARSE_FILE_FAILURES.values(), ids=list(PARSE_FILE_FAILURES))
def test_parse_file_failures_are_value_errors(name, data, message, tmp_path):
    (tmp_path / name).write_bytes(data)
    assert value_error(mm.parse_file, str(tmp_path / name)) == message
    if not name.endswith("gz") and data.isascii():
        errors = [value_error(mm.parse_str, data.decode(), keep=True) for _ in range(2)]
        assert errors[0].args == (message,) and errors[0] is not errors[1]  # a new object each time


# Notes say where and why (PEP 678), without changing the exception's type or message.
NOTES = {
    "no_endata": (b"ROWS\n N obj\n", ["{where}2: no ENDATA line", "    2 |  N obj"]),
    "row_type": (b"ROWS\r\n N obj\r\n X r1\r\nENDATA\r\n",
                 ["{where}3: unknown row type 'X' in ROWS", "    3 |  X r1"]),
    "bound_type": (b"COLUMNS\n x r 1\nBOUNDS\n lo B x 1\nENDATA\n",
                   ["{where}4: unknown bound type 'lo' in BOUNDS", "    4 |  lo B x 1"]),
    "column_not_utf8": (b"COLUMNS\n    ca\xf1e r 1\nENDATA\n",
                        ["{where}2: column name is not valid UTF-8 (byte 0xF1 at column 7)",
                         "    2 |     ca\\xf1e r 1"]),
}


@pytest.mark.parametrize("data, notes", NOTES.values(), ids=list(NOTES))
def test_failures_carry_notes_saying_where_and_why(data, notes, tmp_path):
    path = tmp_path / "m.mps"
    path.write_bytes(data)
    e = value_error(mm.parse_file, str(path), keep=True)
    assert e.args == (PARSE_FAIL,)
    assert e.__notes__ == [note.format(where=f"{path}:") for note in notes]
    if data.isascii():
        e = value_error(mm.parse_str, data.decode(), keep=True)
        assert e.__notes__ == [note.format(where="line ") for note in notes]
    missing = str(tmp_path / "missing.mps")
    e = value_error(mm.parse_file, missing, keep=True)
    assert e.__notes__ == [f"{missing}: No such file or directory (os error 2)"]


@pytest.mark.parametrize("path, message", [
    ("missing.mps", "Cannot open file: No such file or directory (os error 2)"),
    ("", "Cannot open file: No such file or directory (os error 2)"),
    ("a\0b.mps", "Cannot open file: file name contained an unexpected NUL byte"),
    (".", "Read error: Is a directory (os error 21)"),
])
def test_load_failures_are_value_errors(path, message, tmp_path):
    assert value_error(mm.parse_file, str(tmp_path / path) if path else "") == message


def test_non_ascii_paths_are_used_as_utf8(tmp_path, writer_model):
    p = tmp_path / "modèle_ü_✓.mps"
    assert mm.write_file(writer_model, str(p)) is None
    assert os.path.exists(os.fsencode(str(p)))
    assert p.read_text() == WRITER_TEXT
    assert snapshot(mm.parse_file(str(p))) == snapshot(writer_model)


LOADS_AS_SMALL = {
    # Bytes that are not UTF-8 outside names (comments, lines before the first header) are passed over.
    "not_utf8_outside_names": ("m.mps", b"junk \xc3\x28 before\n* caf\xe9 \xff\xfe\n" + PAYLOAD),
    "gzip_every_header_field": ("m.mps.gz", gzip_member(PAYLOAD, extra=b"AB\x04\x00wxyz", fname=b"m.mps",
                                                        fcomment=b"note", fhcrc=True, flags=1)),
    "python_gzip": ("m.mps.gz", gzip.compress(PAYLOAD)),
    # Members read one after another, as gzip -d does (cat a.gz b.gz, pigz, bgzip);
    # text after ENDATA is never read.
    "gzip_concatenated": ("m.mps.gz", gzip_member(PAYLOAD) + gzip.compress(b"NAME other\nENDATA\n")),
    "gzip_members_split_mid_line": ("m.mps.gz", b"".join(
        gzip.compress(PAYLOAD[a:b]) for a, b in [(0, 7), (7, 100), (100, 101), (101, None)])),
    "gzip_members_with_zero_padding": ("m.mps.gz", gzip.compress(PAYLOAD[:50]) + bytes(512)
                                       + gzip.compress(PAYLOAD[50:]) + bytes(100)),
    # A UTF-8 byte-order mark, as Windows editors write it.
    "byte_order_mark": ("m.mps", b"\xef\xbb\xbf" + PAYLOAD),
}


@pytest.mark.parametrize("name, data", LOADS_AS_SMALL.values(), ids=list(LOADS_AS_SMALL))
def test_files_that_load(name, data, tmp_path):
    (tmp_path / name).write_bytes(data)
    assert snapshot(mm.parse_file(str(tmp_path / name))) == snapshot(mm.parse_str(SMALL_MPS))


def test_gzip_truncated_at_every_offset(tmp_path):
    data = gzip_member(PAYLOAD, extra=b"ab", fname=b"f.mps", fcomment=b"c", fhcrc=True)
    p = tmp_path / "cut.gz"
    for cut in range(len(data)):
        p.write_bytes(data[:cut])
        assert value_error(mm.parse_file, str(p)) == EOF_ERR, cut


def test_write_file_failures_are_os_errors(tmp_path, writer_model):
    (tmp_path / "adir").mkdir()
    cases = [
        (tmp_path / "missing" / "out.mps", "No such file or directory (os error 2)"),
        (tmp_path / "adir", "Is a directory (os error 21)"),
        (f"{tmp_path}/a\0b.mps", "file name contained an unexpected NUL byte"),
    ]
    if os.path.exists("/dev/full"):  # even the final write-out of a short text is checked
        cases.append(("/dev/full", "No space left on device (os error 28)"))
    for path, message in cases:
        with pytest.raises(OSError) as ei:
            mm.write_file(writer_model, str(path))
        exc = ei.value
        assert type(exc) is OSError and exc.args == (message,), path
        assert exc.errno is None and exc.filename is None
    assert sorted(os.listdir(tmp_path)) == ["adir"] and os.listdir(tmp_path / "adir") == []
