"""DeepSeek V3 pretokens against the `tokenizers` pre-tokenizer built from the
family's three isolating splits: every corpus document, documented cases, and
generated mixes of scripts, marks, kana, digits, symbols and white space."""
from __future__ import annotations

import json
import random
import unicodedata

import pytest

from _paths import corpus_file, tokenizer_file
from test_pretokenize_scanners import run_dump

tokenizers = pytest.importorskip("tokenizers")

KIND_DEEPSEEK_V3 = 5

# The splits in order; the third as stored in tokenizer.json (raw CR and LF).
SPLITS = [
    r"\p{N}{1,3}",
    "[一-龥぀-ゟ゠-ヿ]+",
    "[!\"#$%&'()*+,\\-./:;<=>?@\\[\\\\\\]^_`{|}~][A-Za-z]+|[^\r\n\\p{L}\\p{P}\\p{S}]?[\\p{L}\\p{M}]+"
    "| ?[\\p{P}\\p{S}]+[\r\n]*|\\s*[\r\n]+|\\s+(?!\\S)|\\s+",
]


@pytest.fixture(scope="module")
def reference():
    from tokenizers import Regex, pre_tokenizers

    splits = [pre_tokenizers.Split(Regex(p), behavior="isolated") for p in SPLITS]
    seq = pre_tokenizers.Sequence(splits)
    return lambda text: [len(piece.encode("utf-8")) for piece, _ in seq.pre_tokenize_str(text)]


@pytest.fixture(scope="module")
def scan():
    # Both entry points, the encoder's callback path and the dispatch
    # iterator, on the same texts; the reference runs once.
    def run(texts: list[bytes]) -> list[list[int]]:
        via_callback = run_dump(KIND_DEEPSEEK_V3, texts)
        assert run_dump(KIND_DEEPSEEK_V3, texts, use_next=True) == via_callback
        return via_callback

    return run


def pieces(text: str, lengths: list[int]) -> list[str]:
    b, out, pos = text.encode("utf-8"), [], 0
    for n in lengths:
        out.append(b[pos : pos + n].decode("utf-8", errors="backslashreplace"))
        pos += n
    return out


def assert_same(texts: list[str], reference, scan, what: str):
    ours = scan([t.encode("utf-8") for t in texts])
    bad = [(t, r, o) for t, o in zip(texts, ours) if (r := reference(t)) != o]
    if bad:
        t, r, o = bad[0]
        k = next((i for i, (a, b) in enumerate(zip(r, o)) if a != b), min(len(r), len(o)))
        pytest.fail(
            f"{what}: {len(bad)} of {len(texts)} texts differ; first at piece {k} of {t[:200]!r}\n"
            f"  reference {pieces(t, r)[max(0, k - 2) : k + 3]}\n  ours      {pieces(t, o)[max(0, k - 2) : k + 3]}"
        )


def test_splits_are_those_of_deepseek_v3_json():
    path = tokenizer_file("deepseek_v3.json")
    if path is None:
        pytest.skip("deepseek_v3.json not available")
    pre = json.loads(path.read_text(encoding="utf-8"))["pre_tokenizer"]
    splits = [p for p in pre["pretokenizers"] if p["type"] == "Split"]
    assert [p["pattern"]["Regex"] for p in splits] == SPLITS
    assert all(p["behavior"] == "Isolated" and not p["invert"] for p in splits)


@pytest.mark.parametrize("name", ["en", "code", "multi"])
def test_every_corpus_document(name, reference, scan):
    path = corpus_file(f"{name}.txt")
    if path is None:
        pytest.skip(f"corpus {name}.txt not available")
    docs = path.read_text(encoding="utf-8").split("<|endoftext|>")
    assert_same(docs, reference, scan, f"{name}.txt")


DOCUMENTED = [
    "12345", "a1b", "Hello world", "it's", "(hello", "...abc", "(héllo", " 日本", "日本語", "日本・語",
    "  7", "  a", "!!\n\n", "\x01a", "\x01\x02", "", "x", "\r\n\r\n  x", "x \n y", "\t!", " !?\n", "$x$ 1",
    "a\u3000b", "a\x85b", "ab\u200b\u200bcd", "¹²³⁴", "٣٤٥٦7", "日本123", "か\u3099", "\u3099か", "  ・",
    "ｶﾀｶﾅ", "カタカナー", "ゝゞヽヾ", "゛゜", "word\u0301\u0302s", " \u0301", "\u00a0\u00a0x", "1" * 10 + "x",
]


def test_documented_cases(reference, scan):
    assert_same(DOCUMENTED, reference, scan, "documented cases")


def _pools() -> dict[str, list[str]]:
    # Only code points assigned in this Python's Unicode data: the scanner's
    # tables and the reference engine may be of a different Unicode version.
    def assigned(cps):
        return [chr(c) for c in cps if not 0xD800 <= c < 0xE000 and unicodedata.category(chr(c)) != "Cn"]

    everything = assigned(range(0x110000))
    by_major: dict[str, list[str]] = {}
    for ch in everything:
        by_major.setdefault(unicodedata.category(ch)[0], []).append(ch)
    blocks = [(0x80, 0x250), (0x370, 0x530), (0x590, 0x700), (0x900, 0xE00), (0x10A0, 0x1100), (0x1100, 0x1200),
              (0x1780, 0x1800), (0x1800, 0x18B0), (0x1E00, 0x2000), (0x2000, 0x2BFF), (0xAC00, 0xAC80),
              (0xFF00, 0xFFF0), (0x1F300, 0x1F700)]
    scripts = assigned(c for lo, hi in blocks for c in range(lo, hi))
    white = [chr(c) for c in (*range(9, 14), 0x20, 0x85, 0xA0, 0x1680, *range(0x2000, 0x200B), 0x2028, 0x2029, 0x202F,
                              0x205F, 0x3000)]
    assert len(white) == 25
    return {
        "script": scripts,
        "marks": by_major["M"],
        "letters": by_major["L"],
        "numbers": by_major["N"],
        "punct_symbol": by_major["P"] + by_major["S"],
        "control_format": by_major["C"] + by_major["Z"],
        "cjk": assigned(range(0x4E00, 0x9FA6)),
        "kana": assigned(range(0x3040, 0x3100)),
        "cjk_edges": [chr(c) for c in (0x3099, 0x309A, 0x309B, 0x309C, 0x30A0, 0x30FB, 0x30FC, 0x4E00, 0x9FA5, 0x9FA6,
                                       0x4DFF, 0x303F, 0x3100, 0x3007)],
        "white": white,
        "crlf": ["\r", "\n", "\r\n", "\n\n", " \n"],
        "ascii_letters": [chr(c) for c in (*range(0x41, 0x5B), *range(0x61, 0x7B))],
        "ascii_punct": [chr(c) for c in range(0x21, 0x7F) if not chr(c).isalnum()],
        "digits": list("0123456789"),
        "controls": [chr(c) for c in (*range(0, 9), *range(14, 32), 0x7F)],
    }


def _generate(rng: random.Random, pools: dict[str, list[str]]) -> str:
    keys = rng.sample(sorted(pools), rng.randint(1, 4))
    out = []
    for _ in range(rng.choice([1, 2, 3, 5, 9, 20, 60, 150])):
        pool = pools[rng.choice(keys)]
        run = rng.choice([1, 1, 1, 2, 3, 8, 17]) if pool is not pools["digits"] else rng.choice([1, 2, 3, 4, 7, 40])
        out.extend(rng.choice(pool) for _ in range(run))
    return "".join(out)


def test_generated_texts(reference, scan):
    pools = _pools()
    rng = random.Random(20240605)
    texts = [_generate(rng, pools) for _ in range(30000)]
    assert_same(texts, reference, scan, "generated texts")


def test_generated_texts_at_every_offset(reference, scan):
    # Prefixes of one mixed text: every piece boundary meets the end of the text.
    pools = _pools()
    rng = random.Random(7)
    base = "".join(_generate(rng, pools) for _ in range(12))[:400]
    texts = [base[:i] for i in range(len(base) + 1)] + [base[i:] for i in range(len(base))]
    assert_same(texts, reference, scan, "prefixes and suffixes")
