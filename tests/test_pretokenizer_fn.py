"""The `pretokenizer` function and its iterator (GPT-2 pretokens of bytes)."""
import pytest

import morvik_rs


@pytest.mark.parametrize("text, pieces", [
    (b"", []),
    (b"x", [b"x"]),
    (b"Hello world", [b"Hello", b" world"]),
    (b"I'm we'll I'M", [b"I", b"'m", b" we", b"'ll", b" I", b"'", b"M"]),
    (b"a 's", [b"a", b" '", b"s"]),
    (b"a  b", [b"a", b" ", b" b"]),
    (b"a\t\tb", [b"a", b"\t", b"\t", b"b"]),
    (b"a  ", [b"a", b"  "]),
    ("x\u00a0y".encode(), [b"x", "\u00a0".encode(), b"y"]),
    (b"123abc ?!x", [b"123", b"abc", b" ?!", b"x"]),
])
def test_pieces(text, pieces):
    assert list(morvik_rs.pretokenizer(text)) == pieces


def test_iterator_protocol():
    it = morvik_rs.pretokenizer(b"ab cd")
    assert iter(it) is it
    assert next(it) == b"ab" and next(it) == b" cd"
    for _ in range(3):
        with pytest.raises(StopIteration):
            next(it)


@pytest.mark.parametrize("value", ["text", bytearray(b"text"), memoryview(b"x"), None])
def test_refuses_non_bytes(value):
    with pytest.raises(TypeError) as e:
        morvik_rs.pretokenizer(value)
    assert str(e.value).startswith("argument 'text': ")
    assert "is not an instance of 'bytes'" in str(e.value)


def test_invalid_utf8_pieces_join_back():
    import random
    rng = random.Random(7)
    for n in list(range(0, 140)) + [500, 1000]:
        data = bytes(rng.choice([0x80, 0xBF, 0xC0, 0xC3, 0xE2, 0xF0, 0xF4, 0xFF, 0x20, 0x27, 0x41, 0x31, 0x0A])
                     for _ in range(n))
        pieces = list(morvik_rs.pretokenizer(data))
        assert b"".join(pieces) == data and all(pieces)
