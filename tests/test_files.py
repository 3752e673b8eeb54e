"""encode_files: sources, formats, compression, errors, and equality with encode."""
import gzip
import json
import os
import pathlib

import awkward as ak
import numpy as np
import pytest

import morvik_rs


DOCS = ["the thing", "", "héllo wörld 🙂", "line one\nline two\r\n", "a" * 5000, "<|endoftext|> after", "日本語"]


@pytest.fixture
def tok(small_ranks):
    return morvik_rs.BPETokenizer.from_tiktoken(small_ranks)


def rows(result):
    return [np.asarray(r).tolist() for r in result]


def encoded(tok, docs):
    return [tok.encode(d).tolist() for d in docs]


def write_zstd(path: pathlib.Path, data: bytes) -> pathlib.Path:
    import subprocess
    raw = path.with_suffix("")
    raw.write_bytes(data)
    subprocess.run(["zstd", "-q", "-f", str(raw), "-o", str(path)], check=True)
    raw.unlink()
    return path


def have_zstd_cli():
    import shutil
    return shutil.which("zstd") is not None


def jsonl_bytes(docs):
    return "".join(json.dumps({"text": d, "id": i}) + "\n" for i, d in enumerate(docs)).encode()


@pytest.mark.parametrize("name", ["d.jsonl", "d.jsonl.gz", "d.jsonl.zst"])
def test_jsonl_formats(tok, tmp_path, name):
    data = jsonl_bytes(DOCS)
    p = tmp_path / name
    if name.endswith(".gz"):
        p.write_bytes(gzip.compress(data))
    elif name.endswith(".zst"):
        if not have_zstd_cli():
            pytest.skip("zstd command not available")
        write_zstd(p, data)
    else:
        p.write_bytes(data)
    want = encoded(tok, DOCS)
    for source in (p, str(p), [p], morvik_rs.JsonlFileSource([p])):
        out = tok.encode_files(source)
        assert isinstance(out, ak.Array)
        assert rows(out) == want


def test_text_with_separator_skips_empty_pieces(tok, tmp_path):
    p = tmp_path / "d.txt"
    p.write_text("\n%%\n".join(DOCS), encoding="utf-8")
    src = morvik_rs.TextFileSource([p, p], separator=b"\n%%\n")
    # Pieces between separators are the documents; empty pieces produce no row.
    want = encoded(tok, [d for d in DOCS if d]) * 2
    assert rows(tok.encode_files(src)) == want
    gz = tmp_path / "d.txt.gz"
    gz.write_bytes(gzip.compress(p.read_bytes()))
    assert rows(tok.encode_files(morvik_rs.TextFileSource([gz], separator=b"\n%%\n"))) == want[: len(want) // 2]


def test_whole_files_as_documents(tok, tmp_path):
    paths = []
    for i, d in enumerate(DOCS):
        p = tmp_path / f"f{i}.txt"
        p.write_text(d, encoding="utf-8")
        paths.append(p)
    assert rows(tok.encode_files(paths)) == encoded(tok, DOCS)
    assert rows(tok.encode_files(morvik_rs.TextFileSource(paths))) == encoded(tok, DOCS)
    assert rows(tok.encode_files([])) == []
    # A file larger than two chunks goes through the pretoken-safe split.
    big = tmp_path / "big.txt"
    text = "the thing is hello world 42 " * 80000
    big.write_text(text)
    assert rows(tok.encode_files(big)) == [tok.encode(text).tolist()]


def test_first_path_decides_the_format(tok, tmp_path):
    a = tmp_path / "a.jsonl"
    b = tmp_path / "b.data"
    a.write_bytes(jsonl_bytes(["x"]))
    b.write_bytes(jsonl_bytes(["y", "z"]))
    assert rows(tok.encode_files([a, b])) == encoded(tok, ["x", "y", "z"])


def test_large_jsonl_in_many_ranges_equals_batch(tok, tmp_path):
    docs = [f"document {i} " + "the thing hello " * (i % 50) for i in range(30000)]
    p = tmp_path / "many.jsonl"
    p.write_bytes(jsonl_bytes(docs))
    assert rows(tok.encode_files(p)) == rows(tok.encode_batch(docs))


@pytest.mark.parametrize("line, reason", [
    (b"not json", "not valid JSON"),
    (b"[1, 2]", "not a JSON object"),
    (b'{"other": "x"}', 'no field "text"'),
    (b'{"text": 5}', 'field "text" is not a string'),
])
def test_bad_jsonl_line_is_reported(tok, tmp_path, line, reason):
    good = jsonl_bytes(["a"] * 5).splitlines(keepends=True)
    data = b"".join(good[:3]) + b"  \r\n\n" + line + b"\n" + b"".join(good[3:])
    p = tmp_path / "bad.jsonl"
    p.write_bytes(data)
    with pytest.raises(ValueError) as e:
        tok.encode_files(p)
    msg = str(e.value)
    assert str(p) in msg and "line 6" in msg and reason in msg


def test_whitespace_lines_are_skipped(tok, tmp_path):
    p = tmp_path / "ws.jsonl"
    p.write_bytes(b'{"text": "a"}\r\n \t \r\n\r\n\n{"text": "b"}\n   ')
    assert rows(tok.encode_files(p)) == encoded(tok, ["a", "b"])


@pytest.mark.parametrize("content, name", [
    (b"\x1f\x8b\x08\x00garbage", "x.txt.gz"),
    (None, "trunc.txt.gz"),
    (None, "crc.txt.gz"),
    (b"\x28\xb5\x2f\xfd\x00", "x.txt.zst"),
])
def test_corrupt_compressed_files(tok, tmp_path, content, name):
    p = tmp_path / name
    good = gzip.compress(b"hello world " * 1000)
    if name == "trunc.txt.gz":
        content = good[: len(good) // 2]
    elif name == "crc.txt.gz":
        content = good[:-8] + bytes([good[-8] ^ 1]) + good[-7:]
    p.write_bytes(content)
    with pytest.raises(OSError) as e:
        tok.encode_files(p)
    assert str(e.value).startswith(f"{p}: ")


def test_missing_file(tok, tmp_path):
    p = tmp_path / "missing.txt"
    with pytest.raises(OSError) as e:
        tok.encode_files([tmp_path, p] if False else p)
    assert str(e.value) == f"{p}: No such file or directory (os error 2)"


@pytest.mark.parametrize("source", [5, None, 1.5, [1, 2], {"a": 1}])
def test_source_type_errors(tok, source):
    with pytest.raises(TypeError) as e:
        tok.encode_files(source)
    assert str(e.value) == ("expected a TextFileSource/JsonlFileSource, a path, or a list of paths, got "
                            + str(type(source)))


def test_file_source_classes():
    assert repr(morvik_rs.TextFileSource(["a.txt", "b.txt"])) == "TextFileSource(paths=[2 files])"
    assert repr(morvik_rs.TextFileSource(["a.txt"], separator=b"\n")) == 'TextFileSource(paths=[1 files], separator="\\n")'
    assert repr(morvik_rs.TextFileSource([], separator=b"\xff\n")).startswith('TextFileSource(paths=[0 files], separator="\ufffd')
    assert repr(morvik_rs.TextFileSource([pathlib.Path("a")], separator=[35, 35])) == 'TextFileSource(paths=[1 files], separator="##")'
    assert repr(morvik_rs.JsonlFileSource(["x.jsonl"])) == 'JsonlFileSource(paths=[1 files], field="text")'
    assert repr(morvik_rs.JsonlFileSource(["x.jsonl"], field='a"b')) == 'JsonlFileSource(paths=[1 files], field="a\\"b")'
    assert issubclass(morvik_rs.TextFileSource, morvik_rs.FileSource)
    assert issubclass(morvik_rs.JsonlFileSource, morvik_rs.FileSource)
    with pytest.raises(TypeError):
        morvik_rs.FileSource()
    with pytest.raises(TypeError):
        class Sub(morvik_rs.TextFileSource):
            pass


@pytest.mark.parametrize("call, prefix", [
    (lambda: morvik_rs.TextFileSource("a.txt"), "argument 'paths': "),
    (lambda: morvik_rs.TextFileSource(["a.txt"], separator="x"), "argument 'separator': "),
    (lambda: morvik_rs.TextFileSource(["a.txt"], separator=5), "argument 'separator': "),
    (lambda: morvik_rs.TextFileSource([5]), "argument 'paths': "),
    (lambda: morvik_rs.JsonlFileSource(["a"], field=5), "argument 'field': "),
])
def test_file_source_argument_errors(call, prefix):
    with pytest.raises(TypeError) as e:
        call()
    assert str(e.value).startswith(prefix)


def test_concatenated_gzip_members_are_all_read(tok, tmp_path):
    p = tmp_path / "cat.jsonl.gz"
    p.write_bytes(gzip.compress(jsonl_bytes(["first doc"])) + gzip.compress(jsonl_bytes(["second doc", "third"])))
    assert rows(tok.encode_files(p)) == encoded(tok, ["first doc", "second doc", "third"])
