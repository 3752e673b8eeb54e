"""Where the tests find shared data and native tools; everything optional."""
from __future__ import annotations

import os
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent


def tokenizers_dir() -> Path:
    return Path(os.environ.get("MORVIK_TOKENIZERS_DIR", REPO.parent / "shared" / "tokenizers"))


def tokenizer_file(name: str) -> Path | None:
    p = tokenizers_dir() / name
    return p if p.is_file() else None


def corpus_dir() -> Path:
    return Path(os.environ.get("MORVIK_CORPUS_DIR", Path.home() / ".cache" / "morvik-corpus"))


def corpus_file(name: str) -> Path | None:
    p = corpus_dir() / name
    return p if p.is_file() else None


def native_tool(name: str) -> Path | None:
    """A native tool built beside the tests (tests/native/tools), if present."""
    dirs = [os.environ.get("MORVIK_NATIVE_DIR"), REPO / "build" / "native", REPO / "build"]
    for d in dirs:
        if d:
            p = Path(d) / f"morvik_{name}"
            if p.is_file() and os.access(p, os.X_OK):
                return p
    return None
