"""The README's tables of methods and parameters say what the catalogue says."""
import pathlib
import re

import pytest

from quorvel import parameters

README = (pathlib.Path(__file__).parents[2] / "README.md").read_text(encoding="utf-8")
SECTIONS = {1: ("## Methods, parameters and defaults", "### Grid methods"), 2: ("### Grid methods", "\n## ")}


def table_rows(ndim):
    start, end = SECTIONS[ndim]
    section = README.split(start, 1)[1].split(end, 1)[0]
    return {match[1]: match[2] for match in re.finditer(r"^\| `(\w+)` \|[^|]*\| (.*) \|$", section, re.M)}


def default_of(text):
    token = text.strip().strip('"')
    if token == "None":
        return None
    if token in ("False", "True"):
        return float(token == "True")
    try:
        return float(token)
    except ValueError:
        return token


@pytest.mark.parametrize("ndim", [1, 2])
def test_the_method_tables_list_every_parameter_with_its_default(ndim):
    rows = table_rows(ndim)
    assert list(rows) == parameters.method_names(ndim)
    for method, cell in rows.items():
        documented = {name: default_of(value) for name, value in re.findall(r"`(\w+)` \(([^,:)]+)", cell)}
        expected = {p.name: p.default if p.default is None or isinstance(p.default, str) else float(p.default)
                    for p in parameters.methods_taking(ndim)[method]}
        assert documented == expected, method
