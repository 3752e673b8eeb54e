"""Load time of tokenizer.json files: ours (bench_hf_load) against tokenizers.

    python bench/hf_load.py [--runs N] [names...]

Checks that both sides see the same id range before timing, then prints
best-of-N milliseconds and the ratio ours / tokenizers, one thread each.
"""
from __future__ import annotations

import argparse
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests"))
from _paths import REPO, tokenizer_file  # noqa: E402


def main() -> int:
    ap = argparse.ArgumentParser()
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("names", nargs="*", default=["llama3.json", "gpt35turbo.json", "qwen3.json", "deepseek_v3.json"])
    args = ap.parse_args()
    tool = REPO / "build" / "bench_hf_load"
    if not tool.is_file():
        print("build bench_hf_load first (ninja -C build bench_hf_load)")
        return 1
    import tokenizers

    for name in args.names:
        path = tokenizer_file(name)
        if path is None:
            print(f"{name}: not found, skipped")
            continue
        out = subprocess.run([str(tool), "--runs", str(args.runs), str(path)], capture_output=True, text=True).stdout
        fields = dict(kv.split("=", 1) for kv in out.split()[1:] if "=" in kv)
        if "load_ms" not in fields:
            print(f"{name}: {out.strip()}")
            continue
        ref = tokenizers.Tokenizer.from_file(str(path))
        ours_size, ref_size = int(fields["vocab_size"]), max(ref.get_vocab(with_added_tokens=True).values()) + 1  # ids, holes included
        if ours_size != ref_size:
            print(f"{name}: vocabulary sizes differ (ours {ours_size}, tokenizers {ref_size}); not timed")
            continue
        best = float("inf")
        for _ in range(args.runs):
            t0 = time.perf_counter()
            tokenizers.Tokenizer.from_file(str(path))
            best = min(best, (time.perf_counter() - t0) * 1e3)
        ours = float(fields["load_ms"])
        print(f"{name}: threads=1 ours={ours:.1f} ms (read {fields['read_ms']}, build {fields['build_ms']}) "
              f"tokenizers={best:.1f} ms ratio={ours / best:.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
