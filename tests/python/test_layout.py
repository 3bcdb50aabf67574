"""The core's folders include only downwards, and no family of methods includes another."""
import pathlib
import re

import pytest

SRC = pathlib.Path(__file__).parents[2] / "src"
# Each layer may include itself and the layers listed for it; every other folder is a family.
LAYERS = {
    "core": set(),
    "simd": {"core"},
    "linalg": {"core", "simd"},
    "catalogue": {"core"},
    "dispatch": {"core", "simd", "linalg", "catalogue", "families"},
    "simple": {"core", "catalogue", "dispatch"},
}
FAMILY_MAY_INCLUDE = {"core", "simd", "linalg"}


def folders():
    return sorted(path.name for path in SRC.iterdir() if path.is_dir())


def included_folders(folder):
    for path in (SRC / folder).rglob("*.[ch]pp"):
        for target in re.findall(r'^#include "([^"]+)"', path.read_text(encoding="utf-8"), re.M):
            if "/" in target:
                yield path.relative_to(SRC), target.split("/", 1)[0]


def test_every_layer_exists():
    assert set(LAYERS) <= set(folders())


@pytest.mark.parametrize("folder", folders())
def test_a_folder_includes_only_what_lies_below_it(folder):
    families = set(folders()) - set(LAYERS)
    allowed = LAYERS.get(folder, FAMILY_MAY_INCLUDE) | {folder}
    if "families" in allowed:
        allowed |= families
    wrong = [(str(path), target) for path, target in included_folders(folder) if target not in allowed]
    assert wrong == []
