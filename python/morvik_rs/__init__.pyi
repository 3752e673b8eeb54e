"""Type stubs for the morvik_rs extension module."""
from __future__ import annotations

import os
from typing import Iterator, Sequence, Union

import numpy as np
import numpy.typing as npt

_Document = Union[str, bytes, bytearray]
_TokenIds = Union[npt.NDArray[np.uint32], Sequence[int]]
_Path = Union[str, os.PathLike[str]]

__all__: list[str]

class PretokenizerIter(Iterator[bytes]):
    def __iter__(self) -> PretokenizerIter: ...
    def __next__(self) -> bytes: ...

class BPETokenizer:
    def __new__(cls) -> BPETokenizer: ...
    @staticmethod
    def from_tiktoken(path: _Path) -> BPETokenizer: ...
    def encode(self, input: _Document) -> npt.NDArray[np.uint32]:
        """Encode a single document (str or bytes) with the main tokenizer,
        whose pretoken cache persists across calls."""
    def decode(self, tokens: _TokenIds) -> bytes: ...
    @property
    def vocab_size(self) -> int:
        """Size of the vocabulary: one greater than the largest token ID,
        including added tokens."""
    @property
    def vocab(self) -> dict[int, bytes]:
        """The vocabulary as a freshly built dict mapping token ID to token
        bytes, in ID order, including added tokens."""
    @property
    def merges(self) -> list[tuple[bytes, bytes]]:
        """The merge rules as a freshly built list of `(left, right)` byte
        pairs in merge-priority order."""

def pretokenizer(text: bytes) -> PretokenizerIter: ...
