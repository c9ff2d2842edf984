"""Round trips of the compressor through Python's zlib (raw DEFLATE) as a
black-box inflater, plus structural checks with the tracing decoder in
inflate_trace.py."""
import os
import random
import subprocess
import zlib

import pytest

from inflate_trace import inflate

TOOL = os.environ.get("DEFLATE_TOOL")


def compress(data, level=8, max_pull=0):
    args = [TOOL, str(level)]
    if max_pull:
        args.append(str(max_pull))
    proc = subprocess.run(args, input=data, capture_output=True, timeout=120)
    err = proc.stderr.decode()
    assert proc.returncode == 0, err
    assert err.startswith("size=")
    size = int(err.split()[0][5:])
    assert size == len(proc.stdout), "reported size differs from the bytes pushed"
    return proc.stdout


def roundtrip(data, **kw):
    out = compress(data, **kw)
    assert zlib.decompress(out, -15) == data
    return out


# ---- inputs -------------------------------------------------------------

WORDS = ("the of and to in is that for it as was with be by on not he this are or "
         "his from at which but have an they you were her she there been one all "
         "compressor window match literal distance block header archive entry "
         "deflate huffman tree length code buffer stream input output").split()


def text(n, seed=1):
    r = random.Random(seed)
    parts = []
    size = 0
    while size < n:
        w = r.choice(WORDS) if r.random() < 0.8 else "".join(
            r.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(r.randint(2, 9)))
        sep = r.choice([" ", " ", " ", ", ", ".\n", "\n"])
        parts.append(w + sep)
        size += len(w) + len(sep)
    return "".join(parts).encode()[:n]


def random_bytes(n, seed=2):
    return random.Random(seed).randbytes(n)


def skewed(n, seed=3):
    # Byte k appears with probability about 2^-(k+1): very uneven
    # frequencies push code lengths past 15 before limiting.
    r = random.Random(seed)
    out = bytearray()
    for _ in range(n):
        k = 0
        while r.random() < 0.5 and k < 40:
            k += 1
        out.append(k * 5 % 256)
    return bytes(out)


def binary_records(n, seed=4):
    r = random.Random(seed)
    out = bytearray()
    while len(out) < n:
        out += (r.randrange(1 << 32)).to_bytes(4, "little")
        out += bytes(12)
        out += r.choice([b"\x7fELF", b"\x55\x48\x89\xe5", b"\xc3\x90\x90\x90"])
    return bytes(out[:n])


def mixed(n, seed=5):
    r = random.Random(seed)
    out = bytearray()
    makers = [text, random_bytes, skewed, binary_records,
              lambda k, s: bytes(k), lambda k, s: b"abcdefgh" * (k // 8)]
    while len(out) < n:
        k = r.randint(1000, 300000)
        out += r.choice(makers)(k, r.randrange(1000))
    return bytes(out[:n])


# ---- round trips --------------------------------------------------------

INPUTS = {
    "one byte": lambda: b"a",
    "two bytes": lambda: b"ab",
    "three equal": lambda: b"aaa",
    "all zero": lambda: bytes(300000),
    "random": lambda: random_bytes(300000),
    "text": lambda: text(400000),
    "long repeats": lambda: b"xyz" * 120000,
    "skewed": lambda: skewed(300000),
    "records": lambda: binary_records(500000),
    "mixed 3 MB": lambda: mixed(3 << 20),
}


@pytest.mark.parametrize("name", list(INPUTS))
def test_roundtrip(name):
    roundtrip(INPUTS[name]())


@pytest.mark.parametrize("level", [4, 5, 6, 7, 8])
def test_every_level_roundtrips(level):
    data = mixed(600000, seed=level)
    roundtrip(data, level=level)


def test_short_reads_give_the_same_stream():
    data = text(150000) + random_bytes(40000) + text(90000, seed=9)
    whole = roundtrip(data)
    assert roundtrip(data, max_pull=1) == whole
    assert roundtrip(data, max_pull=4093) == whole


@pytest.mark.parametrize("level", [0, 1, 2, 3, 9])
def test_unsupported_levels_are_refused(level):
    proc = subprocess.run([TOOL, str(level)], input=b"data", capture_output=True, timeout=30)
    assert proc.returncode == 1
    assert proc.stderr.decode().strip() == "error=bad pack level"
    assert proc.stdout == b""


def test_level_flag():
    proc = subprocess.run([TOOL, "8"], input=b"x", capture_output=True, timeout=30)
    assert proc.stderr.decode().split()[1] == "flags=2"
    proc = subprocess.run([TOOL, "6"], input=b"x", capture_output=True, timeout=30)
    assert proc.stderr.decode().split()[1] == "flags=0"


# ---- exact bytes and stream structure -----------------------------------

def test_empty_input_is_one_fixed_block():
    assert roundtrip(b"") == b"\x03\x00"


def test_incompressible_data_is_stored():
    data = random_bytes(20000, seed=11)
    out = roundtrip(data)
    assert len(out) == len(data) + 5
    assert out[:5] == bytes([0x01]) + len(data).to_bytes(2, "little") + \
        (len(data) ^ 0xFFFF).to_bytes(2, "little")
    assert out[5:] == data


def test_large_random_input_is_stored_blocks():
    data = random_bytes(200000, seed=12)
    out = roundtrip(data)
    _, blocks = inflate(out)
    assert all(b["type"] == 0 for b in blocks)
    assert len(out) == len(data) + 5 * len(blocks)


def test_tiny_inputs_are_literals():
    for data in (b"a", b"ab", b"aaa"[:2]):
        _, blocks = inflate(roundtrip(data))
        assert len(blocks) == 1 and blocks[0]["type"] == 1
        assert blocks[0]["symbols"] == list(data)


def test_long_runs_use_length_code_285():
    out = roundtrip(b"xyz" * 5000)
    _, blocks = inflate(out)
    matches = [s for b in blocks for s in b["symbols"] if isinstance(s, tuple)]
    full = [s for s in matches if s[0] == 258]
    assert full and all(s[2] == 285 for s in full)
    assert all(s[2] != 284 or s[0] < 258 for s in matches)


def symbols_by_offset(blocks):
    pos = 0
    at = {}
    for b in blocks:
        for s in b["symbols"]:
            at[pos] = s
            pos += s[0] if isinstance(s, tuple) else 1
    return at


def far_match_input(key, distance):
    # `key` at offset 1 and again `distance` bytes later, with filler from
    # other bytes in between, so the only match for the second copy is the
    # first one.
    r = random.Random(distance)
    filler = bytes(r.randrange(0x80, 0x100) for _ in range(distance - len(key) - 1))
    data = b"\x01" + key + b"\x02" + filler + key + b"\x03" + bytes(r.randrange(0x80, 0x100) for _ in range(50))
    return data, 1 + distance


@pytest.mark.parametrize("distance,used", [(4000, True), (4096, True), (4097, False), (9000, False)])
def test_three_byte_matches_far_back(distance, used):
    data, offset = far_match_input(b"KEY", distance)
    _, blocks = inflate(roundtrip(data))
    sym = symbols_by_offset(blocks)[offset]
    if used:
        assert sym[:2] == (3, distance)
    else:
        assert sym == ord("K")


def test_four_byte_match_far_back_is_used():
    data, offset = far_match_input(b"KEYS", 9000)
    _, blocks = inflate(roundtrip(data))
    assert symbols_by_offset(blocks)[offset][:2] == (4, 9000)


@pytest.mark.parametrize("size", [65280, 65536, 65537, 98304])
def test_inputs_ending_near_a_slide(size):
    unit = text(7000, seed=size)
    roundtrip((unit * (size // len(unit) + 1))[:size])
    roundtrip(random_bytes(size, seed=size))


def test_window_slides_and_distances_stay_in_range():
    data = text(200000, seed=21)
    out, blocks = inflate(roundtrip(data))
    assert out == data
    dists = [s[1] for b in blocks for s in b["symbols"] if isinstance(s, tuple)]
    assert max(dists) <= 32506
    assert max(dists) > 20000  # far matches are found after the slides too


def test_code_lengths_stay_within_limits_for_skewed_data():
    data = skewed(120000, seed=31)
    _, blocks = inflate(roundtrip(data))
    dyn = [b for b in blocks if b["type"] == 2]
    assert dyn
    for b in dyn:
        assert max(b["ll_lengths"]) <= 15 and max(b["d_lengths"]) <= 15
        assert max(b["bl_lengths"]) <= 7
