"""Failures of loading, reading and writing as Python exceptions: ValueError for everything
parse_file and parse_str cannot read, IOError with the bare error text for write_file."""

import os
import stat

import pytest

import mopsel._mopsel as mm
from mopsel_testlib import EMPTY_MPS, SMALL_MPS, WRITER_TEXT, python_is_root, snapshot

PARSE_FAIL = "Failed to parse MPS file"

# Texts the reader rejects.
BAD_TEXTS = {
    "empty": "",
    "blank": "   \n\n",
    "no_endata": "NAME x\nROWS\n N obj\nCOLUMNS\n    x obj 1\n",
    "lower_case_row_type": "ROWS\n n obj\nENDATA\n",
    "unknown_row_type": "ROWS\n N obj\n X r1\nENDATA\n",
    "unknown_bound_type": "ROWS\n N obj\nCOLUMNS\n    x obj 1\nBOUNDS\n XX BND x 1\nENDATA\n",
    "lower_case_bound_type": "ROWS\n N obj\nCOLUMNS\n    x obj 1\nBOUNDS\n up BND x 1\nENDATA\n",
    "indented_endata_in_bounds": "ROWS\n N obj\nBOUNDS\n  ENDATA\n",
    "endless_unsupported_section": "ROWS\n N obj\nQUADOBJ\n    x x 1\n",
}


@pytest.mark.parametrize("text", BAD_TEXTS.values(), ids=list(BAD_TEXTS))
def test_reader_failures_are_value_errors(text, tmp_path):
    with pytest.raises(ValueError) as ei:
        mm.parse_str(text)
    assert type(ei.value) is ValueError
    assert ei.value.args == (PARSE_FAIL,)
    # The same text from a file fails the same way.
    p = tmp_path / "bad.mps"
    p.write_text(text)
    with pytest.raises(ValueError) as ei:
        mm.parse_file(str(p))
    assert type(ei.value) is ValueError
    assert ei.value.args == (PARSE_FAIL,)


@pytest.mark.parametrize(
    "data, ok",
    [
        (b"* caf\xe9 \xff\xfe comment\n" + SMALL_MPS.encode(), True),
        (b"junk \xc3\x28 before the first header\n" + SMALL_MPS.encode(), True),
        (SMALL_MPS.encode().replace(b"NAME          demo", b"NAME caf\xe9"), False),
        (SMALL_MPS.encode().replace(b" L  c1", b" L  c\xff1").replace(b"  c1  ", b"  c\xff1  "), False),
        (SMALL_MPS.encode().replace(b"    x  c2  2", b"    x\xed\xa0\x80  c2  2"), False),
    ],
    ids=["comment", "before_header", "model_name", "row_name", "column_name_surrogate"],
)
def test_file_bytes_that_are_not_utf8(data, ok, tmp_path):
    # Names must reach Python as str; bytes outside names are passed over.
    p = tmp_path / "latin1.mps"
    p.write_bytes(data)
    if ok:
        assert snapshot(mm.parse_file(str(p))) == snapshot(mm.parse_str(SMALL_MPS))
    else:
        with pytest.raises(ValueError) as ei:
            mm.parse_file(str(p))
        assert ei.value.args == (PARSE_FAIL,)


def test_each_failure_raises_a_new_exception_object():
    errors = []
    for _ in range(2):
        try:
            mm.parse_str("")
        except ValueError as exc:
            errors.append(exc)
    assert errors[0] is not errors[1]


def _load_cases(tmp_path):
    missing = tmp_path / "missing.mps"
    directory = tmp_path / "dir.mps"
    directory.mkdir()
    empty_plain = tmp_path / "empty.mps"
    empty_plain.write_bytes(b"")
    empty_gz = tmp_path / "empty.gz"
    empty_gz.write_bytes(b"")
    plain_gz = tmp_path / "plain.mps.gz"
    plain_gz.write_text(SMALL_MPS)
    return [
        (str(missing), "Cannot open file: No such file or directory (os error 2)"),
        (str(tmp_path / "no" / "such" / "dir.mps"), "Cannot open file: No such file or directory (os error 2)"),
        (str(tmp_path / "a\0b.mps"), "Cannot open file: file name contained an unexpected NUL byte"),
        (str(missing) + "\0", "Cannot open file: file name contained an unexpected NUL byte"),
        ("", "Cannot open file: No such file or directory (os error 2)"),
        (str(directory), "Read error: Is a directory (os error 21)"),
        (str(empty_plain), PARSE_FAIL),
        (str(empty_gz), "Read error: unexpected end of file"),
        (str(plain_gz), "Read error: invalid gzip header"),
    ]


def test_load_failures_are_value_errors(tmp_path):
    for path, message in _load_cases(tmp_path):
        with pytest.raises(ValueError) as ei:
            mm.parse_file(path)
        assert type(ei.value) is ValueError, path
        assert ei.value.args == (message,), path


@pytest.mark.skipif(python_is_root(), reason="root may open files without read permission")
def test_unreadable_file(tmp_path):
    p = tmp_path / "locked.mps"
    p.write_text(SMALL_MPS)
    p.chmod(0)
    with pytest.raises(ValueError) as ei:
        mm.parse_file(str(p))
    assert ei.value.args == ("Cannot open file: Permission denied (os error 13)",)


def test_non_ascii_paths_are_used_as_utf8(tmp_path, writer_model):
    p = tmp_path / "modèle_ü_✓.mps"
    assert mm.write_file(writer_model, str(p)) is None
    assert os.path.exists(os.fsencode(str(p)))
    assert p.read_text() == WRITER_TEXT
    assert snapshot(mm.parse_file(str(p))) == snapshot(writer_model)


def _assert_io_error(exc_info, message):
    exc = exc_info.value
    assert type(exc) is OSError  # IOError is OSError
    assert exc.args == (message,)
    assert exc.errno is None
    assert exc.filename is None


def test_write_file_failures(tmp_path, writer_model):
    directory = tmp_path / "adir"
    directory.mkdir()
    cases = [
        (str(tmp_path / "missing" / "out.mps"), "No such file or directory (os error 2)"),
        (str(directory), "Is a directory (os error 21)"),
        (str(tmp_path / "a\0b.mps"), "file name contained an unexpected NUL byte"),
        ("", "No such file or directory (os error 2)"),
    ]
    for path, message in cases:
        with pytest.raises(OSError) as ei:
            mm.write_file(writer_model, path)
        _assert_io_error(ei, message)
    assert not (tmp_path / "missing").exists()
    assert sorted(os.listdir(tmp_path)) == ["adir"]
    assert os.listdir(directory) == []


@pytest.mark.skipif(not os.path.exists("/dev/full"), reason="/dev/full is not available")
@pytest.mark.parametrize("mps", [EMPTY_MPS, SMALL_MPS], ids=["empty_model", "small_model"])
def test_write_file_to_full_device(mps):
    # Even the final write-out of a short text must report its failure.
    with pytest.raises(OSError) as ei:
        mm.write_file(mm.parse_str(mps), "/dev/full")
    _assert_io_error(ei, "No space left on device (os error 28)")


@pytest.mark.skipif(python_is_root(), reason="root may write into read-only directories")
def test_write_file_permission_denied(tmp_path, writer_model):
    d = tmp_path / "ro"
    d.mkdir()
    d.chmod(stat.S_IRUSR | stat.S_IXUSR)
    with pytest.raises(OSError) as ei:
        mm.write_file(writer_model, str(d / "out.mps"))
    _assert_io_error(ei, "Permission denied (os error 13)")


def test_write_file_creates_truncates_and_keeps_gz_plain(tmp_path, writer_model):
    p = tmp_path / "out.mps"
    p.write_text("x" * 100_000)
    mm.write_file(writer_model, str(p))
    assert p.read_text() == WRITER_TEXT
    gz = tmp_path / "out.mps.gz"
    mm.write_file(writer_model, str(gz))
    assert gz.read_bytes() == WRITER_TEXT.encode()


def test_write_file_mode_follows_umask(tmp_path, writer_model):
    old = os.umask(0o027)
    try:
        p = tmp_path / "mode.mps"
        mm.write_file(writer_model, str(p))
    finally:
        os.umask(old)
    assert stat.S_IMODE(p.stat().st_mode) == 0o640
