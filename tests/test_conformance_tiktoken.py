"""Ids equal tiktoken's on real ranks files, all corpus documents and generated text."""
import random

import numpy as np
import pytest

import _paths
import morvik_rs
from conftest import corpus_docs

tiktoken = pytest.importorskip("tiktoken")
from tiktoken.load import load_tiktoken_bpe  # noqa: E402

R50K_PATTERN = r"""'(?:[sdmt]|ll|ve|re)| ?\p{L}+| ?\p{N}+| ?[^\s\p{L}\p{N}]+|\s+(?!\S)|\s+"""
RANKS_FILES = ["r50k_base.tiktoken", "cl100k_base.tiktoken", "o200k_base.tiktoken"]


@pytest.fixture(scope="module", params=RANKS_FILES)
def pair(request):
    path = _paths.tokenizer_file(request.param)
    if path is None:
        pytest.skip(f"{request.param} not available")
    ranks = load_tiktoken_bpe(str(path))
    ref = tiktoken.Encoding(request.param, pat_str=R50K_PATTERN, mergeable_ranks=ranks,
                            special_tokens={"<|endoftext|>": len(ranks)})
    return morvik_rs.BPETokenizer.from_tiktoken(path), ref


def assert_same(ours, ref, docs):
    want = ref.encode_ordinary_batch(docs, num_threads=2)
    for doc, w in zip(docs, want):
        got = ours.encode(doc)
        if got.tolist() != w:
            raise AssertionError(f"ids differ on document starting {doc[:80]!r}")
        assert ours.decode(got) == doc.encode()


@pytest.mark.parametrize("corpus", ["en", "code", "multi"])
def test_corpus(pair, corpus):
    assert_same(*pair, corpus_docs(corpus))


def test_vocabulary_size_and_special(pair):
    ours, ref = pair
    assert ours.vocab_size == ref.n_vocab
    assert ours.encode("a<|endoftext|>b").tolist() == ref.encode("a<|endoftext|>b", allowed_special="all")


# Characters drawn from many scripts, all assigned code points (Unicode 14 or older).
ALPHABET = (
    list("abcXYZ019'sdmtlvre .,;!?-_()[]{}\"\\/") + ["\t", "\n", "\r", "\x0b", "\x0c", "\x85", "\xa0", "\u1680",
    "\u2000", "\u2005", "\u200a", "\u2028", "\u2029", "\u202f", "\u205f", "\u3000"]
    + list("éüßøÆ") + list("αβγΩ") + list("жЩя") + list("אב") + list("عربي") + list("हिन्दी")
    + list("中文字日本語") + list("ひらがなカタカナ") + list("한국어") + list("ไทย")
    + ["\u0301", "\u0308", "\u093f", "\u0e31"]  # combining marks
    + list("²³¼٣४Ⅻ") + list("€$£©®™∑→") + ["🙂", "👍🏽", "\U0001f600", "\U00010348", "\U0001d400"]
)


def random_texts(seed, count):
    rng = random.Random(seed)
    for i in range(count):
        n = rng.choice([1, 2, 5, 63, 64, 69, 70, 127, 128, 133, 134, 300, 1000])
        weights = rng.choice([None, "ascii", "space"])
        chars = []
        for _ in range(n):
            if weights == "ascii" and rng.random() < 0.8:
                chars.append(rng.choice("abc def'sll ve 0123 \n  "))
            elif weights == "space" and rng.random() < 0.5:
                chars.append(rng.choice([" ", "  ", "\n", "\t", "\u3000", "\xa0"]))
            else:
                chars.append(rng.choice(ALPHABET))
        yield "".join(chars)


def test_generated_text(pair):
    ours, ref = pair
    texts = list(random_texts(1234, 3000))
    # Every block offset: the same text shifted by a prefix of 0..64 bytes.
    base = next(random_texts(99, 1))
    texts += ["x" * k + " " + base for k in range(65)]
    assert_same(ours, ref, texts)
