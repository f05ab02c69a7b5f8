"""Failures as Python exceptions: ValueError with the core's text for everything parse_file
and parse_str cannot load or read (plain and gzip), OSError with the bare error text for
write_file. The core's rules themselves are covered case by case by the C++ suite."""

import gzip
import os

import pytest

import mopsel._mopsel as mm
from mopsel_testlib import SMALL_MPS, WRITER_TEXT, generated_mps, gzip_member, snapshot

PARSE_FAIL = "Failed to parse MPS file"
HEADER_ERR = "Read error: invalid gzip header"
CHECKSUM_ERR = "Read error: corrupt gzip stream does not have a matching checksum"
EOF_ERR = "Read error: unexpected end of file"
PAYLOAD = SMALL_MPS.encode()


def value_error(call, *args) -> str:
    with pytest.raises(ValueError) as ei:
        call(*args)
    assert type(ei.value) is ValueError and len(ei.value.args) == 1
    return ei.value.args[0]


BAD_TEXTS = {
    "empty": b"",
    "no_endata": b"NAME x\nROWS\n N obj\nCOLUMNS\n    x obj 1\n",
    "unknown_row_type": b"ROWS\n N obj\n X r1\nENDATA\n",
    # Names must reach Python as str; bytes that are not UTF-8 fail the read there ...
    "model_name_not_utf8": PAYLOAD.replace(b"NAME          demo", b"NAME caf\xe9"),
    "column_name_surrogate": PAYLOAD.replace(b"    x  c2  2", b"    x\xed\xa0\x80  c2  2"),
}


@pytest.mark.parametrize("data", BAD_TEXTS.values(), ids=list(BAD_TEXTS))
def test_reader_failures_are_value_errors(data, tmp_path):
    p = tmp_path / "bad.mps"
    p.write_bytes(data)
    assert value_error(mm.parse_file, str(p)) == PARSE_FAIL
    if data.isascii():
        assert value_error(mm.parse_str, data.decode()) == PARSE_FAIL


def test_each_failure_raises_a_new_exception_object():
    errors = []
    for _ in range(2):
        with pytest.raises(ValueError) as ei:
            mm.parse_str("")
        errors.append(ei.value)
    assert errors[0] is not errors[1]


def test_bytes_outside_names_are_passed_over(tmp_path):
    # ... and anywhere else (comments, lines before the first header) they change nothing.
    p = tmp_path / "latin1.mps"
    p.write_bytes(b"junk \xc3\x28 before\n* caf\xe9 \xff\xfe\n" + PAYLOAD)
    assert snapshot(mm.parse_file(str(p))) == snapshot(mm.parse_str(SMALL_MPS))


def test_load_failures_are_value_errors(tmp_path):
    (tmp_path / "dir.mps").mkdir()
    for name, data in [("empty.mps", b""), ("empty.gz", b""), ("plain.mps.gz", PAYLOAD)]:
        (tmp_path / name).write_bytes(data)
    cases = [
        (tmp_path / "missing.mps", "Cannot open file: No such file or directory (os error 2)"),
        ("", "Cannot open file: No such file or directory (os error 2)"),
        (f"{tmp_path}/a\0b.mps", "Cannot open file: file name contained an unexpected NUL byte"),
        (tmp_path / "dir.mps", "Read error: Is a directory (os error 21)"),
        (tmp_path / "empty.mps", PARSE_FAIL),
        (tmp_path / "empty.gz", EOF_ERR),
        (tmp_path / "plain.mps.gz", HEADER_ERR),
    ]
    for path, message in cases:
        assert value_error(mm.parse_file, str(path)) == message, path


def test_non_ascii_paths_are_used_as_utf8(tmp_path, writer_model):
    p = tmp_path / "modèle_ü_✓.mps"
    assert mm.write_file(writer_model, str(p)) is None
    assert os.path.exists(os.fsencode(str(p)))
    assert p.read_text() == WRITER_TEXT
    assert snapshot(mm.parse_file(str(p))) == snapshot(writer_model)


BIG = generated_mps(3000, 400)  # larger than one input buffer of the inflater
GZIP_GOOD = {
    "every_header_field": (PAYLOAD, gzip_member(PAYLOAD, extra=b"AB\x04\x00wxyz", fname=b"m.mps",
                                                fcomment=b"note", fhcrc=True, flags=1)),
    "python_gzip_large": (BIG.encode(), gzip.compress(BIG.encode())),
    # Only the first member counts; what follows is neither read nor checked.
    "concatenated": (PAYLOAD, gzip_member(PAYLOAD) + gzip.compress(b"NAME other\nENDATA\n")),
    "followed_by_broken_member": (PAYLOAD, gzip_member(PAYLOAD) + gzip_member(PAYLOAD, crc_delta=1)[:30]),
}


@pytest.mark.parametrize("payload, data", GZIP_GOOD.values(), ids=list(GZIP_GOOD))
def test_gzip_members_that_load(payload, data, tmp_path):
    p = tmp_path / "model.mps.gz"
    p.write_bytes(data)
    assert snapshot(mm.parse_file(str(p))) == snapshot(mm.parse_str(payload.decode()))


GZIP_BAD = {
    "header_crc": (gzip_member(PAYLOAD, fname=b"n", fhcrc=True, hcrc_delta=1), CHECKSUM_ERR),
    "crc32": (gzip_member(PAYLOAD, crc_delta=1 << 31), CHECKSUM_ERR),
    "isize": (gzip_member(PAYLOAD, isize_delta=1), CHECKSUM_ERR),
    "reserved_flag": (gzip_member(PAYLOAD, flags=0x20), HEADER_ERR),
    "deflate": (gzip_member(PAYLOAD, body=b"\xff" * 64), "Read error: corrupt deflate stream"),
    "field_too_long": (gzip_member(PAYLOAD, fname=b"n" * 65536), "Read error: gzip header field too long"),
    "empty_payload": (gzip_member(b""), PARSE_FAIL),
}


@pytest.mark.parametrize("data, message", GZIP_BAD.values(), ids=list(GZIP_BAD))
def test_gzip_members_that_fail(data, message, tmp_path):
    p = tmp_path / "model.mps.gz"
    p.write_bytes(data)
    assert value_error(mm.parse_file, str(p)) == message


def test_gzip_truncated_at_every_offset_and_suffix_rule(tmp_path):
    data = gzip_member(PAYLOAD, extra=b"ab", fname=b"f.mps", fcomment=b"c", fhcrc=True)
    p = tmp_path / "cut.gz"
    for cut in range(len(data)):
        p.write_bytes(data[:cut])
        assert value_error(mm.parse_file, str(p)) == EOF_ERR, cut
    # Only a name ending in ".gz" is inflated: the same bytes elsewhere reach the reader raw.
    p = tmp_path / "packed.mps.GZ"
    p.write_bytes(data)
    assert value_error(mm.parse_file, str(p)) == PARSE_FAIL


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
