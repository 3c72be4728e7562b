from os import PathLike
from typing import Iterable, Optional, Union

import pandas

def convert_many(
    paths: Iterable[Union[str, PathLike[str]]], out_dir: Union[str, PathLike[str]], to: str = ...,
    client: Optional[object] = ...
) -> pandas.DataFrame: ...
