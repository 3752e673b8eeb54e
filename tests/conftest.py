from __future__ import annotations

import base64
from pathlib import Path

import pytest

import _paths


def write_ranks(path: Path, tokens: list[bytes]) -> Path:
    path.write_text("".join(f"{base64.b64encode(t).decode()} {i}\n" for i, t in enumerate(tokens)))
    return path


# 256 single bytes in byte order, then merges that each reduce to two symbols.
SMALL_MERGES = [b"th", b"he", b"the", b" t", b" the", b"in", b"ing", b"ll", b"llo", b"he" + b"llo"]


@pytest.fixture
def small_ranks(tmp_path: Path) -> Path:
    return write_ranks(tmp_path / "small.tiktoken", [bytes([b]) for b in range(256)] + SMALL_MERGES)


@pytest.fixture(scope="session")
def r50k_path() -> Path:
    p = _paths.tokenizer_file("r50k_base.tiktoken")
    if p is None:
        pytest.skip("r50k_base.tiktoken not available")
    return p


def corpus_docs(name: str) -> list[str]:
    p = _paths.corpus_file(f"{name}.txt")
    if p is None:
        pytest.skip(f"corpus {name} not available (shared/tools/make-corpus builds it)")
    return p.read_text(encoding="utf-8").split("<|endoftext|>")
