"""encode_batch: input kinds, result shape, parallel equality, concurrency, fork."""
import os
import subprocess
import sys
import textwrap
import threading

import awkward as ak
import numpy as np
import pytest

import morvik_rs

DOCS = ["the thing", "", "héllo wörld 🙂 <|endoftext|> x", "a" * 1000, "  spaces\n\n", "日本語のテキスト"]


@pytest.fixture
def tok(small_ranks):
    return morvik_rs.BPETokenizer.from_tiktoken(small_ranks)


def rows(result):
    if isinstance(result, ak.Array):
        return [np.asarray(r).tolist() for r in result]
    return [r.tolist() for r in result]


def expected(tok, docs):
    return [tok.encode(d).tolist() for d in docs]


@pytest.mark.parametrize("make", [
    list, tuple,
    lambda d: [x.encode() for x in d],
    lambda d: [bytearray(x.encode()) if i % 2 else x.encode() for i, x in enumerate(d)],
    lambda d: np.array(d, dtype=object),
    lambda d: ak.Array(d),
    lambda d: ak.Array([x.encode() for x in d]),
])
def test_input_kinds_agree(tok, make):
    out = tok.encode_batch(make(DOCS))
    assert isinstance(out, ak.Array)
    assert str(out.type).endswith("var * uint32")
    assert rows(out) == expected(tok, DOCS)


def test_empty_batches(tok):
    out = tok.encode_batch([])
    assert isinstance(out, ak.Array) and len(out) == 0
    assert rows(tok.encode_batch(["", ""])) == [[], []]
    assert rows(tok.encode_batch(ak.Array(["", "the", ""]))) == [[], expected(tok, ["the"])[0], []]


def test_awkward_of_plain_uint8_lists_is_a_bytestring_array(tok):
    arr = ak.Array([[116, 104, 101], []])
    arr = ak.values_astype(arr, np.uint8)
    assert rows(tok.encode_batch(arr)) == expected(tok, [b"the", b""])


@pytest.mark.parametrize("inputs, message", [
    ("the", "expected a list of str, a list of bytes, or an awkward Array of strings"),
    ({"a": 1}, "expected a list of str, a list of bytes, or an awkward Array of strings"),
    ((x for x in ["a"]), "expected a list of str, a list of bytes, or an awkward Array of strings"),
    (5, "expected a list of str, a list of bytes, or an awkward Array of strings"),
    (b"ab", "expected str or bytes, got <class 'int'>"),
    (["a", b"b"], "all documents in a batch must be of the same type (a list of str or a list of bytes)"),
    ([b"a", "b"], "all documents in a batch must be of the same type (a list of str or a list of bytes)"),
    (["a", 5], "expected str or bytes, got <class 'int'>"),
    ([5, "a"], "expected str or bytes, got <class 'int'>"),
])
def test_input_refusals(tok, inputs, message):
    with pytest.raises(TypeError) as e:
        tok.encode_batch(inputs)
    assert str(e.value) == message


@pytest.mark.parametrize("arr", [ak.Array([1, 2, 3]), ak.Array([[1.5], [2.5]]), ak.Array([{"x": "a"}]),
                                 ak.Array([["a", "b"], ["c"]])])
def test_awkward_refusals(tok, arr):
    with pytest.raises(TypeError, match="awkward input must be an array of strings or bytestrings"):
        tok.encode_batch(arr)


def test_result_buffer_outlives_result(tok):
    out = tok.encode_batch(["the thing", "hello"])
    row = np.asarray(out[1])
    want = row.tolist()
    del out
    assert row.tolist() == want


def test_large_document_is_split_and_reassembled(tok):
    # Larger than two chunks (2 MiB + 1 byte at the minimum chunk size).
    unit = "the thing is hello world 123 "
    doc = unit * (2 * 1048576 // len(unit) + 10)
    out = tok.encode_batch([doc, "the"])
    assert rows(out) == [tok.encode(doc).tolist(), tok.encode("the").tolist()]


def test_concurrent_batches_and_borrow_conflict(tok):
    docs = ["the thing hello world " * 2000] * 64  # ~2.8 MB: several chunks, the lock released
    want = expected(tok, docs[:1]) * len(docs)
    results, errors = [], []
    conflict = []

    def batch():
        try:
            results.append(rows(tok.encode_batch(docs)))
        except Exception as e:  # pragma: no cover - reported below
            errors.append(e)

    threads = [threading.Thread(target=batch) for _ in range(2)]
    for t in threads:
        t.start()
    while any(t.is_alive() for t in threads):
        try:
            tok.encode("x")
        except RuntimeError as e:
            conflict.append(str(e))
    for t in threads:
        t.join()
    assert not errors
    assert results == [want, want]
    assert set(conflict) <= {"Already borrowed"}


SUBPROCESS_CHECK = textwrap.dedent("""
    import sys, morvik_rs, numpy as np
    tok = morvik_rs.BPETokenizer.from_tiktoken(sys.argv[1])
    unit = "the thing héllo 123 <|endoftext|> "
    docs = [unit * k for k in range(200)] + ["", unit * 80000]
    out = tok.encode_batch(docs)
    want = [tok.encode(d).tolist() for d in docs]
    assert [np.asarray(r).tolist() for r in out] == want
    import gzip, json, os, tempfile
    d = tempfile.mkdtemp()
    data = "".join(json.dumps({"text": t}) + "\\n" for t in docs).encode()
    open(os.path.join(d, "a.jsonl"), "wb").write(data)
    open(os.path.join(d, "a.jsonl.gz"), "wb").write(gzip.compress(data, 1))
    for name in ("a.jsonl", "a.jsonl.gz"):
        got = tok.encode_files(os.path.join(d, name))
        assert [np.asarray(r).tolist() for r in got] == want, name
    print("ok")
""")


@pytest.mark.parametrize("threads", ["1", "2", "8"])
def test_thread_count_independent(small_ranks, threads):
    env = {**os.environ, "MORVIK_NUM_THREADS": threads}
    r = subprocess.run([sys.executable, "-c", SUBPROCESS_CHECK, str(small_ranks)], env=env,
                       capture_output=True, text=True, timeout=300)
    assert r.returncode == 0 and r.stdout.strip() == "ok", r.stderr


def test_fallback_without_awkward(small_ranks):
    code = textwrap.dedent("""
        import sys
        sys.modules["awkward"] = None  # makes "import awkward" fail
        import morvik_rs, numpy as np
        tok = morvik_rs.BPETokenizer.from_tiktoken(sys.argv[1])
        out = tok.encode_batch(["the", "", "thing"])
        assert isinstance(out, list) and len(out) == 3
        assert all(isinstance(r, np.ndarray) and r.dtype == np.uint32 for r in out)
        assert [r.tolist() for r in out] == [tok.encode(d).tolist() for d in ["the", "", "thing"]]
        assert tok.encode_batch([]) == []
        print("ok")
    """)
    r = subprocess.run([sys.executable, "-c", code, str(small_ranks)], capture_output=True, text=True, timeout=120)
    assert r.returncode == 0 and r.stdout.strip() == "ok", r.stderr


def test_fork_child_uses_pool_after_parent(small_ranks):
    code = textwrap.dedent("""
        import multiprocessing as mp, sys, morvik_rs, numpy as np
        tok = morvik_rs.BPETokenizer.from_tiktoken(sys.argv[1])
        docs = ["the thing hello " * 5000] * 40
        want = [np.asarray(r).tolist() for r in tok.encode_batch(docs)]  # the parent uses the pool

        def child(q):
            q.put([np.asarray(r).tolist() for r in tok.encode_batch(docs)] == want)

        ctx = mp.get_context("fork")
        q = ctx.Queue()
        p = ctx.Process(target=child, args=(q,))
        p.start()
        ok = q.get(timeout=120)
        p.join(timeout=60)
        assert ok and p.exitcode == 0
        assert [np.asarray(r).tolist() for r in tok.encode_batch(docs)] == want
        print("ok")
    """)
    r = subprocess.run([sys.executable, "-c", code, str(small_ranks)], capture_output=True, text=True, timeout=300)
    assert r.returncode == 0 and r.stdout.strip() == "ok", r.stderr
