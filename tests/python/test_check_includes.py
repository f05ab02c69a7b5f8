"""tools/check_includes.py: the include lines of the C++ core have no cycle and name
files that exist (the build itself refuses includes against the layer order)."""

import importlib.util
import pathlib

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
spec = importlib.util.spec_from_file_location("check_includes", ROOT / "tools" / "check_includes.py")
check_includes = importlib.util.module_from_spec(spec)
spec.loader.exec_module(check_includes)


def tree(tmp_path, files):
    for name, includes in files.items():
        path = tmp_path / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text("#pragma once\n" + "".join(f'#include "{i}"\n' for i in includes) + "#include <vector>\n")
    return tmp_path


@pytest.mark.parametrize(
    "files, expected",
    [
        ({"a/x.hpp": [], "a/y.hpp": ["a/x.hpp"], "b/z.cpp": ["a/y.hpp", "a/x.hpp"]}, []),
        (
            {"a/x.hpp": ["a/y.hpp"], "a/y.hpp": ["a/x.hpp"]},
            ["include cycle: a/x.hpp -> a/y.hpp -> a/x.hpp"],
        ),
        (
            {"a/x.hpp": ["b/y.hpp"], "b/y.hpp": ["b/z.hpp"], "b/z.hpp": ["a/x.hpp"], "b/w.cpp": ["b/y.hpp"]},
            ["include cycle: a/x.hpp -> b/y.hpp -> b/z.hpp -> a/x.hpp"],
        ),
        ({"a/x.cpp": ["a/gone.hpp", "zlib.h"]}, ["a/x.cpp: includes a/gone.hpp, which does not exist"]),
    ],
    ids=["clean", "two-header-cycle", "cycle-across-folders", "missing-header"],
)
def test_problems_of_a_tree(tmp_path, files, expected):
    assert check_includes.problems(tree(tmp_path, files)) == expected


def test_the_project_sources_are_clean():
    assert check_includes.problems(ROOT / "src") == []
