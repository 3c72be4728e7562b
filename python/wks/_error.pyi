from typing import Iterable, List

class Error(Exception):
    code: int
    message: str
    messages: List[str]
    def __init__(self, code: int, message: str, messages: Iterable[str] = ...) -> None: ...
