"""parse_file on gzip input: members built by hand with every header field, truncations,
checksum changes, concatenated members, and the ".gz" suffix rule."""

import functools
import gzip
import zlib

import pytest

import mopsel._mopsel as mm
from mopsel_testlib import (
    FEXTRA,
    FNAME,
    FTEXT,
    SMALL_MPS,
    deflate_raw,
    gzip_header,
    gzip_member,
    snapshot,
)

PAYLOAD = SMALL_MPS.encode()
OTHER = SMALL_MPS.replace("demo", "other").encode()


@functools.cache
def reference():
    return snapshot(mm.parse_str(SMALL_MPS))


def load(tmp_path, data: bytes, name: str = "model.mps.gz"):
    p = tmp_path / name
    p.write_bytes(data)
    return mm.parse_file(str(p))


def read_error(tmp_path, data: bytes, name: str = "model.mps.gz") -> str:
    with pytest.raises(ValueError) as ei:
        load(tmp_path, data, name)
    assert type(ei.value) is ValueError
    assert len(ei.value.args) == 1
    return ei.value.args[0]


GOOD = {
    "minimal": gzip_member(PAYLOAD),
    "python_gzip": gzip.compress(PAYLOAD),
    "stored_blocks": gzip_member(PAYLOAD, level=0),
    "best_compression": gzip_member(PAYLOAD, level=9),
    "ftext": gzip_member(PAYLOAD, more_flags=FTEXT),
    "mtime_xfl_os": gzip_member(PAYLOAD, mtime=0xDEADBEEF, xfl=2, os_byte=3),
    "fextra": gzip_member(PAYLOAD, extra=b"AB\x04\x00wxyz"),
    "fextra_empty": gzip_member(PAYLOAD, extra=b""),
    "fextra_nul_bytes": gzip_member(PAYLOAD, extra=b"\0" * 300),
    "fname": gzip_member(PAYLOAD, fname=b"model.mps"),
    "fname_empty": gzip_member(PAYLOAD, fname=b""),
    "fcomment": gzip_member(PAYLOAD, fcomment=b"made by hand"),
    "fname_fcomment": gzip_member(PAYLOAD, fname=b"model.mps", fcomment=b"a comment"),
    "fhcrc": gzip_member(PAYLOAD, fhcrc=True),
    "everything": gzip_member(
        PAYLOAD,
        more_flags=FTEXT,
        extra=b"xy\x02\x00ab",
        fname=b"model.mps",
        fcomment=b"comment",
        fhcrc=True,
        mtime=12345,
    ),
    "fname_65535": gzip_member(PAYLOAD, fname=b"n" * 65535),
    "fcomment_65535_fhcrc": gzip_member(PAYLOAD, fcomment=b"c" * 65535, fhcrc=True),
    # Only the first member counts; what follows is neither read nor checked.
    "concatenated": gzip_member(PAYLOAD) + gzip_member(OTHER),
    "trailing_garbage": gzip_member(PAYLOAD) + b"\x00garbage\xff",
    "followed_by_broken_member": gzip_member(PAYLOAD) + gzip_member(OTHER, crc_delta=1)[:30],
}


@pytest.mark.parametrize("data", GOOD.values(), ids=list(GOOD))
def test_members_that_load(data, tmp_path):
    assert snapshot(load(tmp_path, data)) == reference()


def test_python_gzip_file_with_two_members_loads_first(tmp_path):
    p = tmp_path / "two.gz"
    with gzip.open(p, "wb") as f:
        f.write(PAYLOAD)
    with open(p, "ab") as raw:
        raw.write(gzip.compress(OTHER))
    assert snapshot(mm.parse_file(str(p))) == reference()


HEADER_ERR = "Read error: invalid gzip header"
CHECKSUM_ERR = "Read error: corrupt gzip stream does not have a matching checksum"
EOF_ERR = "Read error: unexpected end of file"
DEFLATE_ERR = "Read error: corrupt deflate stream"
FIELD_ERR = "Read error: gzip header field too long"

BAD = {
    "id1": (gzip_member(PAYLOAD, id1=0x1E), HEADER_ERR),
    "id2": (gzip_member(PAYLOAD, id2=0x8C), HEADER_ERR),
    "cm_7": (gzip_member(PAYLOAD, cm=7), HEADER_ERR),
    "reserved_bit_5": (gzip_member(PAYLOAD, more_flags=0x20), HEADER_ERR),
    "reserved_bit_6": (gzip_member(PAYLOAD, more_flags=0x40), HEADER_ERR),
    "reserved_bit_7": (gzip_member(PAYLOAD, more_flags=0x80), HEADER_ERR),
    "zlib_stream": (zlib.compress(PAYLOAD), HEADER_ERR),
    "fhcrc_wrong": (gzip_member(PAYLOAD, fhcrc=True, hcrc_delta=1), CHECKSUM_ERR),
    "fhcrc_wrong_with_fields": (
        gzip_member(PAYLOAD, fname=b"n", fcomment=b"c", extra=b"e", fhcrc=True, hcrc_delta=0x100),
        CHECKSUM_ERR,
    ),
    "crc_changed": (gzip_member(PAYLOAD, crc_delta=1), CHECKSUM_ERR),
    "crc_high_bit_changed": (gzip_member(PAYLOAD, crc_delta=1 << 31), CHECKSUM_ERR),
    "isize_plus_one": (gzip_member(PAYLOAD, isize_delta=1), CHECKSUM_ERR),
    "isize_minus_one": (gzip_member(PAYLOAD, isize_delta=-1), CHECKSUM_ERR),
    "isize_plus_2_pow_16": (gzip_member(PAYLOAD, isize_delta=1 << 16), CHECKSUM_ERR),
    "fname_65536": (gzip_member(PAYLOAD, fname=b"n" * 65536), FIELD_ERR),
    "fcomment_65536": (gzip_member(PAYLOAD, fcomment=b"c" * 65536), FIELD_ERR),
    "fcomment_huge": (gzip_member(PAYLOAD, fcomment=b"c" * 1_000_000), FIELD_ERR),
    "reserved_block_type": (gzip_member(PAYLOAD, body=b"\x07" + b"\0" * 16), DEFLATE_ERR),
    "garbage_body": (gzip_member(PAYLOAD, body=b"\xff" * 64), DEFLATE_ERR),
    "stored_length_mismatch": (
        gzip_member(PAYLOAD, body=b"\x01\x05\x00\x00\x00hello"),
        DEFLATE_ERR,
    ),
    "header_only": (gzip_header(), EOF_ERR),
    "fextra_longer_than_file": (gzip_header(more_flags=FEXTRA) + b"\xff\xff" + b"abc", EOF_ERR),
    "fname_without_terminator": (gzip_header(more_flags=FNAME) + b"name", EOF_ERR),
    "deflate_without_trailer": (gzip_header() + deflate_raw(PAYLOAD), EOF_ERR),
    "body_not_final": (gzip_header() + deflate_raw(PAYLOAD)[:-2], EOF_ERR),
    "trailer_short": (gzip_member(PAYLOAD)[:-1], EOF_ERR),
}


@pytest.mark.parametrize("data, message", BAD.values(), ids=list(BAD))
def test_members_that_fail(data, message, tmp_path):
    assert read_error(tmp_path, data) == message


@pytest.mark.parametrize(
    "name, fields",
    [
        ("plain", {}),
        ("all_fields", dict(extra=b"ab", fname=b"f.mps", fcomment=b"c", fhcrc=True, more_flags=FTEXT)),
    ],
)
def test_truncation_at_every_offset(name, fields, tmp_path):
    data = gzip_member(PAYLOAD, **fields)
    p = tmp_path / "cut.gz"
    for cut in range(len(data)):
        p.write_bytes(data[:cut])
        with pytest.raises(ValueError) as ei:
            mm.parse_file(str(p))
        assert ei.value.args == (EOF_ERR,), f"{name} cut at {cut} of {len(data)}"


def test_every_single_byte_change_of_the_trailer_is_detected(tmp_path):
    data = bytearray(gzip_member(PAYLOAD))
    for pos in range(len(data) - 8, len(data)):
        for bit in (0x01, 0x80):
            bad = bytearray(data)
            bad[pos] ^= bit
            assert read_error(tmp_path, bytes(bad)) == CHECKSUM_ERR, (pos, bit)


@pytest.mark.parametrize("suffix", [".GZ", ".Gz", ".gZ", ".gz.mps", ".gzip", "gz"])
def test_suffix_rule_hands_other_names_over_raw(suffix, tmp_path):
    # Plain text under such a name reads normally ...
    assert snapshot(load(tmp_path, PAYLOAD, "plain" + suffix)) == reference()
    # ... and gzip data under it reaches the reader as raw bytes.
    assert read_error(tmp_path, gzip_member(PAYLOAD), "packed" + suffix) == "Failed to parse MPS file"


def test_empty_payload_reaches_the_reader(tmp_path):
    assert read_error(tmp_path, gzip_member(b"")) == "Failed to parse MPS file"


def test_large_expansion(tmp_path):
    # About a thousandfold: 8 MB of long comment lines in front of the model.
    payload = (b"*" + b" " * 65535 + b"\n") * 128 + PAYLOAD
    data = gzip_member(payload, level=9)
    assert len(payload) > 800 * len(data)
    assert snapshot(load(tmp_path, data)) == reference()


def test_gzip_and_plain_give_identical_models(tmp_path):
    from mopsel_testlib import generated_mps

    text = generated_mps(3000, 400)
    plain = tmp_path / "gen.mps"
    plain.write_text(text)
    assert snapshot(load(tmp_path, gzip_member(text.encode()))) == snapshot(mm.parse_file(str(plain)))
