"""Differential tests of the native pretokenizers against the `regex` package.

The native tool morvik_pretokenize_dump runs a scanner over many texts at
once; every piece it yields must be exactly the match of the kind's splitting
expression. Other kinds join by adding their expression to EXPRESSIONS.
"""
from __future__ import annotations

import random
import struct
import subprocess
import unicodedata

import pytest

from _paths import corpus_file, native_tool

regex = pytest.importorskip("regex")

# Kind number (as the native PretokenizerKind) -> splitting expression.
EXPRESSIONS = {
    0: r"""'(?:[sdmt]|ll|ve|re)| ?\p{L}+| ?\p{N}+| ?[^\s\p{L}\p{N}]+|\s+(?!\S)|\s+""",
    1: r"""'(?i:[sdmt]|ll|ve|re)|[^\r\n\p{L}\p{N}]?+\p{L}++|\p{N}{1,3}+| ?[^\s\p{L}\p{N}]++[\r\n]*+|\s++$|\s*[\r\n]|\s+(?!\S)|\s+""",
    2: r"""(?i:'s|'t|'re|'ve|'m|'ll|'d)|[^\r\n\p{L}\p{N}]?\p{L}+|\p{N}| ?[^\s\p{L}\p{N}]+[\r\n]*|\s*[\r\n]+|\s+(?!\S)|\s+""",
    3: r"""(?i:'s|'t|'re|'ve|'m|'ll|'d)|[^\r\n\p{L}\p{N}]?[\p{L}\p{M}]+|\p{N}| ?[^\s\p{L}\p{M}\p{N}]+[\r\n]*|\s*[\r\n]+|\s+(?!\S)|\s+""",
    4: r"""(?i:'s|'t|'re|'ve|'m|'ll|'d)|[^\r\n\p{L}\p{N}]?\p{L}+|\p{N}{1,3}| ?[^\s\p{L}\p{N}]+[\r\n]*|\s*[\r\n]+|\s+(?!\S)|\s+""",
}
KINDS = sorted(EXPRESSIONS)
CORPORA = ["en", "code", "multi"]
WHITE_SPACE = [chr(c) for c in (*range(0x09, 0x0E), 0x20, 0x85, 0xA0, 0x1680, *range(0x2000, 0x200B),
                                0x2028, 0x2029, 0x202F, 0x205F, 0x3000)]
BLOCK_LENGTHS = [63, 64, 69, 70, 127, 128, 133, 134]


def run_dump(kind: int, texts: list[bytes], use_next: bool = False) -> list[list[int]]:
    """Span lengths of each text as the native scanner of `kind` cuts it."""
    tool = native_tool("pretokenize_dump")
    if tool is None:
        pytest.skip("native tool morvik_pretokenize_dump not built")
    payload = b"".join(struct.pack("<I", len(t)) + t for t in texts)
    args = [str(tool), str(kind)] + (["--next"] if use_next else [])
    proc = subprocess.run(args, input=payload, capture_output=True, check=False)
    assert proc.returncode == 0, proc.stderr.decode(errors="replace")
    out, at, result = proc.stdout, 0, []
    for _ in texts:
        (count,) = struct.unpack_from("<I", out, at)
        result.append(list(struct.unpack_from(f"<{count}I", out, at + 4)))
        at += 4 + 4 * count
    assert at == len(out)
    return result


def expected_lengths(kind: int, text: str) -> list[int]:
    return [len(p.encode("utf-8")) for p in regex.findall(EXPRESSIONS[kind], text)]


def first_difference(text: str, got: list[int], want: list[int]) -> str:
    data = text.encode("utf-8")
    at = 0
    for i, (g, w) in enumerate(zip(got, want)):
        if g != w:
            ctx = data[max(0, at - 20): at + max(g, w) + 20]
            return f"piece {i} at byte {at}: got {data[at:at + g]!r}, want {data[at:at + w]!r}; context {ctx!r}"
        at += g
    return f"piece counts differ: got {len(got)}, want {len(want)}"


def check_texts(kind: int, texts: list[str], use_next: bool = False, label: str = "") -> None:
    got_all = run_dump(kind, [t.encode("utf-8") for t in texts], use_next)
    bad = []
    for i, (text, got) in enumerate(zip(texts, got_all)):
        want = expected_lengths(kind, text)
        if got != want:
            bad.append(f"{label} text {i}: {first_difference(text, got, want)}")
    assert not bad, f"{len(bad)} of {len(texts)} texts differ; first: " + "\n".join(bad[:5])


@pytest.mark.parametrize("corpus", CORPORA)
@pytest.mark.parametrize("kind", KINDS)
def test_corpus_documents_match_regex(kind: int, corpus: str) -> None:
    path = corpus_file(f"{corpus}.txt")
    if path is None:
        pytest.skip(f"corpus {corpus}.txt not present")
    docs = path.read_bytes().decode("utf-8").split("<|endoftext|>")
    # Batches keep the tool's output and the comparison lists small.
    for start in range(0, len(docs), 2000):
        check_texts(kind, docs[start:start + 2000], label=f"{corpus} from doc {start}")


def _pools() -> dict[str, list[str]]:
    """Assigned code points of each class, per Python's Unicode database."""
    pools: dict[str, list[str]] = {"L": [], "M": [], "N": [], "PS": [], "C": []}
    for cp in range(0x80, 0x110000):
        cat = unicodedata.category(chr(cp))
        if cat in ("Cn", "Cs"):
            continue
        group = {"L": "L", "M": "M", "N": "N", "P": "PS", "S": "PS"}.get(cat[0], "C")
        if cat[0] == "Z" or chr(cp) in WHITE_SPACE:
            continue
        pools[group].append(chr(cp))
    return pools


@pytest.fixture(scope="module")
def generated_texts() -> list[str]:
    rng = random.Random(20240611)
    pools = _pools()
    ascii_letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
    contraction_bits = ["'s", "'d", "'m", "'t", "'ll", "'ve", "'re", "'S", "'LL", "'", "''", "'x", " '", "'r", "'l",
                        "'D", "'Ve", "'rE", "'T", "'M", "'\u017f", "'\u212a", "'\u017fs", "\u017f", "'\u0130"]
    cjk_kana = [chr(c) for c in (*range(0x4E00, 0x4E40), *range(0x3041, 0x3097), *range(0x30A1, 0x30FB), 0x30FC, 0x3005)]
    line_breaks = ["\n", "\r", "\r\n", "\n\n", " \n", "\n ", "\t\n  ", "\n\r\n", "!\n\n", ".\r\n"]

    def piece() -> str:
        r = rng.random()
        if r < 0.03:
            return "".join(rng.choice(cjk_kana) for _ in range(rng.randint(1, 8)))
        if r < 0.06:
            return rng.choice(line_breaks)
        if r < 0.08:
            return "".join(rng.choice("0123456789") for _ in range(rng.randint(6, 80)))
        if r < 0.20:
            return "".join(rng.choice(ascii_letters) for _ in range(rng.randint(1, 10)))
        if r < 0.28:
            return "".join(rng.choice("0123456789") for _ in range(rng.randint(1, 5)))
        if r < 0.42:
            return "".join(rng.choice(WHITE_SPACE) for _ in range(rng.randint(1, 4)))
        if r < 0.50:
            return " " * rng.randint(1, 3)
        if r < 0.58:
            return rng.choice(contraction_bits)
        if r < 0.66:
            return "".join(rng.choice("!?.,;:-_()[]{}<>/\\\"#$%&*+=@^`|~\x7f\x01\x1c") for _ in range(rng.randint(1, 3)))
        if r < 0.80:  # letters of any script, often followed by combining marks
            s = "".join(rng.choice(pools["L"]) for _ in range(rng.randint(1, 4)))
            return s + "".join(rng.choice(pools["M"]) for _ in range(rng.randint(0, 2)))
        if r < 0.88:
            return "".join(rng.choice(pools["N"]) for _ in range(rng.randint(1, 3)))
        if r < 0.95:
            return "".join(rng.choice(pools["PS"]) for _ in range(rng.randint(1, 3)))
        return rng.choice(pools["C"] + pools["M"])

    def text_of_bytes(n: int) -> str:
        """A text of exactly n UTF-8 bytes (ASCII fill at the end)."""
        s = ""
        while True:
            p = piece()
            if len((s + p).encode()) > n:
                break
            s += p
        fill = n - len(s.encode())
        return s + "".join(rng.choice("ab  ") for _ in range(fill))

    texts = [text_of_bytes(rng.randint(1, 700)) for _ in range(3000)]
    # Endings where the end-of-text white-space rule differs between kinds.
    endings = ["\n  ", " \n", "\n", "  ", "\t", "\r\n\t ", "\u3000", " \u2028 "]
    texts += [t + rng.choice(endings) for t in texts[:600]]
    # A feature (white space, contraction, mark, number) at every block offset.
    features = ["\u3000", "\u2028", "\x85", "\xa0", "  ", " \t", "\t\t", "'s", "'ll", "e\u0301", "\u0663", "\u00b2",
                "\u2019", "\U0001F600", "\u4e2d", " \u3000x", "'\u017f", "'LL", "\n\n", "!\r\n", "1234567",
                "\u0663\u0664\u0665\u0666", "\u3042\u30a2", "\r\n ", " \n\t"]
    for total in BLOCK_LENGTHS:
        for offset in range(total):
            feature = rng.choice(features)
            head = text_of_bytes(offset)
            tail_len = total - offset - len(feature.encode())
            if tail_len < 0:
                continue
            texts.append(head + feature + text_of_bytes(tail_len))
    return texts


@pytest.mark.parametrize("use_next", [False, True], ids=["callback", "next"])
@pytest.mark.parametrize("kind", KINDS)
def test_generated_texts_match_regex(kind: int, use_next: bool, generated_texts: list[str]) -> None:
    check_texts(kind, generated_texts, use_next, label="generated")


@pytest.mark.parametrize("kind", KINDS)
def test_invalid_utf8_still_tiles(kind: int) -> None:
    rng = random.Random(5)
    texts = [bytes(rng.randrange(256) for _ in range(rng.randint(0, 300))) for _ in range(500)]
    texts += [b"abc\xe3", b"\xf0\x9f\x98", b"x" * 70 + b"\xe3\x80", b"\xff" * 140, b"'" + b"\x80" * 130]
    for use_next in (False, True):
        for text, lengths in zip(texts, run_dump(kind, texts, use_next)):
            assert sum(lengths) == len(text) and all(n > 0 for n in lengths)
