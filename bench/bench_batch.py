"""Parallel throughput of encode_batch and encode_files against the peers.

Runs itself once per thread count (MORVIK_NUM_THREADS, and the same count for
the peers), checks that every result equals ours document by document, then
times one pass each and prints MB/s and ratios (ours / peer).

    python bench/bench_batch.py [--mb 32] [--threads 1,2] [--tokenizer r50k_base]
    python bench/bench_batch.py --memory [--gb 1]   # peak anonymous memory of encode_files
"""
from __future__ import annotations

import argparse
import json
import os
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests"))
from _paths import corpus_file, tokenizer_file  # noqa: E402

sys.path.insert(0, str(Path(__file__).resolve().parent))
from bench_encode import docs_of  # noqa: E402

R50K = r"""'(?:[sdmt]|ll|ve|re)| ?\p{L}+| ?\p{N}+| ?[^\s\p{L}\p{N}]+|\s+(?!\S)|\s+"""


def child(args) -> int:
    import numpy as np
    import morvik_rs
    threads = int(os.environ["MORVIK_NUM_THREADS"])
    limit = int(args.mb * 1e6)
    ranks_path = tokenizer_file(f"{args.tokenizer}.tiktoken")
    ours = morvik_rs.BPETokenizer.from_tiktoken(ranks_path)
    import tiktoken
    from tiktoken.load import load_tiktoken_bpe
    ranks = load_tiktoken_bpe(str(ranks_path))
    enc = tiktoken.Encoding(args.tokenizer, pat_str=R50K, mergeable_ranks=ranks,
                            special_tokens={"<|endoftext|>": len(ranks)})
    hf = None
    hf_path = tokenizer_file("gpt35turbo.json")
    for corpus in ["en", "multi"]:
        docs = docs_of(corpus, limit)
        if not docs:
            continue
        nbytes = sum(len(d.encode()) for d in docs)
        # Warm-up run also checks ids.
        got = ours.encode_batch(docs)
        want = enc.encode_ordinary_batch(docs, num_threads=threads)
        same = all(np.asarray(r).tolist() == w for r, w in zip(got, want)) and len(got) == len(want)
        t0 = time.perf_counter()
        ours.encode_batch(docs)
        t_ours = time.perf_counter() - t0
        fresh = morvik_rs.BPETokenizer.from_tiktoken(ranks_path)
        t0 = time.perf_counter()
        fresh.encode_batch(docs)
        t_cold = time.perf_counter() - t0
        t0 = time.perf_counter()
        enc.encode_ordinary_batch(docs, num_threads=threads)
        t_tik = time.perf_counter() - t0
        line = (f"encode_batch {args.tokenizer} {corpus:5s} {nbytes / 1e6:6.1f} MB threads={threads}: "
                f"ours {nbytes / t_ours / 1e6:7.1f} MB/s (cold {nbytes / t_cold / 1e6:6.1f})  ")
        line += (f"tiktoken {nbytes / t_tik / 1e6:6.1f} MB/s ratio {t_tik / t_ours:5.1f}x" if same
                 else "tiktoken IDS DIFFER")
        # tokenizers on the same vocabulary needs its own expression; compare on gpt35turbo.
        if hf_path is not None:
            import tokenizers
            os.environ["RAYON_NUM_THREADS"] = str(threads)
            if hf is None:
                hf = (morvik_rs.BPETokenizer.from_hf(hf_path), tokenizers.Tokenizer.from_file(str(hf_path)))
            ours_hf, ref = hf
            try:
                got = ours_hf.encode_batch(docs)
                want = [e.ids for e in ref.encode_batch(docs, add_special_tokens=False)]
                same = all(np.asarray(r).tolist() == w for r, w in zip(got, want))
                t0 = time.perf_counter()
                ours_hf.encode_batch(docs)
                t_o = time.perf_counter() - t0
                t0 = time.perf_counter()
                ref.encode_batch(docs, add_special_tokens=False)
                t_r = time.perf_counter() - t0
                line += (f"  | gpt35turbo.json ours {nbytes / t_o / 1e6:6.1f} MB/s tokenizers "
                         f"{nbytes / t_r / 1e6:5.1f} MB/s ratio {t_r / t_o:5.1f}x" if same else "  | tokenizers IDS DIFFER")
            except Exception as e:
                line += f"  | gpt35turbo.json skipped ({e})"
        print(line, flush=True)
        # Files: the same documents as JSON Lines and as text with a separator.
        with tempfile.TemporaryDirectory() as d:
            jl = Path(d) / "c.jsonl"
            jl.write_text("".join(json.dumps({"text": t}) + "\n" for t in docs))
            tx = Path(d) / "c.txt"
            tx.write_text("<|endoftext|>".join(docs))
            for label, src in [("jsonl", jl), ("txt", morvik_rs.TextFileSource([tx], separator=b"<|endoftext|>"))]:
                ours.encode_files(src)
                t0 = time.perf_counter()
                out = ours.encode_files(src)
                t_f = time.perf_counter() - t0
                print(f"encode_files {label:5s} {corpus:5s} threads={threads}: ours {nbytes / t_f / 1e6:7.1f} MB/s "
                      f"({len(out)} rows) tiktoken(batch) ratio {t_tik / t_f:5.1f}x", flush=True)
    return 0


def rss_anon_kb() -> int:
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("RssAnon:"):
                return int(line.split()[1])
    return 0


def memory(args) -> int:
    import morvik_rs
    src = corpus_file("en.txt")
    ranks = tokenizer_file(f"{args.tokenizer}.tiktoken")
    tok = morvik_rs.BPETokenizer.from_tiktoken(ranks)
    with tempfile.TemporaryDirectory() as d:
        big = Path(d) / "big.txt"
        chunk = src.read_bytes().replace(b"<|endoftext|>", b"")
        with open(big, "wb") as f:
            written = 0
            while written < args.gb * 1e9:
                f.write(chunk)
                written += len(chunk)
        base = rss_anon_kb()
        peak = [base]
        done = threading.Event()

        def sample():
            while not done.is_set():
                peak[0] = max(peak[0], rss_anon_kb())
                time.sleep(0.01)

        t = threading.Thread(target=sample)
        t.start()
        t0 = time.perf_counter()
        out = tok.encode_files(big)
        elapsed = time.perf_counter() - t0
        done.set()
        t.join()
        result_mb = len(out[0]) * 4 / 2**20
        extra = (peak[0] - base) / 1024
        print(f"encode_files on {written / 1e9:.2f} GB plain text, threads={os.environ.get('MORVIK_NUM_THREADS', 'all')}: "
              f"{written / elapsed / 1e6:.1f} MB/s; result {result_mb:.0f} MiB; peak anonymous memory growth "
              f"{extra:.0f} MiB; over the result {extra - result_mb:.0f} MiB (budget 256 MiB)")
    return 0


def main() -> int:
    ap = argparse.ArgumentParser()
    ap.add_argument("--mb", type=float, default=32.0)
    ap.add_argument("--threads", default="1,2")
    ap.add_argument("--tokenizer", default="r50k_base")
    ap.add_argument("--memory", action="store_true")
    ap.add_argument("--gb", type=float, default=1.0)
    ap.add_argument("--child", action="store_true")
    args = ap.parse_args()
    if args.memory:
        return memory(args)
    if args.child:
        return child(args)
    for t in args.threads.split(","):
        env = {**os.environ, "MORVIK_NUM_THREADS": t, "RAYON_NUM_THREADS": t}
        subprocess.run([sys.executable, __file__, "--child", "--mb", str(args.mb), "--tokenizer", args.tokenizer],
                       env=env, check=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
