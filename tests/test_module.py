"""The module's registered names, docstrings and signatures, and the shared conventions."""
import inspect
import pathlib

import numpy as np
import pytest

import morvik_rs

TABLE_ORDER = [
    "train_bpe", "FileSource", "TextFileSource", "JsonlFileSource", "PretokenizerIter",
    "BPETokenizer", "SentencePieceTokenizer", "pretokenizer", "pretokenized_counts", "load_hf_json",
]


def test_all_lists_registered_names_in_table_order():
    assert morvik_rs.__all__ == [n for n in TABLE_ORDER if n in morvik_rs.__all__]
    for name in morvik_rs.__all__:
        assert getattr(morvik_rs, name).__module__ == "morvik_rs" or callable(getattr(morvik_rs, name))
    assert {"BPETokenizer", "PretokenizerIter", "pretokenizer"} <= set(morvik_rs.__all__)


@pytest.mark.parametrize("obj, text", [
    (lambda: morvik_rs.pretokenizer, "(text)"),
    (lambda: morvik_rs.BPETokenizer, "()"),
    (lambda: morvik_rs.BPETokenizer.from_tiktoken, "(path)"),
    (lambda: morvik_rs.BPETokenizer.encode, "(self, /, input)"),
    (lambda: morvik_rs.BPETokenizer.decode, "(self, /, tokens)"),
])
def test_text_signatures(obj, text):
    assert str(inspect.signature(obj())) == text


def test_docstrings():
    assert morvik_rs.BPETokenizer.encode.__doc__ == (
        "Encode a single document (str or bytes) with the main tokenizer,\n"
        "whose pretoken cache persists across calls.")
    assert morvik_rs.BPETokenizer.vocab_size.__doc__.startswith("Size of the vocabulary")
    assert not morvik_rs.BPETokenizer.__doc__
    assert not morvik_rs.PretokenizerIter.__doc__


def test_unconstructible_class():
    with pytest.raises(TypeError):
        morvik_rs.PretokenizerIter()


@pytest.mark.parametrize("call", [
    lambda t: t.encode(),
    lambda t: t.encode("a", "b"),
    lambda t: t.encode(inputs="a"),
    lambda t: t.encode("a", input="a"),
    lambda t: morvik_rs.BPETokenizer(1),
    lambda t: morvik_rs.pretokenizer(),
])
def test_argument_count_and_keyword_errors(small_ranks, call):
    tok = morvik_rs.BPETokenizer.from_tiktoken(small_ranks)
    with pytest.raises(TypeError):
        call(tok)


def test_arguments_by_keyword(small_ranks):
    tok = morvik_rs.BPETokenizer.from_tiktoken(path=small_ranks)
    assert tok.decode(tokens=tok.encode(input="the")) == b"the"
    assert list(morvik_rs.pretokenizer(text=b"a b")) == [b"a", b" b"]


class PathLike:
    def __fspath__(self):
        return "some/file.txt"


@pytest.mark.parametrize("value, message", [
    (5, "expected str or bytes, got <class 'int'>"),
    (None, "expected str or bytes, got <class 'NoneType'>"),
    (memoryview(b"x"), "expected str or bytes, got <class 'memoryview'>"),
    (pathlib.Path("a.txt"), "expected str or bytes, got <class 'pathlib.PosixPath'>; to encode files, use encode_files"),
    (PathLike(), "expected str or bytes, got <class 'test_module.PathLike'>; to encode files, use encode_files"),
    ("\ud800", "expected str or bytes, got <class 'str'>"),
])
def test_document_refusals(small_ranks, value, message):
    tok = morvik_rs.BPETokenizer.from_tiktoken(small_ranks)
    with pytest.raises(TypeError) as e:
        tok.encode(value)
    assert str(e.value) == message


def test_surrogate_accepted_by_fs_encoding_gets_suffix(small_ranks):
    tok = morvik_rs.BPETokenizer.from_tiktoken(small_ranks)
    with pytest.raises(TypeError, match="; to encode files, use encode_files$"):
        tok.encode("\udcff")  # surrogateescape takes it as a path


def test_document_kinds_agree(small_ranks):
    tok = morvik_rs.BPETokenizer.from_tiktoken(small_ranks)
    text = "the thing héllo 🙂"

    class S(str):
        pass

    class B(bytes):
        pass

    want = tok.encode(text)
    assert want.dtype == np.uint32 and want.ndim == 1
    for doc in (text.encode(), bytearray(text.encode()), S(text), B(text.encode())):
        assert np.array_equal(tok.encode(doc), want)
    for empty in ("", b"", bytearray()):
        out = tok.encode(empty)
        assert out.dtype == np.uint32 and len(out) == 0


@pytest.mark.parametrize("value, ids", [
    (np.array([], dtype=np.uint32), []),
    ([], []),
    ((1, 2), [1, 2]),
    (np.array([116, 104], dtype=np.uint32), [116, 104]),
    (np.array([116, 104], dtype=np.int64), [116, 104]),
    (np.array([116, 104, 0, 1], dtype=np.uint32)[::2], None),
    (np.array([116, 104], dtype=np.uint32)[::-1], None),
])
def test_token_id_conversion(small_ranks, value, ids):
    tok = morvik_rs.BPETokenizer.from_tiktoken(small_ranks)
    if ids is None:
        with pytest.raises(TypeError) as e:
            tok.decode(value)
        assert str(e.value) == "The given array is not contiguous or is misaligned."
        assert tok.decode(list(value)) == bytes(list(value))
    else:
        assert tok.decode(value) == bytes(ids)


@pytest.mark.parametrize("value, exc, message", [
    ([-1], OverflowError, "out of range integral type conversion attempted"),
    ([2**32], OverflowError, "out of range integral type conversion attempted"),
    ([2**70], OverflowError, None),
    ("ab", TypeError, None),
    (5, TypeError, "'int' object is not an instance of 'Sequence'"),
    (None, TypeError, "'None' is not an instance of 'Sequence'"),
    ([1.5], TypeError, "'float' object cannot be interpreted as an integer"),
])
def test_token_id_refusals(small_ranks, value, exc, message):
    tok = morvik_rs.BPETokenizer.from_tiktoken(small_ranks)
    with pytest.raises(exc) as e:
        tok.decode(value)
    if message:
        assert str(e.value) == message
    assert not str(e.value).startswith("argument")


@pytest.mark.parametrize("value, message", [
    (b"/x.tiktoken", "argument 'path': 'bytes' object is not an instance of 'str'"),
    (5, "argument 'path': expected str, bytes or os.PathLike object, not int"),
])
def test_typed_path_parameter(value, message):
    with pytest.raises(TypeError) as e:
        morvik_rs.BPETokenizer.from_tiktoken(value)
    assert str(e.value) == message


def test_runtime_error_layout(tmp_path):
    missing = tmp_path / "missing.tiktoken"
    with pytest.raises(RuntimeError) as e:
        morvik_rs.BPETokenizer.from_tiktoken(missing)
    lines = str(e.value).split("\n")
    assert lines[0] == f"Failed to read {missing}"
    assert lines[1:4] == ["", "Caused by:", "    No such file or directory (os error 2)"]
    assert lines[4:6] == ["", "Location:"]
    assert lines[6].startswith("    ") and ":" in lines[6]


def test_type_stubs_name_exactly_the_registered_names():
    import ast
    stub = pathlib.Path(morvik_rs.__file__).with_name("__init__.pyi")
    assert stub.with_name("py.typed").is_file()
    tree = ast.parse(stub.read_text())
    names = {n.name for n in tree.body if isinstance(n, (ast.ClassDef, ast.FunctionDef))}
    assert names == set(morvik_rs.__all__)
