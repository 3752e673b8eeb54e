"""Batch and file encoding equal single-document encoding on real vocabularies and text."""
import gzip
import json
import shutil
import subprocess

import numpy as np
import pytest

import _paths
import morvik_rs
from conftest import corpus_docs

TOKENIZERS = ["r50k_base.tiktoken", "llama3.json", "qwen3.json", "deepseek_v3.json", "gpt35turbo.json"]
SEP = b"\x00\x01SEP\x01\x00"


@pytest.fixture(scope="module")
def docs():
    out = []
    for corpus in ["en", "code", "multi"]:
        d = corpus_docs(corpus)
        out += d[:: max(1, len(d) // 400)]
    return out + ["", "<|endoftext|>", "x" * 3_000_000]  # one document larger than two chunks


@pytest.fixture(scope="module", params=TOKENIZERS)
def tok(request):
    p = _paths.tokenizer_file(request.param)
    if p is None:
        pytest.skip(f"{request.param} not available")
    if p.suffix == ".json":
        return morvik_rs.BPETokenizer.from_hf(p)
    return morvik_rs.BPETokenizer.from_tiktoken(p)


def rows(result):
    return [np.asarray(r).tolist() for r in result]


def test_batch_and_files_equal_encode(tok, docs, tmp_path):
    want = [tok.encode(d).tolist() for d in docs]
    assert rows(tok.encode_batch(docs)) == want
    assert rows(tok.encode_batch([d.encode() for d in docs])) == want
    data = "".join(json.dumps({"text": d}) + "\n" for d in docs).encode()
    (tmp_path / "d.jsonl").write_bytes(data)
    (tmp_path / "d.jsonl.gz").write_bytes(gzip.compress(data, 1))
    sources = [tmp_path / "d.jsonl", tmp_path / "d.jsonl.gz"]
    if shutil.which("zstd"):
        subprocess.run(["zstd", "-q", "-f", str(tmp_path / "d.jsonl"), "-o", str(tmp_path / "d.jsonl.zst")], check=True)
        sources.append(tmp_path / "d.jsonl.zst")
    for src in sources:
        assert rows(tok.encode_files(src)) == want, src.name
    (tmp_path / "d.txt").write_bytes(SEP.join(d.encode() for d in docs))
    # Empty pieces between separators produce no row.
    nonempty = [w for d, w in zip(docs, want) if d]
    assert rows(tok.encode_files(morvik_rs.TextFileSource([tmp_path / "d.txt"], separator=SEP))) == nonempty
