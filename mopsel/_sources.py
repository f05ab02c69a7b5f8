"""Where a model comes from: a path, a binary file object or bytes of MPS text, compressed or
not. The compression is decided from the first bytes, never from the name."""

from __future__ import annotations

import bz2
import gzip
import io
import lzma
import os
import zlib
from typing import BinaryIO, NamedTuple, Optional, Union

from mopsel._errors import MpsError
from mopsel._extras import require

# First bytes of each compressed format. gzip is expanded by the native loader for paths.
_MAGIC = (
    (b"\x1f\x8b", "gzip"),
    (b"BZh", "bz2"),
    (b"\xfd7zXZ\x00", "xz"),
    (b"\x28\xb5\x2f\xfd", "zstd"),
)
_LONGEST_MAGIC = 6


class Source(NamedTuple):
    """What the native reader is given: a path (bytes, used as the system takes it, with
    `gzip` telling it to expand the file) or the text itself, and the name for messages."""

    path: Optional[bytes]
    text: Optional[bytes]
    gzip: bool
    name: Optional[str]


def compression_of(head: bytes) -> Optional[str]:
    """The compressed format that `head` (the first bytes) starts, or None for plain text."""
    for magic, kind in _MAGIC:
        if head.startswith(magic):
            return kind
    return None


def _zstd_reader(raw: BinaryIO) -> bytes:
    """Every frame of a zstd stream: the standard library's module from Python 3.14 on,
    else the zstandard package (mopsel[zstd])."""
    try:
        from compression import zstd  # type: ignore[import-not-found]
    except ImportError:
        zstandard = require("zstandard", "reading zstd-compressed input")
        with zstandard.ZstdDecompressor().stream_reader(raw, read_across_frames=True) as reader:
            return reader.read()
    return zstd.decompress(raw.read())


# What the decompressors raise for data they cannot decode (zstandard's ZstdError and the
# standard library's compression.zstd.ZstdError derive from Exception only: told by name).
_DATA_ERRORS = (OSError, EOFError, zlib.error, lzma.LZMAError, ValueError)


def _decompress(kind: str, raw: BinaryIO, name: Optional[str]) -> bytes:
    """The whole decompressed text (all members or streams) of `raw`, or MpsError."""
    try:
        if kind == "gzip":
            with gzip.GzipFile(fileobj=raw) as f:
                return f.read()
        if kind == "bz2":
            with bz2.BZ2File(raw) as f:
                return f.read()
        if kind == "xz":
            with lzma.LZMAFile(raw) as f:
                return f.read()
        return _zstd_reader(raw)
    except Exception as exc:
        if isinstance(exc, ImportError) or not (isinstance(exc, _DATA_ERRORS) or type(exc).__name__ == "ZstdError"):
            raise
        raise MpsError(f"{kind} data cannot be decompressed: {exc}", path=name, code="compressed-data") from exc


def _from_path(path: Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]) -> Source:
    name = os.fsdecode(path)
    encoded = os.fsencode(path)
    # open() raises the OSError subclass that fits, with errno and filename.
    with open(os.fspath(path), "rb") as f:
        kind = compression_of(f.read(_LONGEST_MAGIC))
        if kind is None or kind == "gzip":
            return Source(encoded, None, kind == "gzip", name)
        f.seek(0)
        return Source(None, _decompress(kind, f, name), False, name)


def _from_bytes(data: bytes, name: Optional[str]) -> Source:
    kind = compression_of(data[:_LONGEST_MAGIC])
    if kind is not None:
        data = _decompress(kind, io.BytesIO(data), name)
    return Source(None, data, False, name)


def resolve(source: object) -> Source:
    """The Source of what read() and check() were given (TypeError for anything else): a str or
    os.PathLike is a path, bytes, bytearray and memoryview are the input itself."""
    if isinstance(source, str):
        if "\n" in source or "\r" in source:
            # The text is not echoed: it may be large.
            raise TypeError(
                "source: a str is a path, and this one holds a line break; pass MPS text as bytes "
                "(text.encode()) or through mopsel.parse_str"
            )
        return _from_path(source)
    if isinstance(source, os.PathLike):
        return _from_path(source)
    if isinstance(source, bytes):
        return _from_bytes(source, None)
    if isinstance(source, (bytearray, memoryview)):
        return _from_bytes(bytes(source), None)
    read = getattr(source, "read", None)
    if callable(read):
        if isinstance(source, io.TextIOBase):
            raise TypeError("source: a text file object; open the file in binary mode ('rb')")
        data = read()
        if not isinstance(data, (bytes, bytearray, memoryview)):
            raise TypeError(f"source: read() returned {type(data).__name__}, not bytes; open the file in binary mode")
        name = getattr(source, "name", None)
        return _from_bytes(bytes(data), os.fsdecode(name) if isinstance(name, (str, bytes)) else None)
    raise TypeError(
        f"source: expected a path, a binary file object or bytes of MPS text, got {type(source).__name__}"
    )
