"""Careless and hostile use: names prepared to collide, Ctrl-C during long calls and blocking
files, writes that must not destroy the file they replace, gzip as other tools write it."""

from __future__ import annotations

import gzip
import os
import signal
import subprocess
import sys
import time

import numpy as np
import pytest

import mopsel._mopsel as mm
from mopsel_testlib import SMALL_MPS

PREFIX = "ZZZZZZZZ"


@pytest.fixture
def prepared_seed():
    """The name seed for which every 16-byte name starting with PREFIX hashes alike."""
    mm._fix_name_seed(int.from_bytes(PREFIX.encode(), "little"))
    yield
    mm._fix_name_seed(None)


def test_names_prepared_against_a_known_seed_read_right(prepared_seed):
    names = [PREFIX + "%08d" % i for i in range(5000)]
    text = "".join(
        ["ROWS\n N obj\n"]
        + [" G %s\n" % name for name in names]
        + ["COLUMNS\n"]
        + [" x %s %d\n" % (name, i + 1) for i, name in enumerate(names)]
        + ["RHS\n"]
        + [" rhs %s %d\n" % (name, -i) for i, name in enumerate(names)]
        + ["ENDATA\n"]
    )
    flooded = mm.parse_str(text)
    mm._fix_name_seed(None)
    spread = mm.parse_str(text)
    for model in (flooded, spread):
        assert list(model.a_matrix.index) == list(range(len(names)))
        assert np.array_equal(model.a_matrix.value, np.arange(1, len(names) + 1))
        assert np.array_equal(model.row_lower, -np.arange(len(names)))
    assert mm.write_str(flooded) == mm.write_str(spread)


# ---------------------------------------------------------------------------
# Ctrl-C. Each case runs in a child interpreter with Python's own SIGINT handler
# (a test runner may have started with SIGINT ignored). The child says "ready"
# just before its call; the signal is repeated until the child ends, so the
# outcome does not depend on when the call starts to wait, and a child that
# never ends fails the test instead of hanging it.

CHILD_PRELUDE = """
import signal, sys
def interrupt_once(*_, fired=[]):
    # Ctrl-C's handler, raising only once: the repeats must not hit the report.
    if not fired:
        fired.append(True)
        raise KeyboardInterrupt
signal.signal(signal.SIGINT, interrupt_once)
import mopsel._mopsel as mm
mm.parse_str("ROWS\\nENDATA\\n")  # NumPy is loaded before the call
"""


def run_interrupted(body: str, tmp_path, peer=None, send=True, seconds: float = 60.0) -> str:
    """Runs CHILD_PRELUDE + body in a child; once it prints "ready", runs peer()
    (which may block until the child's call has opened a FIFO), then sends SIGINT
    every 0.1 s (unless `send` is false) until the child exits. Returns what the
    child printed."""
    child = subprocess.Popen(
        [sys.executable, "-c", CHILD_PRELUDE + body], cwd=tmp_path, text=True,
        stdout=subprocess.PIPE, stderr=subprocess.PIPE,
    )
    try:
        assert child.stdout.readline() == "ready\n", child.stderr.read()
        # A peer's open returns once the child's call has opened the FIFO;
        # without one, the call gets a moment to reach its blocking point.
        held = peer() if peer else time.sleep(0.3)
        deadline = time.monotonic() + seconds
        while child.poll() is None:
            assert time.monotonic() < deadline, "the child did not stop on SIGINT"
            if send:
                os.kill(child.pid, signal.SIGINT)
            time.sleep(0.1)
        out, err = child.communicate()
        del held
        assert child.returncode == 0, err
        return out
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()


CALL_AND_REPORT = """
try:
    print("ready", flush=True)
    {call}
    print("finished")
except KeyboardInterrupt:
    print("KeyboardInterrupt")
except BaseException as exc:
    print(type(exc).__name__, exc)
# The parent repeats SIGINT until the child exits, and shutdown puts Python's own
# handler back to the default (killing): an ignored signal stays ignored.
signal.signal(signal.SIGINT, signal.SIG_IGN)
"""


@pytest.mark.parametrize("peer", ["none", "stalls"])
def test_ctrl_c_ends_a_read_from_a_fifo(peer, tmp_path):
    fifo = tmp_path / "model.mps"
    os.mkfifo(fifo)

    def stalled_writer():
        # Opening blocks until the child's call opens the FIFO; then a few bytes and no more.
        f = open(fifo, "w")
        f.write("ROWS\n")
        f.flush()
        return f

    out = run_interrupted(
        CALL_AND_REPORT.format(call=f"mm.parse_file({str(fifo)!r})"), tmp_path,
        peer=stalled_writer if peer == "stalls" else None,
    )
    assert out == "KeyboardInterrupt\n"


@pytest.mark.parametrize("peer", ["none", "stalls"])
def test_ctrl_c_ends_a_write_to_a_fifo(peer, tmp_path):
    fifo = tmp_path / "out.mps"
    os.mkfifo(fifo)

    def stalled_reader():
        return open(fifo, "rb")  # never read: the pipe fills and the child's write blocks

    # Some 600 kB of text: more than a pipe holds.
    body = (
        "model = mm.parse_str('ROWS\\n N obj\\nCOLUMNS\\n' + ''.join("
        "'    column_%d  obj  %d\\n' % (j, j + 1) for j in range(20000)) + 'ENDATA\\n')\n"
        + CALL_AND_REPORT.format(call=f"mm.write_file(model, {str(fifo)!r})")
    )
    out = run_interrupted(body, tmp_path, peer=stalled_reader if peer == "stalls" else None)
    assert out == "KeyboardInterrupt\n"


def test_ctrl_c_ends_a_long_parse_str(tmp_path):
    # parse_str holds the lock throughout; it runs the handlers itself. The alarm
    # goes off 10 ms into a parse of some 40 MB (far longer on any machine).
    body = """
text = "ROWS\\n N obj\\n L r\\nCOLUMNS\\n" + "    x  r  1.5  obj  2\\n" * 2_000_000 + "ENDATA\\n"
signal.signal(signal.SIGALRM, interrupt_once)
ended = []  # how parse_str itself ended: the exception must come out of the call
sys.setprofile(lambda frame, event, arg: ended.append(event) if getattr(arg, "__name__", "") == "parse_str" else None)
""" + CALL_AND_REPORT.format(call='signal.setitimer(signal.ITIMER_REAL, 0.01); mm.parse_str(text)') + """
sys.setprofile(None)
print(ended)
"""
    out = run_interrupted(body, tmp_path, send=False)
    assert out == "KeyboardInterrupt\n['c_call', 'c_exception']\n"


@pytest.mark.parametrize("piece", [4096, 1 << 17])
def test_ctrl_c_ends_a_gzip_read_while_it_is_inflated(piece, tmp_path):
    # The text is read while a helper thread inflates it (pieces of `piece` bytes):
    # the reader's polls, also while it waits for text, stop both threads.
    body = f"""
import gzip
text = "ROWS\\n N obj\\n L r\\nCOLUMNS\\n" + "    x  r  1.5  obj  2\\n" * 2_000_000 + "ENDATA\\n"
with gzip.open("model.mps.gz", "wt", compresslevel=1) as f:
    f.write(text)
mm._use_gzip_stream((0, 1 << 62, {piece}))
signal.signal(signal.SIGALRM, interrupt_once)
""" + CALL_AND_REPORT.format(call='signal.setitimer(signal.ITIMER_REAL, 0.01); mm.parse_file("model.mps.gz")') + """
mm._use_gzip_stream(None)
print(mm.parse_file("model.mps.gz").num_col)
"""
    out = run_interrupted(body, tmp_path, send=False)
    assert out == "KeyboardInterrupt\n1\n"


IMPORT_REFUSED = """
import glob, importlib.util, os, sys, tracemalloc
class Refuse:
    def find_spec(self, name, path=None, target=None):
        if name == "numpy":
            raise {exc}
sys.meta_path.insert(0, Refuse())
# The extension alone: the package around it imports NumPy itself.
package = importlib.util.find_spec("mopsel").submodule_search_locations[0]
spec = importlib.util.spec_from_file_location("_mopsel", glob.glob(os.path.join(package, "_mopsel*.so"))[0])
mm = importlib.util.module_from_spec(spec)
spec.loader.exec_module(mm)
text = {text!r}
with open("model.mps", "w") as f:
    f.write(text)
for call in (lambda: mm.parse_str(text), lambda: mm.parse_file("model.mps")):
    try:
        call()
    except BaseException as exc:
        print(type(exc).__name__, exc)
tracemalloc.start()
before = tracemalloc.get_traced_memory()[0]
for _ in range(50):
    try:
        mm.parse_str(text * 20)
    except BaseException:
        pass
print("grew", tracemalloc.get_traced_memory()[0] - before > 1_000_000)
sys.meta_path.pop(0)
print(mm.parse_str(text).num_row)
"""


@pytest.mark.parametrize(
    "exc, shown",
    [("KeyboardInterrupt", "KeyboardInterrupt "), ("RuntimeError('numpy is broken')", "RuntimeError numpy is broken")],
)
def test_an_exception_while_importing_numpy_propagates_as_itself(exc, shown, tmp_path):
    child = subprocess.run(
        [sys.executable, "-c", IMPORT_REFUSED.format(exc=exc, text=SMALL_MPS)],
        cwd=tmp_path, capture_output=True, text=True, timeout=60,
    )
    assert child.returncode == 0, child.stderr
    assert child.stdout.splitlines() == [shown, shown, "grew False", "3"]


# ---------------------------------------------------------------------------
# write_file replaces a file whole, or leaves it as it was.


def test_write_file_keeps_the_mode_and_replaces_what_a_link_names(tmp_path, small_model):
    target = tmp_path / "target.mps"
    target.write_text("old text\n")
    target.chmod(0o640)
    (tmp_path / "link.mps").symlink_to("target.mps")
    mm.write_file(small_model, str(tmp_path / "link.mps"))
    assert (tmp_path / "link.mps").is_symlink()
    assert target.read_text() == mm.write_str(small_model)
    assert target.stat().st_mode & 0o777 == 0o640
    assert sorted(os.listdir(tmp_path)) == ["link.mps", "target.mps"]


@pytest.mark.parametrize("name, gzipped", [("model.mps.gz", True), ("model.mps.GZ", False), ("model.mps", False)])
def test_write_file_gzips_what_parse_file_takes_for_gzip(name, gzipped, tmp_path, small_model):
    path = tmp_path / name
    mm.write_file(small_model, str(path))
    data = path.read_bytes()
    assert (gzip.decompress(data) if gzipped else data).decode() == mm.write_str(small_model)
    assert mm.write_str(mm.parse_file(str(path))) == mm.write_str(small_model)


def test_a_byte_order_mark_in_a_str_is_skipped():
    assert mm.write_str(mm.parse_str("\ufeff" + SMALL_MPS)) == mm.write_str(mm.parse_str(SMALL_MPS))
