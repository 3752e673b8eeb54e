"""Ids of tokenizers built from real tiktoken ranks files, against tiktoken."""
from __future__ import annotations

import random
import struct
import subprocess

import pytest

from _paths import corpus_file, native_tool, tokenizer_file

tiktoken = pytest.importorskip("tiktoken")
tiktoken_load = pytest.importorskip("tiktoken.load")

R50K_PATTERN = r"""'(?:[sdmt]|ll|ve|re)| ?\p{L}+| ?\p{N}+| ?[^\s\p{L}\p{N}]+|\s+(?!\S)|\s+"""
RANKS = ["r50k_base.tiktoken", "cl100k_base.tiktoken", "o200k_base.tiktoken"]


def encode_native(ranks_path, docs: list[bytes]) -> list[list[int]]:
    tool = native_tool("encode_ranks")
    if tool is None:
        pytest.skip("morvik_encode_ranks not built")
    payload = b"".join(struct.pack("<I", len(d)) + d for d in docs)
    out = subprocess.run([str(tool), str(ranks_path)], input=payload, capture_output=True, check=True).stdout
    result, pos = [], 0
    for _ in docs:
        (n,) = struct.unpack_from("<I", out, pos)
        pos += 4
        result.append(list(struct.unpack_from(f"<{n}I", out, pos)))
        pos += 4 * n
    assert pos == len(out)
    return result


def reference(path):
    ranks = tiktoken_load.load_tiktoken_bpe(str(path))
    return tiktoken.Encoding(
        path.name, pat_str=R50K_PATTERN, mergeable_ranks=ranks, special_tokens={"<|endoftext|>": len(ranks)}
    )


def corpus_docs() -> list[str]:
    docs = []
    for name in ["en.txt", "code.txt", "multi.txt"]:
        p = corpus_file(name)
        if p is None:
            continue
        with open(p, "rb") as f:
            data = f.read(400_000).decode("utf-8", errors="ignore")
        docs += [data[i : i + 3000] for i in range(0, len(data), 3000)]
    return docs


def fuzz_docs(n: int) -> list[str]:
    rng = random.Random(5)
    pieces = [
        " ", "  ", "\n", "\r\n", "\t", "a", "Hello", " world", "'s", "'ll", "'T", "123", "4567", "é", "e\u0301",
        "日本語", "😀", "\u00a0", "\u3000", "<|endoftext|>", "<|endoftext", "|>", "!!", "...", "—", "Ω", "ß",
        "x" * 40, " " * 20, "\U0001f600" * 3, "ñandú", "İ", "\u200b",
    ]
    return ["".join(rng.choice(pieces) for _ in range(rng.randint(0, 40))) for _ in range(n)]


@pytest.mark.parametrize("name", RANKS)
def test_ids_equal_tiktoken(name):
    path = tokenizer_file(name)
    if path is None:
        pytest.skip(f"{name} not available")
    enc = reference(path)
    docs = corpus_docs() + fuzz_docs(3000) + ["", "<|endoftext|>", "a<|endoftext|><|endoftext|>b"]
    # Each document twice: the second pass is served from the pretoken cache.
    got = encode_native(path, [d.encode() for d in docs] * 2)
    want = [enc.encode(d, allowed_special="all") for d in docs]
    mismatches = [i for i, d in enumerate(docs) if got[i] != want[i] or got[i + len(docs)] != want[i]]
    assert not mismatches, f"first mismatch: {docs[mismatches[0]]!r}"


def test_p50k_is_refused():
    # Its ranks skip 50256, so a rank differs from its line index.
    path = tokenizer_file("p50k_base.tiktoken")
    tool = native_tool("encode_ranks")
    if path is None or tool is None:
        pytest.skip("p50k_base.tiktoken or the native tool not available")
    r = subprocess.run([str(tool), str(path)], input=b"", capture_output=True)
    assert r.returncode == 1
    assert b"line 50257: rank 50257 does not match the line's index 50256" in r.stderr
