#!/usr/bin/env python3
"""Builds large benchmark models by block-diagonal replication of real MPS files.

Each generated model is N copies of one real model side by side: block k renames every constraint
row and every column by appending "_k", shares the objective row, and keeps all numbers as they are,
so the constraint matrix is block-diagonal and the text looks like the source file. The output is
deterministic (same source, same size, same bytes) and is written as free-format MPS with explicit
RHS/RANGES/BOUNDS set names, so that every reader interprets it the same way.

The files go to a cache directory outside the repository ($MOPSEL_BENCH_DIR, default
/tmp/mopsel-bench, subfolder "generated"), together with manifest.json that records the block
count, text size and the expected row, column and entry counts of each file.

    python bench/make_big.py                 # the default set (100 MB and 1 GB, two shapes)
    python bench/make_big.py --sizes 100MB   # only the 100 MB files
    python bench/make_big.py --no-gzip       # skip the .gz copies
"""
from __future__ import annotations

import argparse
import gzip
import json
import os
import re
import shutil
import sys
import time
from dataclasses import dataclass, field
from pathlib import Path

DATA_DIR = Path(__file__).resolve().parent.parent.parent / "shared" / "data"
GENERATOR_VERSION = 1

# Shapes: a name, the real file it replicates, and what it stresses.
SHAPES = {
    # 36 rows, 87,482 columns of ~7 entries: few rows, a very long COLUMNS section.
    "few-rows": "miplib3/nw04.gz",
    # 6,071 rows for 1.5 MB of text: hundreds of thousands of rows at 100 MB (row name map).
    "many-rows": "netlib/dfl001.mps.gz",
}
DEFAULT_SIZES = ("100MB", "1GB")

SECTIONS = ("NAME", "OBJSENSE", "ROWS", "COLUMNS", "RHS", "RANGES", "BOUNDS", "ENDATA")
BOUND_TYPES_WITH_VALUE = {"UP", "LO", "FX", "LI", "UI", "SC"}
BOUND_TYPES_WITHOUT_VALUE = {"FR", "MI", "PL", "BV"}
TOKEN = re.compile(r"\S+")


class SourceError(Exception):
    """The source file uses a construct this generator does not replicate."""


@dataclass
class Template:
    """One section of the source, ready to be emitted once per block.

    `segments` are the section's text cut at every place where a block suffix goes, so block k's
    text is `suffix_k.join(segments)`: one C-level join per block and section.
    """
    header: str
    once: str = ""                      # text written once, before the blocks (objective row, OBJSENSE)
    segments: list[str] = field(default_factory=list)


@dataclass
class Source:
    name: str
    objective: str
    rows: int = 0                       # constraint rows (N rows excluded) per block
    cols: int = 0
    entries: int = 0                    # COLUMNS entries per block (objective entries excluded)
    sections: list[Template] = field(default_factory=list)


def parse_size(text: str) -> int:
    match = re.fullmatch(r"(\d+(?:\.\d+)?)\s*(KB|MB|GB)?", text.strip(), re.IGNORECASE)
    if not match:
        raise argparse.ArgumentTypeError(f"not a size: {text!r} (examples: 100MB, 1GB)")
    unit = {None: 1, "KB": 10**3, "MB": 10**6, "GB": 10**9}[match.group(2) and match.group(2).upper()]
    return int(float(match.group(1)) * unit)


class _Cutter:
    """Accumulates a section's text and cuts it after each name that takes the block suffix."""

    def __init__(self) -> None:
        self.segments: list[str] = []
        self.pending: list[str] = []

    def line(self, text: str, cut_after: list[int]) -> None:
        prev = 0
        for end in cut_after:
            self.pending.append(text[prev:end])
            self.segments.append("".join(self.pending))
            self.pending.clear()
            prev = end
        self.pending.append(text[prev:])
        self.pending.append("\n")

    def finish(self) -> list[str]:
        return self.segments + ["".join(self.pending)]


def load_source(path: Path) -> Source:
    """Reads a real MPS file (plain or .gz) into per-section templates."""
    opener = gzip.open if path.suffix == ".gz" else open
    with opener(path, "rt", encoding="ascii", newline=None) as handle:
        lines = handle.read().splitlines()

    source = Source(name="", objective="")
    section = None
    cutter = None
    template = None
    column = None

    def close_section() -> None:
        if template is not None:
            template.segments = cutter.finish()
            source.sections.append(template)

    for number, raw in enumerate(lines, 1):
        line = raw.rstrip()
        if not line or line.startswith("*"):
            continue  # comments (including the source's size hints) are not replicated
        if not line[0].isspace():
            word = line.split()[0].upper()
            if word not in SECTIONS:
                raise SourceError(f"{path.name}:{number}: section {word} is not replicated")
            close_section()
            template, cutter, section = None, None, word
            if word == "NAME":
                parts = line.split()
                source.name = parts[1] if len(parts) > 1 else path.stem
            elif word == "ENDATA":
                break
            else:
                template, cutter = Template(header=word), _Cutter()
            continue

        spans = [(m.start(), m.end(), m.group()) for m in TOKEN.finditer(line)]
        words = [s[2] for s in spans]
        if section == "OBJSENSE":
            template.once += line + "\n"
        elif section == "ROWS":
            if len(words) != 2:
                raise SourceError(f"{path.name}:{number}: ROWS record with {len(words)} fields")
            if words[0].upper() == "N":
                if source.objective:
                    raise SourceError(f"{path.name}:{number}: a second N row is not replicated")
                source.objective = words[1]
                template.once += line + "\n"
            else:
                source.rows += 1
                cutter.line(line, [spans[1][1]])
        elif section == "COLUMNS":
            if len(words) >= 3 and words[1].strip("'").upper() == "MARKER":
                cutter.line(line, [])
                continue
            if len(words) not in (3, 5):
                raise SourceError(f"{path.name}:{number}: COLUMNS record with {len(words)} fields")
            if words[0] != column:
                source.cols += 1
                column = words[0]
            cuts = [spans[0][1]]
            for i in (1, 3)[: (len(words) - 1) // 2]:
                if words[i] != source.objective:
                    cuts.append(spans[i][1])
                    source.entries += 1
            cutter.line(line, cuts)
        elif section in ("RHS", "RANGES"):
            if len(words) in (2, 4):  # no set name (fixed-format blank field): make it explicit
                line = f"    {section:<9} " + line.lstrip()
                spans = [(m.start(), m.end(), m.group()) for m in TOKEN.finditer(line)]
                words = [s[2] for s in spans]
            if len(words) not in (3, 5):
                raise SourceError(f"{path.name}:{number}: {section} record with {len(words)} fields")
            cuts = [spans[i][1] for i in (1, 3)[: (len(words) - 1) // 2] if words[i] != source.objective]
            cutter.line(line, cuts)
        elif section == "BOUNDS":
            kind = words[0].upper()
            expected = 3 if kind in BOUND_TYPES_WITHOUT_VALUE else 4
            if kind not in BOUND_TYPES_WITH_VALUE | BOUND_TYPES_WITHOUT_VALUE:
                raise SourceError(f"{path.name}:{number}: bound type {kind}")
            if len(words) == expected - 1:  # no set name
                line = f" {words[0]} BND       " + line[spans[0][1]:].lstrip()
                spans = [(m.start(), m.end(), m.group()) for m in TOKEN.finditer(line)]
                words = [s[2] for s in spans]
            if len(words) != expected:
                raise SourceError(f"{path.name}:{number}: BOUNDS record with {len(words)} fields")
            cutter.line(line, [spans[2][1]])
        else:
            raise SourceError(f"{path.name}:{number}: data record outside a section")
    else:
        raise SourceError(f"{path.name}: no ENDATA")
    if not source.objective:
        raise SourceError(f"{path.name}: no objective row")
    return source


def block_bytes(source: Source, suffix_len: int) -> int:
    return sum(len(s) for t in source.sections for s in t.segments) + suffix_len * sum(
        len(t.segments) - 1 for t in source.sections)


def write_model(source: Source, blocks: int, title: str, out: Path) -> int:
    """Writes `blocks` renamed copies of `source`; returns the number of bytes written."""
    tmp = out.with_name(out.name + ".part")
    written = 0
    with open(tmp, "w", encoding="ascii", newline="\n", buffering=1 << 22) as f:
        def put(text: str) -> None:
            nonlocal written
            f.write(text)
            written += len(text)

        put(f"* generated by bench/make_big.py from {source.name}: {blocks} blocks on the diagonal\n")
        put(f"NAME          {title}\n")
        for template in source.sections:
            put(template.header + "\n")
            put(template.once)
            if len(template.segments) == 1 and not template.segments[0]:
                continue
            for k in range(blocks):
                put(f"_{k}".join(template.segments))
        put("ENDATA\n")
    os.replace(tmp, out)
    return written


def gzip_file(plain: Path, out: Path) -> int:
    tmp = out.with_name(out.name + ".part")
    with open(plain, "rb") as src, open(tmp, "wb") as raw:
        # mtime=0 and no file name in the header: the same text gives the same bytes.
        with gzip.GzipFile(filename="", mode="wb", compresslevel=6, fileobj=raw, mtime=0) as dst:
            shutil.copyfileobj(src, dst, 1 << 22)
    os.replace(tmp, out)
    return out.stat().st_size


def size_label(size: int) -> str:
    if size % 10**9 == 0:
        return f"{size // 10**9}GB"
    return f"{size // 10**6}MB" if size >= 10**6 else f"{size // 10**3}KB"


def bench_dir() -> Path:
    return Path(os.environ.get("MOPSEL_BENCH_DIR", "/tmp/mopsel-bench"))


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--sizes", nargs="+", type=parse_size, default=[parse_size(s) for s in DEFAULT_SIZES],
                        help="text sizes to generate (default: 100MB 1GB)")
    parser.add_argument("--shapes", nargs="+", choices=sorted(SHAPES), default=sorted(SHAPES))
    parser.add_argument("--out", type=Path, default=None, help="output folder (default: $MOPSEL_BENCH_DIR/generated)")
    parser.add_argument("--data", type=Path, default=DATA_DIR, help="the shared real-model folder")
    parser.add_argument("--no-gzip", action="store_true", help="do not write .gz copies")
    parser.add_argument("--force", action="store_true", help="regenerate files that exist")
    args = parser.parse_args(argv)

    out_dir = args.out or bench_dir() / "generated"
    out_dir.mkdir(parents=True, exist_ok=True)
    manifest_path = out_dir / "manifest.json"
    manifest = json.loads(manifest_path.read_text()) if manifest_path.exists() else {}

    for shape in args.shapes:
        src_path = args.data / SHAPES[shape]
        if not src_path.exists():
            print(f"make_big: {src_path} is absent; cannot build the {shape} models", file=sys.stderr)
            return 1
        source = load_source(src_path)
        for size in sorted(args.sizes):
            label = f"{shape}-{size_label(size)}"
            plain = out_dir / f"{label}.mps"
            packed = out_dir / f"{label}.mps.gz"
            suffix_len = len(str(max(1, size // max(1, block_bytes(source, 2))))) + 1
            blocks = max(1, round(size / block_bytes(source, suffix_len)))
            entry = manifest.get(label, {})
            fresh = (not args.force and plain.exists() and entry.get("version") == GENERATOR_VERSION
                     and entry.get("blocks") == blocks and entry.get("text_bytes") == plain.stat().st_size)
            if not fresh:
                started = time.perf_counter()
                written = write_model(source, blocks, label.upper(), plain)
                entry = {
                    "version": GENERATOR_VERSION, "source": SHAPES[shape], "blocks": blocks,
                    "text_bytes": written, "num_row": source.rows * blocks, "num_col": source.cols * blocks,
                    "nnz": source.entries * blocks,
                }
                print(f"make_big: {plain} ({written / 1e6:.1f} MB, {blocks} blocks of {source.name}, "
                      f"{entry['num_row']} rows, {entry['num_col']} columns) in "
                      f"{time.perf_counter() - started:.1f} s")
                packed.unlink(missing_ok=True)
                entry.pop("gz_bytes", None)
            else:
                print(f"make_big: {plain} is up to date")
            if not args.no_gzip and not (packed.exists() and entry.get("gz_bytes") == packed.stat().st_size):
                started = time.perf_counter()
                entry["gz_bytes"] = gzip_file(plain, packed)
                print(f"make_big: {packed} ({entry['gz_bytes'] / 1e6:.1f} MB) in {time.perf_counter() - started:.1f} s")
            manifest[label] = entry
            manifest_path.write_text(json.dumps(manifest, indent=2, sort_keys=True) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
