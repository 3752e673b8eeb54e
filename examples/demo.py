"""A quick tour: load a tokenizer, encode, decode, and time a single-thread encode.

    python examples/demo.py [TOKENIZER]

TOKENIZER is a tiktoken ranks file (.tiktoken) or a HuggingFace tokenizer.json.
Without one the demo uses ~/data/tokenizers/r50k_base.tiktoken when present,
else the GPT-2 ranks file of the shared tokenizers folder beside the checkout,
else a small byte-level vocabulary that it trains itself on its own sample text.
"""
from __future__ import annotations

import base64
import collections
import os
import sys
import tempfile
import time
from pathlib import Path

import morvik_rs

SAMPLE = (
    "Tokenizers turn text into integer ids. Byte-level BPE starts from the 256 byte values and\n"
    "repeatedly merges the most frequent adjacent pair, so every string -- English, 日本語, Русский,\n"
    "emoji 🙂 or code like `for i in range(10): print(i)` -- round-trips exactly.\n"
)


def train_small_ranks(text: bytes, merges: int = 300) -> list[bytes]:
    """A tiny byte-level BPE trainer (pure Python), enough for a working demo vocabulary."""
    vocab = [bytes([b]) for b in range(256)]
    words = collections.Counter(
        tuple(bytes([b]) for b in w) for w in text.replace(b"\n", b" \n").split(b" ") if w
    )
    for _ in range(merges):
        pairs: collections.Counter = collections.Counter()
        for w, c in words.items():
            for a, b in zip(w, w[1:]):
                pairs[a, b] += c
        if not pairs:
            break
        (a, b), _ = max(pairs.items(), key=lambda kv: (kv[1], kv[0]))
        vocab.append(a + b)
        merged = collections.Counter()
        for w, c in words.items():
            out, i = [], 0
            while i < len(w):
                if i + 1 < len(w) and w[i] == a and w[i + 1] == b:
                    out.append(a + b)
                    i += 2
                else:
                    out.append(w[i])
                    i += 1
            merged[tuple(out)] += c
        words = merged
    return vocab


def load(arg: str | None) -> tuple[morvik_rs.BPETokenizer, str]:
    if arg:
        if arg.endswith(".json"):
            return morvik_rs.BPETokenizer.from_hf(arg), arg
        return morvik_rs.BPETokenizer.from_tiktoken(arg), arg
    default = Path.home() / "data" / "tokenizers" / "r50k_base.tiktoken"
    if default.is_file():
        return morvik_rs.BPETokenizer(), str(default)
    shared = Path(__file__).resolve().parents[2] / "shared" / "tokenizers" / "r50k_base.tiktoken"
    if shared.is_file():
        return morvik_rs.BPETokenizer.from_tiktoken(shared), str(shared)
    ranks = train_small_ranks(SAMPLE.encode() * 4)
    path = Path(tempfile.gettempdir()) / f"morvik-demo-{os.getpid()}.tiktoken"
    path.write_text("".join(f"{base64.b64encode(t).decode()} {i}\n" for i, t in enumerate(ranks)))
    try:
        return morvik_rs.BPETokenizer.from_tiktoken(path), f"a {len(ranks)}-token vocabulary trained on the sample"
    finally:
        path.unlink()


def main() -> int:
    tok, origin = load(sys.argv[1] if len(sys.argv) > 1 else None)
    print(f"tokenizer: {origin}")
    print(f"  {tok!r}")
    ids = tok.encode(SAMPLE)
    print(f"encode: {len(SAMPLE.encode())} bytes -> {len(ids)} tokens; first ids {ids[:12].tolist()}")
    back = tok.decode(ids)
    assert back == SAMPLE.encode(), "round trip failed"
    print("decode: round trip exact")

    corpus = (SAMPLE * 2000).encode()
    start = time.perf_counter()
    n = len(tok.encode(corpus))
    elapsed = time.perf_counter() - start
    print(f"throughput: {len(corpus) / elapsed / 1e6:.1f} MB/s single thread ({len(corpus) / 1e6:.1f} MB, {n} tokens)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
