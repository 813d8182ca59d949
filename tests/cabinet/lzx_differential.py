#!/usr/bin/env python3
"""Differential check of the LZX decoder against cabextract.

Writes random but valid LZX cabinets (windows 2^15 to 2^21, verbatim, aligned
and uncompressed blocks, random complete trees sent as deltas with zero and
same-length runs, repeated and explicit offsets, matches across the window's
wrap, E8 translation, odd uncompressed blocks with the padding byte on either
side of a data-block cut) and extracts each with `cabextract -q -p` and with
`kestrin-cab x`; the outputs must be identical.

Usage: tests/cabinet/lzx_differential.py KESTRIN_CAB [COUNT] [FIRST_SEED]
Needs cabextract. Exits 1 on the first difference and keeps that cabinet.
"""
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile

def slot_tables():
    extra, base, b = [], [], 0
    for s in range(51):
        e = 0 if s < 4 else min((s - 2) // 2, 17)
        extra.append(e); base.append(b); b += 1 << e
    return extra, base
EXTRA, BASE = slot_tables()

def canonical(lengths):
    codes = [0] * len(lengths); code = 0
    for l in range(1, 17):
        for s, ls in enumerate(lengths):
            if ls == l: codes[s] = code; code += 1
        code <<= 1
    return codes

def random_complete(n, rng, maxlen=16):
    # A random complete code: split random leaves (or the shallowest) in two.
    lens = [0]
    while len(lens) < n:
        cand = [i for i, l in enumerate(lens) if l < maxlen]
        i = rng.choice(cand) if rng.random() < 0.5 else min(cand, key=lambda j: lens[j])
        l = lens.pop(i); lens += [l + 1, l + 1]
    rng.shuffle(lens)
    return lens

class W:
    def __init__(s): s.out = bytearray(); s.word = 0; s.filled = 0
    def bits(s, v, n):
        for i in range(n - 1, -1, -1):
            s.word = (s.word << 1) | ((v >> i) & 1); s.filled += 1
            if s.filled == 16:
                s.out += struct.pack('<H', s.word); s.word = 0; s.filled = 0
    def align_bytes(s): s.bits(0, 16 - s.filled)
    def flush(s):
        if s.filled: s.bits(0, 16 - s.filled)

PRE_L = [4]*12 + [5]*8
PRE_C = canonical(PRE_L)

def write_lengths(w, prev, new, a, b, rng):
    for l in PRE_L: w.bits(l, 4)
    put = lambda sym: w.bits(PRE_C[sym], PRE_L[sym])
    i = a
    while i < b:
        run = 0
        while i + run < b and new[i + run] == new[i] and run < 5: run += 1
        if new[i] == 0 and run >= 4 and rng.random() < 0.7:
            # zero run via 17
            n = 4; j = i
            while j + n < b and new[j + n] == 0 and n < 19: n += 1
            put(17); w.bits(n - 4, 4); i += n; continue
        if run >= 4 and rng.random() < 0.7:
            n = run
            put(19); w.bits(n - 4, 1); put((prev[i] - new[i] + 17) % 17); i += n; continue
        put((prev[i] - new[i] + 17) % 17); i += 1
    for k in range(a, b): prev[k] = new[k]

def gen(seed):
    rng = random.Random(seed)
    wbits = rng.choice([15, 15, 16, 17, 21])
    Wsize = 1 << wbits
    nslots = next(s for s in range(51) if BASE[s] >= Wsize)
    nmain = 256 + 8 * nslots
    total = rng.randint(1, 150000)
    e8 = rng.choice([0, 0, rng.randint(1, 1 << 24), 12000000])
    w = W(); blocks = []; frame_start = 0
    produced = 0
    def cut(w, usize):
        blocks.append((usize, bytes(w.out))); w.out = bytearray()
    w.bits(1 if e8 else 0, 1)
    if e8: w.bits(e8 >> 16, 16); w.bits(e8 & 0xFFFF, 16)
    prev_main = [0] * nmain; prev_len = [0] * 249
    R = [1, 1, 1]
    while produced < total:
        size = min(rng.randint(1, 70000), total - produced)
        btype = rng.choice([1, 1, 2, 2, 3])
        w.bits(btype, 3); w.bits(size >> 16, 8); w.bits((size >> 8) & 255, 8); w.bits(size & 255, 8)
        if btype == 3:
            w.align_bytes()
            R = [rng.choice([1, 2, 3, max(1, min(produced, Wsize - 3))]) for _ in range(3)]
            for r in R: w.out += struct.pack('<I', r)
            left = size
            while left:
                n = min(left, 32768 - (produced % 32768))
                for _ in range(n):
                    w.out.append(0xE8 if rng.random() < 0.05 else rng.randrange(256))
                produced += n; left -= n
                if produced % 32768 == 0 and (left or produced < total):
                    if left == 0 and size % 2 and rng.random() < 0.5:
                        w.out.append(0); size += 1  # padding before the cut
                    cut(w, 32768)
            if size % 2: w.out.append(0)
            w.word = 0; w.filled = 0
            continue
        aligned_l = None
        if btype == 2:
            aligned_l = rng.choice([[3]*8, random_complete(8, rng, 7)])
            for l in aligned_l: w.bits(l, 3)
            aligned_c = canonical(aligned_l)
        main_l = random_complete(nmain, rng)
        len_l = random_complete(249, rng) if rng.random() < 0.8 else [0] * 249
        write_lengths(w, prev_main, main_l, 0, 256, rng)
        write_lengths(w, prev_main, main_l, 256, nmain, rng)
        write_lengths(w, prev_len, len_l, 0, 249, rng)
        main_c = canonical(main_l); len_c = canonical(len_l)
        left = size
        while left:
            frame_left = 32768 - (produced % 32768)
            room = min(left, frame_left)
            limit = min(produced, Wsize - 3)
            if rng.random() < 0.3 or room < 2 or limit < 1:
                b = 0xE8 if rng.random() < 0.05 else rng.randrange(256)
                w.bits(main_c[b], main_l[b]); n = 1
            else:
                maxlen = min(257, room) if any(len_l) else min(8, room)
                n = rng.randint(2, maxlen) if rng.random() < 0.5 else rng.randint(2, min(maxlen, 10))
                hdr = min(n - 2, 7)
                choices = [k for k in range(3) if R[k] <= limit]
                if choices and rng.random() < 0.4:
                    slot = rng.choice(choices); off = R[slot]
                    if slot: R[0], R[slot] = R[slot], R[0]
                    sym = 256 + slot * 8 + hdr
                    w.bits(main_c[sym], main_l[sym])
                    if hdr == 7: w.bits(len_c[n - 9], len_l[n - 9])
                else:
                    off = rng.randint(1, limit) if rng.random() < 0.3 else rng.randint(1, min(limit, 64))
                    f = off + 2
                    slot = max(s for s in range(nslots) if BASE[s] <= f)
                    if slot < 3: slot = 3  # formatted 3.. are explicit; 1 and 2 impossible since off>=1
                    ev = f - BASE[slot]
                    sym = 256 + slot * 8 + hdr
                    w.bits(main_c[sym], main_l[sym])
                    if hdr == 7: w.bits(len_c[n - 9], len_l[n - 9])
                    e = EXTRA[slot]
                    if btype == 2 and e >= 3:
                        w.bits(ev >> 3, e - 3); w.bits(aligned_c[ev & 7], aligned_l[ev & 7])
                    else:
                        w.bits(ev, e)
                    R = [off, R[0], R[1]]
            produced += n; left -= n
            if produced % 32768 == 0 and produced < total:
                w.flush(); cut(w, 32768)
    w.flush()
    last = produced % 32768 or 32768
    cut(w, last)
    return wbits, blocks

def mkcab(wbits, blocks, dst):
    total = sum(u for u, _ in blocks)
    name = b'out.bin\0'
    data_off = 36 + 8 + 16 + len(name)
    data = b''.join(struct.pack('<IHH', 0, len(b), u) + b for u, b in blocks)
    h = b'MSCF' + struct.pack('<IIIIIBBHHHHH', 0, data_off + len(data), 0, 44, 0, 3, 1, 1, 1, 0, 0x1234, 0)
    f = struct.pack('<IHH', data_off, len(blocks), 3 | (wbits << 8))
    fi = struct.pack('<IIHHHH', total, 0, 0, 0x21, 0, 0x20) + name
    open(dst, 'wb').write(h + f + fi + data)
    return max(len(b) for _, b in blocks)

def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    tool = os.path.abspath(sys.argv[1])
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 100
    first = int(sys.argv[3]) if len(sys.argv) > 3 else 1
    work = tempfile.mkdtemp(prefix='lzx-diff-')
    for seed in range(first, first + count):
        wbits, blocks = gen(seed)
        cab = os.path.join(work, 'seed%d.cab' % seed)
        mkcab(wbits, blocks, cab)
        want = subprocess.run(['cabextract', '-q', '-p', cab], capture_output=True)
        out = os.path.join(work, 'x')
        shutil.rmtree(out, ignore_errors=True)
        got = subprocess.run([tool, 'x', cab, '-d', out], capture_output=True)
        data = open(os.path.join(out, 'out.bin'), 'rb').read() if got.returncode == 0 else None
        if want.returncode != 0 or data != want.stdout:
            print('seed %d (window 2^%d, %d blocks): outputs differ; kept %s' % (seed, wbits, len(blocks), cab))
            return 1
        os.remove(cab)
    shutil.rmtree(work, ignore_errors=True)
    print('%d random LZX cabinets: identical output' % count)
    return 0

if __name__ == '__main__':
    sys.exit(main())
