"""The interpreter lock: parse_file, write_file and write_str let other Python threads run
during their long parts; parse_str holds the lock throughout.

The tests avoid timing. With a very long switch interval the calling thread keeps the lock
unless it releases it itself, so a second thread that has been woken can run only while a
call has released the lock. FIFOs make two checks exact: parse_file can only finish reading,
and write_file can only finish writing, if a Python thread feeds or drains the pipe meanwhile.
"""

import os
import subprocess
import sys
import threading

import pytest

import mopsel._mopsel as mm
from mopsel_testlib import SMALL_MPS, WRITER_MPS, WRITER_TEXT, generated_mps, gzip_member, snapshot

BIG_COLUMNS = 150_000
BIG_ROWS = 5_000


@pytest.fixture(scope="module")
def big(tmp_path_factory):
    text = generated_mps(BIG_COLUMNS, BIG_ROWS)
    path = tmp_path_factory.mktemp("lock") / "big.mps"
    path.write_text(text)
    return {"text": text, "path": str(path), "model": mm.parse_file(str(path))}


@pytest.fixture
def long_switch_interval():
    old = sys.getswitchinterval()
    sys.setswitchinterval(1000.0)
    try:
        yield
    finally:
        sys.setswitchinterval(old)


def _ran_during(call) -> bool:
    """True when a woken second thread ran while `call` was in progress."""
    go = threading.Event()
    ran = []

    def other():
        go.wait()
        ran.append(True)

    t = threading.Thread(target=other)
    t.start()
    go.set()
    # Give the woken thread time to queue for the lock without releasing it ourselves.
    spin = 0
    for _ in range(200_000):
        spin += 1
    call()
    seen = bool(ran)  # read before anything here can release the lock
    t.join()
    assert ran == [True]
    return seen


@pytest.mark.parametrize(
    "name, releases",
    [("parse_file", True), ("write_file", True), ("write_str", True), ("parse_str", False)],
)
def test_other_thread_progress(name, releases, big, tmp_path, long_switch_interval):
    out = str(tmp_path / "out.mps")
    calls = {
        "parse_file": lambda: mm.parse_file(big["path"]),
        "parse_str": lambda: mm.parse_str(big["text"]),
        "write_file": lambda: mm.write_file(big["model"], out),
        "write_str": lambda: mm.write_str(big["model"]),
    }
    assert _ran_during(calls[name]) is releases


def _watchdog(fifo: str, mode: str):
    """A separate process that unblocks the FIFO after a while, so that a call that wrongly
    holds the lock fails the test instead of hanging it."""
    code = (
        "import os, sys, time\n"
        "time.sleep(60)\n"
        "fifo, mode = sys.argv[1], sys.argv[2]\n"
        "try:\n"
        "    fd = os.open(fifo, (os.O_WRONLY if mode == 'w' else os.O_RDONLY) | os.O_NONBLOCK)\n"
        "except OSError:\n"
        "    sys.exit(0)\n"
        "if mode == 'w':\n"
        "    os.write(fd, b'watchdog')\n"
        "else:\n"
        "    while os.read(fd, 65536): pass\n"
        "os.close(fd)\n"
    )
    return subprocess.Popen([sys.executable, "-c", code, fifo, mode])


def _unblock_feeder(fifo: str, t: threading.Thread) -> None:
    """Lets a thread stuck in opening the FIFO for writing finish (failure path only)."""
    t.join(timeout=30)
    if t.is_alive():
        fd = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
        t.join(timeout=30)
        os.close(fd)


def _unblock_drainer(fifo: str, t: threading.Thread) -> None:
    """Lets a thread stuck in opening the FIFO for reading finish (failure path only)."""
    t.join(timeout=30)
    if t.is_alive():
        os.close(os.open(fifo, os.O_WRONLY | os.O_NONBLOCK))
        t.join(timeout=30)


@pytest.mark.parametrize(
    "name, payload",
    [("model.mps", SMALL_MPS.encode()), ("model.mps.gz", gzip_member(SMALL_MPS.encode()))],
)
def test_parse_file_reads_a_fifo_fed_by_another_thread(name, payload, tmp_path):
    fifo = str(tmp_path / name)
    os.mkfifo(fifo)
    dog = _watchdog(fifo, "w")

    def feed():
        with open(fifo, "wb") as f:
            for i in range(0, len(payload), 100):
                f.write(payload[i : i + 100])
                f.flush()

    t = threading.Thread(target=feed)
    t.start()
    try:
        model = mm.parse_file(fifo)
    finally:
        _unblock_feeder(fifo, t)
        dog.kill()
        dog.wait()
    assert snapshot(model) == snapshot(mm.parse_str(SMALL_MPS))


def test_write_file_into_a_fifo_drained_by_another_thread(tmp_path):
    fifo = str(tmp_path / "out.mps")
    os.mkfifo(fifo)
    dog = _watchdog(fifo, "r")
    model = mm.parse_str(WRITER_MPS)
    got = []

    def drain():
        with open(fifo, "rb") as f:
            got.append(f.read())

    t = threading.Thread(target=drain)
    t.start()
    try:
        assert mm.write_file(model, fifo) is None
    finally:
        _unblock_drainer(fifo, t)
        dog.kill()
        dog.wait()
    assert got == [WRITER_TEXT.encode()]


@pytest.mark.stress
def test_threads_parse_and_write_concurrently(tmp_path):
    text = generated_mps(3000, 300)
    path = tmp_path / "m.mps"
    path.write_text(text)
    expected = mm.write_str(mm.parse_str(text))
    errors = []

    def worker(k):
        try:
            for i in range(20):
                m = mm.parse_file(str(path)) if (i + k) % 2 else mm.parse_str(text)
                if mm.write_str(m) != expected:
                    errors.append(f"thread {k} round {i}: text differs")
                out = tmp_path / f"t{k}.mps"
                mm.write_file(m, str(out))
                if out.read_text() != expected:
                    errors.append(f"thread {k} round {i}: file differs")
        except BaseException as exc:  # noqa: B902
            errors.append(repr(exc))

    threads = [threading.Thread(target=worker, args=(k,)) for k in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == []
