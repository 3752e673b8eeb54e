"""Single-thread encoding speed of our rank-based tokenizer against tiktoken.

Runs build/bench_encode (the native benchmark) with --dump-ids, checks that
its ids equal tiktoken's on every corpus, then times tiktoken on the same
documents in this process and prints the ratios (ours / peer).

    python bench/bench_encode_peers.py [--mb 8] [--ranks r50k_base.tiktoken]
"""
from __future__ import annotations

import argparse
import array
import os
import re
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests"))
from _paths import REPO, corpus_file, tokenizer_file  # noqa: E402

R50K_PATTERN = r"""'(?:[sdmt]|ll|ve|re)| ?\p{L}+| ?\p{N}+| ?[^\s\p{L}\p{N}]+|\s+(?!\S)|\s+"""


def read_prefix(path: Path, limit: int) -> bytes:
    with open(path, "rb") as f:
        data = f.read(limit)
    # Same trimming as the native benchmark: never end inside a character.
    while data and (data[-1] & 0xC0) == 0x80:
        data = data[:-1]
    if data and data[-1] >= 0xC0:
        data = data[:-1]
    return data


def split_docs(text: bytes, target: int = 65536) -> list[bytes]:
    docs, pos = [], 0
    while pos < len(text):
        end = text.find(b"\n", pos + target) if pos + target < len(text) else -1
        end = len(text) if end < 0 else end + 1
        docs.append(text[pos:end])
        pos = end
    return docs


def main() -> int:
    ap = argparse.ArgumentParser()
    ap.add_argument("--mb", type=float, default=8.0, help="MiB of each corpus")
    ap.add_argument("--ranks", default="r50k_base.tiktoken")
    ap.add_argument("--native", default=str(REPO / "build" / "bench_encode"))
    args = ap.parse_args()
    import tiktoken
    import tiktoken.load

    ranks_path = tokenizer_file(args.ranks)
    corpora = [p for p in (corpus_file(n) for n in ["en.txt", "code.txt", "multi.txt"]) if p]
    if ranks_path is None or not corpora or not os.access(args.native, os.X_OK):
        print("needs the ranks file, the corpora and a built bench_encode", file=sys.stderr)
        return 2
    ranks = tiktoken.load.load_tiktoken_bpe(str(ranks_path))
    enc = tiktoken.Encoding(args.ranks, pat_str=R50K_PATTERN, mergeable_ranks=ranks,
                            special_tokens={"<|endoftext|>": len(ranks)})
    with tempfile.TemporaryDirectory() as tmp:
        out = subprocess.run([args.native, str(ranks_path), *map(str, corpora), "--mb", str(args.mb),
                              "--dump-ids", tmp], capture_output=True, text=True, check=True).stdout
        ours = {}
        for line in out.splitlines():
            m = re.match(r"(\S+)\s+([\d.]+) MB\s+\d+ ids\s+cold\s+([\d.]+) MB/s\s+warm\s+([\d.]+) MB/s", line)
            if m:
                ours[m.group(1)] = (float(m.group(3)), float(m.group(4)))
        print(f"ranks: {args.ranks}  threads: 1  corpus prefix: {args.mb} MiB")
        for path in corpora:
            docs = split_docs(read_prefix(path, int(args.mb * 1048576)))
            texts = [d.decode("utf-8") for d in docs]
            want = array.array("I")
            t0 = time.perf_counter()
            for t in texts:
                want.extend(enc.encode(t, allowed_special="all"))
            peer = sum(map(len, docs)) / 1e6 / (time.perf_counter() - t0)
            got = array.array("I")
            with open(Path(tmp) / f"{path.name}.ids", "rb") as f:
                got.frombytes(f.read())
            if got != want:
                print(f"{path.name}: ids differ from tiktoken; not timing", file=sys.stderr)
                return 1
            cold, warm = ours[path.name]
            print(f"{path.name:10s} tiktoken {peer:6.1f} MB/s | ours cold {cold:6.1f} MB/s ({cold / peer:5.1f}x)"
                  f"  warm {warm:6.1f} MB/s ({warm / peer:5.1f}x)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
