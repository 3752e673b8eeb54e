"""Type stubs for the morvik_rs extension module."""
from __future__ import annotations

import os
from typing import Any, Iterator, Sequence, Union

import numpy as np
import numpy.typing as npt

_Document = Union[str, bytes, bytearray]
_TokenIds = Union[npt.NDArray[np.uint32], Sequence[int]]
_Path = Union[str, os.PathLike[str]]

__all__: list[str]

class FileSource:
    """Base class for file sources. Not directly constructible from Python —
    use `TextFileSource` or `JsonlFileSource`, which pin down the document
    format and its parameters. Compression (.gz/.zst) is always detected
    from the file extension, independent of the source type."""

class TextFileSource(FileSource):
    """Plain-text files. With `separator`, documents are the pieces between
    separator occurrences (the separator itself belongs to no document);
    without one, each file is a single document."""
    def __new__(cls, paths: Sequence[_Path], separator: bytes | bytearray | Sequence[int] | None = None) -> TextFileSource: ...

class JsonlFileSource(FileSource):
    """JSON Lines files: one document per line, text taken from `field`."""
    def __new__(cls, paths: Sequence[_Path], field: str = "text") -> JsonlFileSource: ...

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
    @staticmethod
    def from_hf(path: _Path) -> BPETokenizer: ...
    def encode_batch(self, inputs: Sequence[str] | Sequence[bytes | bytearray] | Any) -> Any:
        """Encode a batch of documents in parallel on the work-stealing thread pool, releasing the GIL.
        Returns an awkward.Array with one row of uint32 token ids per document."""
    def encode_files(self, source: FileSource | _Path | Sequence[_Path]) -> Any:
        """Encode all documents from files in parallel, releasing the GIL.
        Returns an awkward.Array with one row of token ids per document."""
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
def load_hf_json(data: str | bytes | bytearray) -> BPETokenizer:
    """Load a tokenizer from in-memory HuggingFace `tokenizer.json` contents
    (str or bytes). Returns a SentencePieceTokenizer when the model uses
    byte_fallback, a BPETokenizer otherwise — the same split as the two
    classes' from_hf constructors."""
