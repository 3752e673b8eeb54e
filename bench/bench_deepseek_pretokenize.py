"""DeepSeek V3 pretokenization: our native scanner against the `tokenizers`
pre-tokenizer (Sequence of the three isolating splits), one thread.

Pieces are first checked identical on every document; then the peer is timed
over all documents with `pre_tokenize_str` (this includes building its Python
result lists, which is how Python callers reach it), and ours is the best-of-5
figure of the native benchmark bench_deepseek_scan on the same documents.

Usage: python bench/bench_deepseek_pretokenize.py [en code multi]
"""
from __future__ import annotations

import re
import struct
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests"))
from _paths import REPO, corpus_file, native_tool  # noqa: E402
from test_pretokenize_deepseek import SPLITS, KIND_DEEPSEEK_V3  # noqa: E402

from tokenizers import Regex, pre_tokenizers  # noqa: E402


def main() -> int:
    names = sys.argv[1:] or ["en", "code", "multi"]
    tool = native_tool("pretokenize_dump")
    bench = REPO / "build" / "bench_deepseek_scan"
    if tool is None or not bench.is_file():
        print("build the native tools and benchmarks first (ninja -C build)")
        return 1
    peer = pre_tokenizers.Sequence([pre_tokenizers.Split(Regex(p), behavior="isolated") for p in SPLITS])
    print("DeepSeek V3 pretokenization, 1 thread; ratio = ours / peer throughput")
    for name in names:
        path = corpus_file(f"{name}.txt")
        if path is None:
            print(f"{name}: corpus not found, skipped")
            continue
        docs = path.read_text(encoding="utf-8").split("<|endoftext|>")
        encoded = [d.encode("utf-8") for d in docs]
        data = b"".join(struct.pack("<I", len(b)) + b for b in encoded)
        out = subprocess.run([str(tool), str(KIND_DEEPSEEK_V3)], input=data, capture_output=True, check=True).stdout
        pos = 0
        for doc in docs:
            want = [len(p.encode("utf-8")) for p, _ in peer.pre_tokenize_str(doc)]
            (n,) = struct.unpack_from("<I", out, pos)
            if list(struct.unpack_from(f"<{n}I", out, pos + 4)) != want:
                print(f"{name}: pieces differ from the peer; not timing")
                return 1
            pos += 4 + 4 * n
        # The peer's time is measured apart from the comparison above.
        t0 = time.perf_counter()
        for doc in docs:
            peer.pre_tokenize_str(doc)
        peer_s = time.perf_counter() - t0
        total = sum(len(b) for b in encoded)
        peer_mbs = total / 1e6 / peer_s
        line = subprocess.run([str(bench), str(path)], capture_output=True, text=True, check=True).stdout
        ours_mbs = float(re.findall(r"([0-9.]+) MB/s", line)[-1])
        print(f"{name:6s} {total / 1e6:7.1f} MB  ours {ours_mbs:8.1f} MB/s  tokenizers {peer_mbs:6.1f} MB/s"
              f"  ratio {ours_mbs / peer_mbs:6.1f}x")
    return 0


if __name__ == "__main__":
    sys.exit(main())
