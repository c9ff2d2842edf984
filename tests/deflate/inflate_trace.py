"""A small DEFLATE decoder for tests that records the structure of a stream:
each block's type and final flag, and every symbol (literal byte or
(length, distance) match, plus the length code used). Python's zlib checks
that the data is right; this tells the tests how it was coded."""


class BitReader:
    def __init__(self, data):
        self.data = data
        self.pos = 0  # bit position

    def bit(self):
        byte = self.data[self.pos >> 3]
        b = (byte >> (self.pos & 7)) & 1
        self.pos += 1
        return b

    def bits(self, n):
        v = 0
        for i in range(n):
            v |= self.bit() << i
        return v

    def align(self):
        self.pos = (self.pos + 7) & ~7


LEN_BASE = [3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31, 35, 43, 51, 59,
            67, 83, 99, 115, 131, 163, 195, 227, 258]
LEN_EXTRA = [0] * 8 + [1] * 4 + [2] * 4 + [3] * 4 + [4] * 4 + [5] * 4 + [0]
DIST_BASE = [1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129, 193, 257, 385, 513, 769,
             1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577]
DIST_EXTRA = [0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10,
              11, 11, 12, 12, 13, 13]
BL_ORDER = [16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15]


def make_decoder(lengths):
    """Canonical code lengths -> dict (length, code) -> symbol. Raises on an
    over-subscribed set."""
    max_len = max(lengths) if lengths else 0
    counts = [0] * 16
    for l in lengths:
        counts[l] += 1
    counts[0] = 0
    left = 1
    for l in range(1, 16):
        left = left * 2 - counts[l]
        if left < 0:
            raise ValueError("over-subscribed code")
    code = 0
    next_code = [0] * 16
    for l in range(1, 16):
        code = (code + counts[l - 1]) << 1
        next_code[l] = code
    table = {}
    for sym, l in enumerate(lengths):
        if l:
            table[(l, next_code[l])] = sym
            next_code[l] += 1
    return table, max_len


def read_sym(br, dec):
    table, max_len = dec
    code = 0
    for l in range(1, max_len + 1):
        code = (code << 1) | br.bit()
        s = table.get((l, code))
        if s is not None:
            return s
    raise ValueError("bad code")


def fixed_decoders():
    ll = [8] * 144 + [9] * 112 + [7] * 24 + [8] * 8
    return make_decoder(ll), make_decoder([5] * 30)


def inflate(data):
    """Returns (output bytes, blocks). Each block is a dict with 'type'
    (0 stored, 1 fixed, 2 dynamic), 'final', 'start'/'end' bit positions,
    'symbols' (ints for literals, tuples (length, distance, length_code) for
    matches) and, for dynamic blocks, 'll_lengths' and 'd_lengths'."""
    br = BitReader(data)
    out = bytearray()
    blocks = []
    while True:
        start = br.pos
        final = br.bit()
        btype = br.bits(2)
        blk = {"type": btype, "final": final, "start": start, "symbols": []}
        if btype == 0:
            br.align()
            n = br.bits(16)
            nn = br.bits(16)
            if n != (~nn & 0xFFFF):
                raise ValueError("stored length check")
            p = br.pos >> 3
            out += data[p:p + n]
            br.pos += 8 * n
            blk["stored_len"] = n
        elif btype in (1, 2):
            if btype == 1:
                lit, dist = fixed_decoders()
            else:
                hlit = br.bits(5) + 257
                hdist = br.bits(5) + 1
                hclen = br.bits(4) + 4
                cl = [0] * 19
                for i in range(hclen):
                    cl[BL_ORDER[i]] = br.bits(3)
                cldec = make_decoder(cl)
                lens = []
                while len(lens) < hlit + hdist:
                    s = read_sym(br, cldec)
                    if s < 16:
                        lens.append(s)
                    elif s == 16:
                        lens += [lens[-1]] * (3 + br.bits(2))
                    elif s == 17:
                        lens += [0] * (3 + br.bits(3))
                    else:
                        lens += [0] * (11 + br.bits(7))
                if len(lens) != hlit + hdist:
                    raise ValueError("code lengths overrun")
                blk["ll_lengths"] = lens[:hlit]
                blk["d_lengths"] = lens[hlit:]
                blk["bl_lengths"] = cl
                lit = make_decoder(lens[:hlit])
                dist = make_decoder(lens[hlit:])
            while True:
                s = read_sym(br, lit)
                if s < 256:
                    out.append(s)
                    blk["symbols"].append(s)
                elif s == 256:
                    break
                else:
                    c = s - 257
                    length = LEN_BASE[c] + br.bits(LEN_EXTRA[c])
                    dc = read_sym(br, dist)
                    d = DIST_BASE[dc] + br.bits(DIST_EXTRA[dc])
                    if d > len(out):
                        raise ValueError("distance too far back")
                    for _ in range(length):
                        out.append(out[-d])
                    blk["symbols"].append((length, d, s))
        else:
            raise ValueError("bad block type")
        blk["end"] = br.pos
        blocks.append(blk)
        if final:
            break
    return bytes(out), blocks
