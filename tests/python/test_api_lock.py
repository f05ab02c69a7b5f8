"""The interpreter lock: parse_file, write_file and write_str let other Python threads run
during their long parts; parse_str holds the lock throughout.

No timing: with a very long switch interval the calling thread keeps the lock unless it
releases it itself, so a woken second thread can run only while a call has released it.
FIFOs make two checks exact: parse_file can only finish reading, and write_file can only
finish writing, if a Python thread feeds or drains the pipe meanwhile."""

import os
import subprocess
import sys
import threading

import pytest

import mopsel._mopsel as mm
from mopsel_testlib import SMALL_MPS, WRITER_MPS, WRITER_TEXT, generated_mps, gzip_member, snapshot


@pytest.fixture(scope="module")
def big(tmp_path_factory):
    text = generated_mps(150_000, 5_000)
    path = tmp_path_factory.mktemp("lock") / "big.mps"
    path.write_text(text)
    return {"text": text, "path": str(path), "model": mm.parse_file(str(path))}


@pytest.fixture
def long_switch_interval():
    old = sys.getswitchinterval()
    sys.setswitchinterval(1000.0)
    yield
    sys.setswitchinterval(old)


def _ran_during(call) -> bool:
    """True when a woken second thread ran while `call` was in progress."""
    go, ran = threading.Event(), []
    t = threading.Thread(target=lambda: (go.wait(), ran.append(True)))
    t.start()
    go.set()
    for _ in range(200_000):  # let the woken thread queue for the lock; we do not release it
        pass
    call()
    seen = bool(ran)  # read before anything here can release the lock
    t.join()
    assert ran == [True]
    return seen


@pytest.mark.parametrize("name, releases", [("parse_file", True), ("write_file", True), ("write_str", True),
                                            ("parse_str", False)])
def test_other_thread_progress(name, releases, big, tmp_path, long_switch_interval):
    calls = {
        "parse_file": lambda: mm.parse_file(big["path"]),
        "parse_str": lambda: mm.parse_str(big["text"]),
        "write_file": lambda: mm.write_file(big["model"], str(tmp_path / "out.mps")),
        "write_str": lambda: mm.write_str(big["model"]),
    }
    assert _ran_during(calls[name]) is releases


# A separate process that opens the FIFO for reading and writing after a minute (which
# never blocks) and puts foreign bytes into it, so that a call that wrongly holds the lock,
# or a peer thread left waiting in open(), ends with a failed test instead of a hang.
WATCHDOG = "import os, sys, time; time.sleep(60); os.write(os.open(sys.argv[1], os.O_RDWR), b'dog'); time.sleep(5)"


def _through_fifo(fifo, peer, call):
    """Runs `call` while a Python thread runs `peer` on the other end of `fifo`."""
    os.mkfifo(fifo)
    dog = subprocess.Popen([sys.executable, "-c", WATCHDOG, fifo])
    t = threading.Thread(target=peer)
    t.start()
    try:
        return call()
    finally:
        t.join(timeout=120)
        dog.kill()
        dog.wait()


@pytest.mark.parametrize("name, payload", [("model.mps", SMALL_MPS.encode()),
                                           ("model.mps.gz", gzip_member(SMALL_MPS.encode()))])
def test_parse_file_reads_a_fifo_fed_by_another_thread(name, payload, tmp_path):
    fifo = str(tmp_path / name)

    def feed():
        with open(fifo, "wb") as f:
            for i in range(0, len(payload), 100):
                f.write(payload[i: i + 100])
                f.flush()

    model = _through_fifo(fifo, feed, lambda: mm.parse_file(fifo))
    assert snapshot(model) == snapshot(mm.parse_str(SMALL_MPS))


def test_write_file_into_a_fifo_drained_by_another_thread(tmp_path):
    fifo, got, model = str(tmp_path / "out.mps"), [], mm.parse_str(WRITER_MPS)

    def drain():
        with open(fifo, "rb") as f:
            got.append(f.read())

    assert _through_fifo(fifo, drain, lambda: mm.write_file(model, fifo)) is None
    assert got == [WRITER_TEXT.encode()]
