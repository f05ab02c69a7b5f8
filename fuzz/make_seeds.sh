#!/usr/bin/env bash
# Builds the seed corpora of the fuzz targets (never committed):
#   <out>/read_mps, <out>/roundtrip,  MPS texts: hand-written edge cases, the MPS
#   <out>/thread_plans                texts embedded in the test suites, small
#                                     models from ../shared/data
#   <out>/read_lp                     LP texts of the test suites
#   <out>/load_source                 gzip files: the same texts compressed, with
#                                     every optional header field, two members,
#                                     cut short, damaged
# Usage: fuzz/make_seeds.sh [out-dir]   (default build/fuzz-corpus)
set -euo pipefail
cd "$(dirname "$0")/.."
OUT=${1:-build/fuzz-corpus}
DATA=${MOPSEL_SHARED_DATA:-../shared/data}
mkdir -p "$OUT/read_mps" "$OUT/roundtrip" "$OUT/thread_plans" "$OUT/load_source"

python3 - "$OUT" "$DATA" <<'PY'
import gzip, hashlib, os, re, struct, sys, zlib, glob
out, data = sys.argv[1], sys.argv[2]
MAX_TEXT = 24 * 1024          # keeps the fuzzers fast; bigger models add little
texts = {}

def add_text(tag, body):
    if isinstance(body, str):
        body = body.encode("utf-8", "surrogatepass")
    if body and len(body) <= MAX_TEXT:
        texts[tag + "-" + hashlib.sha1(body).hexdigest()[:10]] = body

# Hand-written corners of the format (markers, bound types, ranges, odd section
# orders, hints); the worked examples come from the test suites below.
add_text("bounds-all", """* ROWS: 2
* COLUMNS: (5)
* NONZERO: 6
NAME bnd
OBJSENSE MAX
ROWS
 N obj
 L r1
 G r2
 N extra
COLUMNS
 a obj 1 r1 2
 a r2 1.5D+03 extra 4
 b obj -inf r1 NaN
 c r1 1e400 r2 -0
RHS
 RHS obj 5 r1 10
 r2 -3
RANGES
 RNG r1 4 r2 -2
 r1 1e-13
BOUNDS
 LO BND a -1
 UP BND a 1e30
 FX BND b 2
 FR BND c
 MI BND d
 PL BND d
 BV BND e
 LI BND f 3
 UI BND f 9
 SC BND g 4
 SI BND h 7
 UP BND1 newcol 5
ENDATA
""")
add_text("odd-order", """NAME
BOUNDS
 UP BND x 4
COLUMNS
 x r 1
ROWS
 E r
COLUMNS
 x r 2
 y r 3
RHS
 RHS r 1
QUADOBJ
 x x 1
SOS
 S1 SOS
RANGES
 RNG r -2
ENDATA
""")
add_text("quadratic-sos-indicators", """NAME q
ROWS
 N obj
 L c1
 G c2
COLUMNS
 x obj 1 c1 1
 M 'MARKER' 'INTORG'
 b c2 1
 M 'MARKER' 'INTEND'
BOUNDS
 UP BND b 1
SOS
 S1 s1 3
    x 1
    b 2
QUADOBJ
 x x 2
 b x 1
QMATRIX
 x b 1
 b x 1
QCMATRIX c1
 x x 0.5
 x x 0.5
QSECTION c2
 b b 1
INDICATORS
 IF c1 b 1
ENDATA
""")
add_text("no-objective", "ROWS\n L Objective\n G r2\nCOLUMNS\n x artificial_empty_objective 3 r2 1\nRHS\n RHS artificial_empty_objective 1\nENDATA\n")
add_text("empty", "ROWS\nCOLUMNS\nENDATA\n")
add_text("crlf", "NAME x\r\nROWS\r\n N o\r\n E e\r\nCOLUMNS\r\n v o 1 e 1\r\nRHS\r\n R e 1\r\nENDATA\r\n")
add_text("blank-lines", "ROWS\n N o\n   \n L r\nCOLUMNS\n x o 1\n\t\n x r 1\n   ENDATA\nENDATA\n")
add_text("utf8-names", "NAME café\nROWS\n N ziel\n L ≤zeile\nCOLUMNS\n größe ziel 1 ≤zeile 2\nENDATA\n")
add_text("reserved-names", "ROWS\n N RHS1\n L RNG1\n L 'MARKER'\nCOLUMNS\n BND1 RNG1 1 'MARKER' 2\nRHS\n RHS1 RNG1 3\nBOUNDS\n UP BND1 BND1 4\nENDATA\n")

# MPS texts embedded in the test suites.
for path in glob.glob("tests/python/**/*.py", recursive=True) + glob.glob("tests/support/*.py"):
    src = open(path, encoding="utf-8", errors="replace").read()
    for m in re.finditer(r'(?s)(?:"""|\'\'\')(.*?)(?:"""|\'\'\')', src):
        body = m.group(1)
        if body.startswith("\\\n"):  # a string opened as """\ starts on the next line
            body = body[2:]
        if "ENDATA" in body.upper() and "ROWS" in body.upper():
            lines = body.split("\n")
            indent = min((len(l) - len(l.lstrip(" ")) for l in lines if l.strip()), default=0)
            add_text("pytest", "\n".join(l[indent:] for l in lines))
for path in glob.glob("tests/cpp/*.cpp"):
    src = open(path, encoding="utf-8", errors="replace").read()
    for m in re.finditer(r'(?s)R"([A-Za-z_]*)\((.*?)\)\1"', src):
        if "ENDATA" in m.group(2).upper():
            add_text("cpptest", m.group(2))

# Small real models.
for path in sorted(glob.glob(os.path.join(data, "sample", "*.mps"))):
    add_text("sample", open(path, "rb").read())
for path in sorted(glob.glob(os.path.join(data, "netlib", "*.gz")) + glob.glob(os.path.join(data, "miplib3", "*.gz"))):
    if os.path.getsize(path) <= 8192:
        try:
            add_text("real", gzip.open(path).read())
        except OSError:
            pass

for tag, body in texts.items():
    for target in ("read_mps", "roundtrip", "thread_plans"):
        open(os.path.join(out, target, tag), "wb").write(body)

# LP seeds: the LP texts of the test suites, C string literals (adjacent ones joined) and
# Python bytes literals that open with a section keyword.
os.makedirs(os.path.join(out, "read_lp"), exist_ok=True)
lp_open = re.compile(rb"^(\\[^\n]*\n)*(minimi[sz]e|maximi[sz]e|min|max)\b", re.I)
def add_lp(body):
    if body and len(body) <= MAX_TEXT and lp_open.match(body):
        open(os.path.join(out, "read_lp", "lp-" + hashlib.sha1(body).hexdigest()[:10]), "wb").write(body)
for path in glob.glob("tests/cpp/lp_*.cpp"):
    src = open(path, encoding="utf-8", errors="replace").read()
    for m in re.finditer(r'(?:"(?:[^"\\\n]|\\.)*"\s*)+', src):
        parts = re.findall(r'"((?:[^"\\\n]|\\.)*)"', m.group(0))
        add_lp("".join(parts).encode("latin-1", "backslashreplace").decode("unicode_escape").encode("latin-1", "replace"))
for path in glob.glob("tests/python/test_*lp*.py"):
    src = open(path, encoding="utf-8", errors="replace").read()
    for m in re.finditer(r'(?:b"(?:[^"\\\n]|\\.)*"\s*)+', src):
        parts = re.findall(r'b"((?:[^"\\\n]|\\.)*)"', m.group(0))
        add_lp("".join(parts).encode("latin-1", "backslashreplace").decode("unicode_escape").encode("latin-1", "replace"))

# gzip seeds: the texts compressed, plus every header feature and damage.
def member(body, flags=0, extra=b"", name=b"", comment=b"", hcrc=False, level=6):
    header = struct.pack("<BBBBIBB", 0x1F, 0x8B, 8, flags | (2 if hcrc else 0), 0, 0, 3)
    if flags & 4:
        header += struct.pack("<H", len(extra)) + extra
    if flags & 8:
        header += name + b"\0"
    if flags & 16:
        header += comment + b"\0"
    if hcrc:
        header += struct.pack("<H", zlib.crc32(header) & 0xFFFF)
    c = zlib.compressobj(level, zlib.DEFLATED, -15)
    deflated = c.compress(body) + c.flush()
    return header + deflated + struct.pack("<II", zlib.crc32(body), len(body) & 0xFFFFFFFF)

gz = {}
small = sorted(texts.items(), key=lambda kv: len(kv[1]))
for tag, body in small[:40]:
    gz["plain-" + tag] = member(body)
base = small[0][1] if small else b"ROWS\nCOLUMNS\nENDATA\n"
gz["all-fields"] = member(base, flags=4 | 8 | 16, extra=b"AB\x02\x00xy", name=b"model.mps", comment=b"seed", hcrc=True)
gz["stored"] = member(base, level=0)
gz["two-members"] = member(base) + member(b"second member\n")
gz["trailing-junk"] = member(base) + b"\x00junk"
gz["empty-member"] = member(b"")
whole = member(base, flags=8, name=b"x")
for cut in (0, 5, 10, 12, len(whole) // 2, len(whole) - 8, len(whole) - 1):
    gz["cut-%d" % cut] = whole[:cut]
bad = bytearray(whole); bad[-5] ^= 0xFF; gz["bad-crc"] = bytes(bad)
bad = bytearray(whole); bad[-1] ^= 0x01; gz["bad-size"] = bytes(bad)
gz["bad-flags"] = bytes([0x1F, 0x8B, 8, 0xE0]) + whole[4:]
gz["expands-1000x"] = member(b"\n" * 2000000, level=9)
for path in sorted(glob.glob(os.path.join(data, "netlib", "*.gz")))[:200]:
    if os.path.getsize(path) <= 4096:
        gz["real-" + os.path.basename(path)] = open(path, "rb").read()
for tag, blob in gz.items():
    open(os.path.join(out, "load_source", tag), "wb").write(blob)
print("seeds: %d texts, %d gzip files" % (len(texts), len(gz)))
PY
