"""Stress runs: random mutations of real models, threads parsing and writing while another
edits arrays in place, and thousands of parse/write cycles watched for memory and reference
growth. The short form runs in `make test`; MOPSEL_STRESS_LONG=1 runs the long form."""

from __future__ import annotations

import gc
import gzip
import os
import random
import sys
import threading
from pathlib import Path

import numpy as np
import pytest

import mopsel._mopsel as mm
from mopsel_testlib import SMALL_MPS, WRITER_MPS, generated_mps, rss_bytes, snapshot

pytestmark = pytest.mark.stress

LONG = os.environ.get("MOPSEL_STRESS_LONG") == "1"
SCALE = 50 if LONG else 1

PARSE_FAILURE = "Failed to parse MPS file"
LOAD_FAILURES = (
    "Read error: unexpected end of file",
    "Read error: invalid gzip header",
    "Read error: corrupt gzip stream does not have a matching checksum",
    "Read error: corrupt deflate stream",
    "Read error: gzip header field too long",
)

# Small real models (plain text); the built-in texts alone when the folder is absent.
SAMPLE_DIR = Path(__file__).resolve().parents[2].parent / "shared" / "data" / "sample"


def _seed_texts() -> list[bytes]:
    texts = [SMALL_MPS.encode(), WRITER_MPS.encode(), generated_mps(60, 20).encode()]
    if SAMPLE_DIR.is_dir():
        for path in sorted(SAMPLE_DIR.glob("*.mps")):
            if path.stat().st_size <= 30_000:
                texts.append(path.read_bytes())
    return texts


def check_model(m) -> None:
    """The invariants every model read from text meets."""
    n_row, n_col = m.num_row, m.num_col
    col_arrays = (m.col_cost, m.col_lower, m.col_upper, m.col_integrality, m.col_names)
    assert [len(a) for a in col_arrays] == [n_col] * 5
    assert [len(m.row_lower), len(m.row_upper), len(m.row_names)] == [n_row] * 3
    start, index, value = m.a_matrix.start, m.a_matrix.index, m.a_matrix.value
    assert len(start) == n_col + 1 and start[0] == 0 and np.all(np.diff(start.astype(np.int64)) >= 0)
    assert len(index) == len(value) == int(start[-1])
    assert np.all(index < n_row) and not np.any(value == 0.0) and np.all(m.col_integrality <= 3)
    for j in range(n_col):
        rows = index[start[j] : start[j + 1]]
        assert len(np.unique(rows)) == len(rows), f"row twice in column {j}"


# --------------------------------------------------------------------------------------
# Random mutations
# --------------------------------------------------------------------------------------

TOKENS = [
    b"ROWS", b"COLUMNS", b"RHS", b"RANGES", b"BOUNDS", b"ENDATA", b"NAME", b"OBJSENSE",
    b"MAX", b"QUADOBJ", b"'MARKER'", b"'INTORG'", b"'INTEND'", b" UP ", b" BV ", b" FR ",
    b" XX ", b" N ", b" n ", b"1e400", b"nan", b"-inf", b"1.5D+03", b"\r\n", b"\r", b"\t",
    b"\x0b", b"\x00", b"\xc2\xa0", b"\xff", b"* ROWS: 99999999999\n", b"\n\n",
]


def mutate(data: bytes, rng: random.Random) -> bytes:
    """A few random edits: byte flips, inserted tokens, deletions, duplicated or swapped
    lines, truncation."""
    buf = bytearray(data)
    for _ in range(rng.randint(1, 4)):
        op = rng.randrange(6)
        pos = rng.randrange(len(buf) + 1)
        if op == 0 and buf:
            buf[min(pos, len(buf) - 1)] = rng.randrange(256)
        elif op == 1:
            buf[pos:pos] = rng.choice(TOKENS)
        elif op == 2:
            del buf[pos : pos + rng.randint(1, 40)]
        elif op in (3, 4):
            lines = bytes(buf).split(b"\n")
            i, k = rng.randrange(len(lines)), rng.randrange(len(lines))
            if op == 3:
                lines.insert(k, lines[i])
            else:
                lines[i], lines[k] = lines[k], lines[i]
            buf = bytearray(b"\n".join(lines))
        else:
            del buf[pos:]
    return bytes(buf)


def parse_outcome(call, *args):
    """Model or the failure message; any other exception fails the test."""
    try:
        return call(*args)
    except ValueError as exc:
        return str(exc)


def test_mutated_models_through_parse_str_and_parse_file(tmp_path):
    rng = random.Random(20240608)
    seeds = _seed_texts()
    plain = tmp_path / "m.mps"
    packed = tmp_path / "m.mps.gz"
    counts = {"model": 0, "failure": 0}
    for round_ in range(300 * SCALE):
        mutant = mutate(rng.choice(seeds), rng)

        # parse_str sees text: the mutant decoded with replacement characters.
        text = mutant.decode("utf-8", errors="replace")
        got = parse_outcome(mm.parse_str, text)
        if isinstance(got, str):
            assert got == PARSE_FAILURE, (round_, got)
            counts["failure"] += 1
        else:
            check_model(got)
            counts["model"] += 1
            again = mm.parse_str(mm.write_str(got))  # whatever reads is written and reads again
            check_model(again)
            assert again.num_col == got.num_col

        # parse_file sees the raw bytes, invalid UTF-8 included.
        plain.write_bytes(mutant)
        got = parse_outcome(mm.parse_file, str(plain))
        if isinstance(got, str):
            assert got == PARSE_FAILURE, (round_, got)
        else:
            check_model(got)
            for name in got.row_names + got.col_names + [got.name, got.objective_name]:
                name.encode("utf-8")  # names are proper text

        # A mutated gzip stream: decoded text or one of the loader's messages.
        if round_ % 3 == 0:
            packed.write_bytes(mutate(gzip.compress(rng.choice(seeds), mtime=0), rng))
            got = parse_outcome(mm.parse_file, str(packed))
            if isinstance(got, str):
                assert got == PARSE_FAILURE or got in LOAD_FAILURES, (round_, got)
            else:
                check_model(got)
    # The mutations must exercise both outcomes, or the test proves little.
    assert counts["model"] > 10 and counts["failure"] > 10, counts


def _models_for_threads(tmp_path: Path) -> list[tuple[str, Path, dict]]:
    texts = [generated_mps(400, 60, name=f"g{k}") for k in range(3)] + [SMALL_MPS, WRITER_MPS]
    out = []
    for k, text in enumerate(texts):
        path = tmp_path / f"model{k}.mps"
        path.write_text(text)
        out.append((text, path, snapshot(mm.parse_str(text))))
    return out


def test_threads_parse_write_while_arrays_are_edited(tmp_path):
    """Eight threads parse and write the same and different models while another rewrites
    a shared model's arrays in place. Untouched models must parse and write as the
    reference; writes of the shared model must hold only values some edit stored."""
    models = _models_for_threads(tmp_path)
    texts_out = [mm.write_str(mm.parse_str(text)) for text, _, _ in models]
    shared = mm.parse_str(models[0][0])
    n_col = shared.num_col
    stop = threading.Event()
    generations: set[float] = set()
    errors: list[str] = []

    def edit(g: float) -> None:
        generations.add(g)  # announced before it is stored
        for arr in (shared.col_cost, shared.col_upper, shared.a_matrix.value):
            arr[:] = g  # whole-array edits; a writer may see a mix of generations
        shared.col_integrality[:] = int(g) % 2
        shared.row_upper[::2] = g

    def editor():
        g = 1.0
        try:
            while not stop.is_set():
                g += 1.0
                edit(g)
        except BaseException as exc:  # noqa: B902
            errors.append(f"editor: {exc!r}")

    def worker(k: int):
        rng = random.Random(k)
        try:
            for i in range(40 * SCALE):
                pick = rng.randrange(len(models))
                text, path, reference = models[pick]
                m = mm.parse_file(str(path)) if (i + k) % 2 else mm.parse_str(text)
                if snapshot(m) != reference:
                    errors.append(f"thread {k} round {i}: parse result differs")
                if mm.write_str(m) != texts_out[pick]:
                    errors.append(f"thread {k} round {i}: written text differs")
                if i % 2:
                    continue
                if i % 4 == 0:
                    out = tmp_path / f"t{k}.mps"
                    mm.write_file(shared, str(out))
                    back = mm.parse_file(str(out))
                else:
                    back = mm.parse_str(mm.write_str(shared))
                if back.num_col != n_col:
                    errors.append(f"thread {k} round {i}: column count changed")
                seen = set(back.col_cost.tolist()) | set(back.a_matrix.value.tolist())
                if not seen <= generations:
                    errors.append(f"thread {k} round {i}: values nobody stored: {sorted(seen - generations)[:5]}")
        except BaseException as exc:  # noqa: B902
            errors.append(f"thread {k}: {exc!r}")

    edit(1.0)
    edit_thread = threading.Thread(target=editor)
    edit_thread.start()
    threads = [threading.Thread(target=worker, args=(k,)) for k in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    stop.set()
    edit_thread.join()
    assert errors == []
    assert len(generations) > 2, "the editor never ran alongside the workers"


def _cycle(text: str, path: str, out: str, bad_text: str, to_file: bool) -> None:
    m = mm.parse_str(text)
    if to_file:  # creating a file costs milliseconds here; every few cycles is enough
        mm.write_file(m, out)
    m2 = mm.parse_file(out if to_file else path)
    s = mm.write_str(m2)
    assert len(s) > 0
    for call, arg in ((mm.parse_str, bad_text), (mm.parse_file, path + ".missing")):
        try:
            call(arg)
        except ValueError:
            pass
        else:
            raise AssertionError("expected a failure")
    m2.col_integrality[:1] = 9  # an invalid code makes writing fail cleanly
    try:
        mm.write_str(m2)
    except ValueError:
        pass
    else:
        raise AssertionError("expected a failure")


def test_thousands_of_cycles_keep_memory_and_references_flat(tmp_path):
    text = generated_mps(100, 20)
    bad_text = text.replace("ENDATA", "ENDAT")
    path = str(tmp_path / "in.mps")
    out = str(tmp_path / "out.mps")
    Path(path).write_text(text)
    tracked = (text, bad_text, path, out, mm.Model, mm.SparseMatrix, np.ndarray)

    for i in range(200):  # warm-up: allocator pools, NumPy caches, the type objects
        _cycle(text, path, out, bad_text, i % 8 == 0)
    gc.collect()
    refs_before = [sys.getrefcount(o) for o in tracked]
    objects_before = len(gc.get_objects())
    rss_before = rss_bytes()

    cycles = 2000 * (10 if LONG else 1)
    for i in range(cycles):
        _cycle(text, path, out, bad_text, i % 8 == 0)
    gc.collect()
    growth = rss_bytes() - rss_before
    assert [sys.getrefcount(o) for o in tracked] == refs_before
    assert len(gc.get_objects()) - objects_before < 50
    # One cycle handles about 8 KB of model text; a leak of one model's buffers or
    # one text per cycle would add well over 10 MiB.
    assert growth < 4 * 2**20, f"RSS grew by {growth / 2**20:.1f} MiB over {cycles} cycles"
