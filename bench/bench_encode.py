"""Single-thread encode throughput: morvik_rs against the peer libraries.

For each tokenizer and corpus the ids of every peer are first checked equal to
ours on all documents measured; then each side encodes the same documents once
(ours with a fresh tokenizer, so its pretoken cache starts cold) and the
throughput and the ratio ours / peer are printed.

    python bench/bench_encode.py [--mb 16] [--only r50k,llama3,...]
"""
from __future__ import annotations

import argparse
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests"))
from _paths import corpus_file, tokenizer_file  # noqa: E402

import morvik_rs  # noqa: E402

R50K = r"""'(?:[sdmt]|ll|ve|re)| ?\p{L}+| ?\p{N}+| ?[^\s\p{L}\p{N}]+|\s+(?!\S)|\s+"""
CL100K = (r"""'(?i:[sdmt]|ll|ve|re)|[^\r\n\p{L}\p{N}]?+\p{L}++|\p{N}{1,3}+| ?[^\s\p{L}\p{N}]++[\r\n]*+|"""
          r"""\s++$|\s*[\r\n]|\s+(?!\S)|\s+""")


def docs_of(name: str, limit: int) -> list[str]:
    p = corpus_file(f"{name}.txt")
    if p is None:
        return []
    out, total = [], 0
    for d in p.read_text(encoding="utf-8").split("<|endoftext|>"):
        if total >= limit:
            break
        out.append(d)
        total += len(d.encode())
    return out


def timed(fn, docs) -> tuple[float, list[list[int]]]:
    start = time.perf_counter()
    ids = [fn(d) for d in docs]
    return time.perf_counter() - start, ids


def as_list(x):
    return x.tolist() if hasattr(x, "tolist") else list(x)


def ranks_peers(path: Path, pattern: str):
    import tiktoken
    from tiktoken.load import load_tiktoken_bpe
    ranks = load_tiktoken_bpe(str(path))
    special = {"<|endoftext|>": len(ranks)}
    peers = {}
    enc = tiktoken.Encoding(path.stem, pat_str=pattern, mergeable_ranks=ranks, special_tokens=special)
    peers["tiktoken"] = enc.encode_ordinary
    try:
        import riptoken
        core = riptoken.CoreBPE(ranks, special, pattern)
        peers["riptoken"] = core.encode_ordinary
    except Exception as e:  # a peer that cannot load this file is skipped
        print(f"  (riptoken skipped: {e})")
    try:
        import tokendagger
        td = tokendagger.Encoding(path.stem, pat_str=pattern, mergeable_ranks=ranks, special_tokens=special)
        peers["tokendagger"] = td.encode_ordinary
    except Exception as e:
        print(f"  (tokendagger skipped: {e})")
    return peers


def hf_peers(path: Path, cl100k_ranks: Path | None):
    import tokenizers
    ref = tokenizers.Tokenizer.from_file(str(path))
    peers = {"tokenizers": lambda d: ref.encode(d, add_special_tokens=False).ids}
    try:
        import quicktok
        q = quicktok.get_encoding(path.stem.replace("gpt35turbo", "cl100k_base"))
        peers["quicktok"] = q.encode_ordinary if hasattr(q, "encode_ordinary") else q.encode
    except Exception as e:
        print(f"  (quicktok skipped: {e})")
    return peers


def run(label, ours_factory, peers, corpora, limit):
    for corpus in corpora:
        docs = docs_of(corpus, limit)
        if not docs:
            continue
        nbytes = sum(len(d.encode()) for d in docs)
        ours = ours_factory()
        t_ours, arrays = timed(ours.encode, docs)  # results stay uint32 arrays
        ids_ours = [a.tolist() for a in arrays]
        warm = ours_factory()
        for d in docs:
            warm.encode(d)
        t_warm, _ = timed(lambda d: warm.encode(d), docs)
        line = [f"{label:12s} {corpus:5s} {nbytes / 1e6:6.1f} MB  threads=1  ours {nbytes / t_ours / 1e6:7.1f} MB/s"
                f" (warm {nbytes / t_warm / 1e6:6.1f})"]
        for name, fn in peers.items():
            try:
                t_peer, ids_peer = timed(lambda d: as_list(fn(d)), docs)
            except Exception as e:
                line.append(f"{name}: failed ({e})")
                continue
            if ids_peer != ids_ours:
                line.append(f"{name}: IDS DIFFER, not timed")
                continue
            line.append(f"{name} {nbytes / t_peer / 1e6:6.1f} MB/s ratio {t_peer / t_ours:5.1f}x")
        print("  ".join(line), flush=True)


def main() -> int:
    ap = argparse.ArgumentParser()
    ap.add_argument("--mb", type=float, default=16.0, help="MB of each corpus")
    ap.add_argument("--only", default="", help="comma-separated tokenizer labels")
    args = ap.parse_args()
    limit = int(args.mb * 1e6)
    corpora = ["en", "code", "multi"]
    only = set(filter(None, args.only.split(",")))
    for label in ["r50k_base", "cl100k_base", "o200k_base"]:
        p = tokenizer_file(f"{label}.tiktoken")
        if p and (not only or label in only):
            print(f"{label}.tiktoken (pretokenized with the r50k expression)")
            run(label, lambda p=p: morvik_rs.BPETokenizer.from_tiktoken(p), ranks_peers(p, R50K), corpora, limit)
    for label in ["llama3", "qwen3", "gpt35turbo", "deepseek_v3"]:
        p = tokenizer_file(f"{label}.json")
        if p and (not only or label in only):
            print(f"{label}.json")
            peers = hf_peers(p, tokenizer_file("cl100k_base.tiktoken"))
            if label == "gpt35turbo" and tokenizer_file("cl100k_base.tiktoken"):
                import tiktoken
                from tiktoken.load import load_tiktoken_bpe
                ranks = load_tiktoken_bpe(str(tokenizer_file("cl100k_base.tiktoken")))
                # The same vocabulary with tiktoken's own cl100k expression.
                enc = tiktoken.Encoding("cl100k", pat_str=CL100K, mergeable_ranks=ranks, special_tokens={})
                peers["tiktoken(cl100k)"] = enc.encode_ordinary
            run(label, lambda p=p: morvik_rs.BPETokenizer.from_hf(p), peers, corpora, limit)
    return 0


if __name__ == "__main__":
    sys.exit(main())
