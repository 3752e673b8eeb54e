"""tokenizer.json files: ids equal the `tokenizers` library (and tiktoken for cl100k)."""
import json

import numpy as np
import pytest

import _paths
import morvik_rs
from conftest import corpus_docs

tokenizers = pytest.importorskip("tokenizers")

CL100K_PATTERN = (r"""'(?i:[sdmt]|ll|ve|re)|[^\r\n\p{L}\p{N}]?+\p{L}++|\p{N}{1,3}+| ?[^\s\p{L}\p{N}]++[\r\n]*+|"""
                  r"""\s++$|\s*[\r\n]|\s+(?!\S)|\s+""")
QWEN3_5_PATTERN = (r"""(?i:'s|'t|'re|'ve|'m|'ll|'d)|[^\r\n\p{L}\p{N}]?[\p{L}\p{M}]+|\p{N}| ?[^\s\p{L}\p{M}\p{N}]+[\r\n]*|"""
                   r"""\s*[\r\n]+|\s+(?!\S)|\s+""")
FILES = ["llama3.json", "gpt35turbo.json", "qwen3.json", "deepseek_v3.json"]


def json_path(name):
    p = _paths.tokenizer_file(name)
    if p is None:
        pytest.skip(f"{name} not available")
    return p


def with_split_regex(name, pattern):
    doc = json.loads(json_path(name).read_text(encoding="utf-8"))
    for step in doc["pre_tokenizer"]["pretokenizers"]:
        if step["type"] == "Split":
            step["pattern"]["Regex"] = pattern
    return json.dumps(doc)


@pytest.fixture(scope="module", params=FILES)
def pair(request):
    path = json_path(request.param)
    return morvik_rs.BPETokenizer.from_hf(path), tokenizers.Tokenizer.from_file(str(path))


def assert_same(ours, ref, docs):
    want = [e.ids for e in ref.encode_batch(docs, add_special_tokens=False)]
    for doc, w in zip(docs, want):
        got = ours.encode(doc).tolist()
        if got != w:
            raise AssertionError(f"ids differ on document starting {doc[:80]!r}")


@pytest.mark.parametrize("corpus", ["en", "code", "multi"])
def test_corpus(pair, corpus):
    assert_same(*pair, corpus_docs(corpus))


def test_added_tokens_and_batch(pair):
    ours, ref = pair
    added = [t.content for t in ref.get_added_tokens_decoder().values()][:40]
    docs = [f"text {a} more{a}{a} end" for a in added] + ["plain text", ""]
    assert_same(ours, ref, docs)
    assert [np.asarray(r).tolist() for r in ours.encode_batch(docs)] == [ours.encode(d).tolist() for d in docs]
    assert ours.vocab_size >= ref.get_vocab_size()


def test_from_hf_and_load_hf_json_agree():
    path = json_path("llama3.json")
    a = morvik_rs.BPETokenizer.from_hf(path)
    text = path.read_text(encoding="utf-8")
    for data in (text, text.encode(), bytearray(text.encode())):
        b = morvik_rs.load_hf_json(data)
        assert isinstance(b, morvik_rs.BPETokenizer)
        assert repr(a) == repr(b)
        assert b.encode("Hello world, 123 héllo").tolist() == a.encode("Hello world, 123 héllo").tolist()


def test_cl100k_regex_matches_tiktoken():
    tiktoken = pytest.importorskip("tiktoken")
    from tiktoken.load import load_tiktoken_bpe
    ranks_path = json_path("cl100k_base.tiktoken")
    ranks = load_tiktoken_bpe(str(ranks_path))
    ref = tiktoken.Encoding("cl100k", pat_str=CL100K_PATTERN, mergeable_ranks=ranks, special_tokens={})
    ours = morvik_rs.load_hf_json(with_split_regex("gpt35turbo.json", CL100K_PATTERN))
    for corpus in ["en", "code", "multi"]:
        docs = corpus_docs(corpus)
        want = ref.encode_ordinary_batch(docs, num_threads=2)
        for d, w in zip(docs, want):
            assert ours.encode(d).tolist() == w, d[:80]


def test_qwen3_5_regex_matches_tokenizers():
    data = with_split_regex("qwen3.json", QWEN3_5_PATTERN)
    ours = morvik_rs.load_hf_json(data)
    ref = tokenizers.Tokenizer.from_str(data)
    for corpus in ["en", "code", "multi"]:
        assert_same(ours, ref, corpus_docs(corpus))


def test_unsupported_regex_is_refused():
    with pytest.raises(RuntimeError):
        morvik_rs.BPETokenizer.from_hf(json_path("gpt4o.json"))


def test_byte_fallback_model_is_refused_by_bpe():
    with pytest.raises(RuntimeError):
        morvik_rs.BPETokenizer.from_hf(json_path("llama2.json"))


@pytest.mark.parametrize("data, exc, start", [
    (5, TypeError, "expected tokenizer.json contents as str or bytes, got <class 'int'>"),
    ("\ud800", TypeError, "expected tokenizer.json contents as str or bytes, got <class 'str'>"),
    ("not json", RuntimeError, "Failed to parse tokenizer JSON: "),
    (b"{}", RuntimeError, "Failed to parse tokenizer JSON: "),
])
def test_load_hf_json_errors(data, exc, start):
    with pytest.raises(exc) as e:
        morvik_rs.load_hf_json(data)
    assert str(e.value).startswith(start)


def test_from_hf_path_errors(tmp_path):
    with pytest.raises(TypeError, match="^argument 'path': "):
        morvik_rs.BPETokenizer.from_hf(b"x.json")
    with pytest.raises(RuntimeError, match="^Failed to read "):
        morvik_rs.BPETokenizer.from_hf(tmp_path / "missing.json")


@pytest.mark.parametrize("ignore_merges", [True, False, None])
def test_ignore_merges_flag(ignore_merges):
    # A vocabulary entry that the merges cannot rebuild: only ignore_merges emits it whole.
    alphabet = [chr(c) for c in range(33, 127)] + [chr(c) for c in range(161, 173)] + [chr(c) for c in range(174, 256)]
    alphabet += [chr(0x100 + i) for i in range(68)]
    vocab = {ch: i for i, ch in enumerate(alphabet)}
    vocab["abc"] = len(vocab)
    vocab["ab"] = len(vocab)
    model = {"type": "BPE", "vocab": vocab, "merges": ["a b"]}
    if ignore_merges is not None:
        model["ignore_merges"] = ignore_merges
    doc = json.dumps({"model": model, "pre_tokenizer": {"type": "ByteLevel", "add_prefix_space": False,
                                                         "trim_offsets": True, "use_regex": True}})
    ref = tokenizers.Tokenizer.from_str(doc)
    ours = morvik_rs.load_hf_json(doc)
    for text in ["abc", "ab abc abcd", "cab"]:
        assert ours.encode(text).tolist() == ref.encode(text, add_special_tokens=False).ids
