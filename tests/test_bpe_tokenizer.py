"""BPETokenizer over tiktoken ranks files: constructors, encode, decode, views."""
import os
import shutil
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest

import morvik_rs
from conftest import SMALL_MERGES, write_ranks

N_SMALL = 256 + len(SMALL_MERGES)


def test_small_vocabulary_views(small_ranks):
    tok = morvik_rs.BPETokenizer.from_tiktoken(small_ranks)
    assert tok.vocab_size == N_SMALL + 1
    vocab = tok.vocab
    assert list(vocab) == list(range(N_SMALL + 1))
    assert vocab[N_SMALL] == b"<|endoftext|>" and vocab[256] == b"th"
    merges = tok.merges
    assert len(merges) == len(SMALL_MERGES)
    assert [a + b for a, b in merges] == SMALL_MERGES
    assert merges[2] == (b"th", b"e")
    assert repr(tok) == f"Tokenizer {{ vocab_size: {N_SMALL + 1}, merges_count: {len(SMALL_MERGES)}, byte_remapping: false }}"


def test_encode_with_special_token(small_ranks):
    tok = morvik_rs.BPETokenizer.from_tiktoken(small_ranks)
    eot = N_SMALL
    assert tok.encode("<|endoftext|>").tolist() == [eot]
    the = SMALL_MERGES.index(b"the") + 256
    out = tok.encode("the<|endoftext|>the<|endoftext|><|endoftext|>")
    assert out.tolist() == [the, eot, the, eot, eot]
    # Pretokens never merge across their borders: " the" is one pretoken.
    assert tok.encode(" the").tolist() == [SMALL_MERGES.index(b" the") + 256]
    # The cache: a second encode of the same text is identical.
    text = "the thing hello hello " * 50
    assert np.array_equal(tok.encode(text), tok.encode(text))
    assert tok.decode(tok.encode(text)) == text.encode()


def test_decode(small_ranks):
    tok = morvik_rs.BPETokenizer.from_tiktoken(small_ranks)
    assert tok.decode([]) == b""
    assert tok.decode([0xE6, 0x97]) == b"\xe6\x97"  # raw bytes, not necessarily UTF-8
    with pytest.raises(ValueError, match=f"{N_SMALL + 1}.*{N_SMALL + 1}"):
        tok.decode([1, N_SMALL + 1])


def test_holes_in_ranks_file(tmp_path):
    tokens = [bytes([b]) for b in range(256)] + [b"", b"ab"]
    tok = morvik_rs.BPETokenizer.from_tiktoken(write_ranks(tmp_path / "holes.tiktoken", tokens))
    assert tok.vocab_size == 259
    assert 256 not in tok.vocab and tok.vocab[257] == b"ab"
    assert tok.decode([256, 257]) == b"ab"
    assert tok.encode("ab").tolist() == [257]


def test_byte_remapping(tmp_path):
    # The single bytes in reverse order: every byte maps through the table.
    tokens = [bytes([255 - b]) for b in range(256)] + [b"ab"]
    tok = morvik_rs.BPETokenizer.from_tiktoken(write_ranks(tmp_path / "rev.tiktoken", tokens))
    assert "byte_remapping: true" in repr(tok)
    assert tok.encode("ab").tolist() == [256]
    assert tok.encode("ba").tolist() == [255 - ord("b"), 255 - ord("a")]
    assert tok.decode(tok.encode("xyz")) == b"xyz"


@pytest.mark.parametrize("content, fragment", [
    ("IQ== 0\nIg== 1\nISI= 2\n", "0x00"),                # merges derive, then byte 0x00 has no token
    ("", "0x00"),                                        # empty file
    ("IQ== 0\n\nIg== 2\n", ""),                          # an empty line in the middle
    ("IQ== 0\nIg== 2\n", ""),                            # a rank that is not the line index
    ("IQ==0\n", ""),                                     # no space
    ("I!== 0\n", ""),                                    # not base64
])
def test_bad_ranks_files(tmp_path, content, fragment):
    p = tmp_path / "bad.tiktoken"
    p.write_text(content)
    with pytest.raises(RuntimeError) as e:
        morvik_rs.BPETokenizer.from_tiktoken(p)
    if fragment:
        assert str(e.value).startswith("Byte remapping failed: no single-byte vocab entry for byte " + fragment)


def test_p50k_is_refused():
    import _paths
    p = _paths.tokenizer_file("p50k_base.tiktoken")
    if p is None:
        pytest.skip("p50k_base.tiktoken not available")
    with pytest.raises(RuntimeError):
        morvik_rs.BPETokenizer.from_tiktoken(p)


def _default_constructor_in(env):
    code = "import morvik_rs; t = morvik_rs.BPETokenizer(); print(t.vocab_size)"
    return subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True)


def test_default_constructor_uses_home(tmp_path, small_ranks):
    target = tmp_path / "data" / "tokenizers"
    target.mkdir(parents=True)
    shutil.copy(small_ranks, target / "r50k_base.tiktoken")
    r = _default_constructor_in({**os.environ, "HOME": str(tmp_path)})
    assert r.returncode == 0, r.stderr
    assert r.stdout.strip() == str(N_SMALL + 1)
    # An empty HOME falls back to the user database; its home has no such file here (or a real one).
    import pwd
    home = Path(pwd.getpwuid(os.getuid()).pw_dir)
    r = _default_constructor_in({**os.environ, "HOME": ""})
    expected = home / "data" / "tokenizers" / "r50k_base.tiktoken"
    if expected.is_file():
        assert r.returncode == 0
    else:
        assert f"Failed to read {expected}" in r.stderr
