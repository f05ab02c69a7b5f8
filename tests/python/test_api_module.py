"""The module itself: its contents and their order, constants, the function objects with
their text signatures, the package that re-exports them, and one-time initialisation."""

import importlib.resources
import inspect
import subprocess
import sys
import types

import pytest

import mopsel
import mopsel._mopsel as mm

NAMES = [
    "CONTINUOUS",
    "INTEGER",
    "SEMI_CONTINUOUS",
    "SEMI_INTEGER",
    "Model",
    "SparseMatrix",
    "parse_file",
    "parse_str",
    "write_file",
    "write_str",
]

FUNCTIONS = {
    "parse_file": ("(path)", ["path"]),
    "parse_str": ("(content)", ["content"]),
    "write_file": ("(model, path)", ["model", "path"]),
    "write_str": ("(model)", ["model"]),
}


def test_identity_and_all():
    assert mm.__name__ == "mopsel._mopsel"
    assert mm.__doc__ == ""
    assert type(mm.__all__) is list
    assert mm.__all__ == NAMES


def test_public_names_are_exactly_all_in_insertion_order():
    public = [k for k in vars(mm) if not k.startswith("_")]
    assert public == NAMES


def test_extension_is_stable_abi():
    assert mm.__file__.endswith(".abi3.so")


@pytest.mark.parametrize(
    "name, value",
    [("CONTINUOUS", 0), ("INTEGER", 1), ("SEMI_CONTINUOUS", 2), ("SEMI_INTEGER", 3)],
)
def test_integrality_constants(name, value):
    const = getattr(mm, name)
    assert type(const) is int
    assert const == value


@pytest.mark.parametrize("name", sorted(FUNCTIONS))
def test_function_objects(name):
    fn = getattr(mm, name)
    text_sig, params = FUNCTIONS[name]
    assert isinstance(fn, types.BuiltinFunctionType)
    assert fn.__name__ == name
    assert fn.__self__ is mm
    assert fn.__module__ == "mopsel._mopsel"
    assert fn.__doc__ is None
    assert fn.__text_signature__ == text_sig
    sig = inspect.signature(fn)
    assert str(sig) == text_sig
    assert [p.name for p in sig.parameters.values()] == params
    for p in sig.parameters.values():
        assert p.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD
        assert p.default is inspect.Parameter.empty


@pytest.mark.parametrize("name", ["Model", "SparseMatrix"])
def test_class_objects(name):
    cls = getattr(mm, name)
    assert isinstance(cls, type)
    assert cls.__name__ == name
    assert cls.__qualname__ == name
    assert cls.__module__ == "mopsel._mopsel"
    assert cls.__bases__ == (object,)
    assert cls.__doc__ is None


def test_package_reexports_the_module():
    assert mopsel.__all__ == NAMES
    for name in NAMES:
        assert getattr(mopsel, name) is getattr(mm, name), name


def test_package_ships_typing_files():
    root = importlib.resources.files("mopsel")
    assert (root / "py.typed").is_file()
    stub = (root / "_mopsel.pyi").read_text()
    for name in NAMES:
        assert name in stub, name


def test_borrow_registry_is_published_as_capsule():
    cap = mm._ARRAY_BORROWS
    assert type(cap).__name__ == "PyCapsule"
    assert "_ARRAY_BORROWS" not in mm.__all__


def test_second_initialisation_in_one_process_is_refused(tmp_path):
    # A sub-interpreter runs the single-phase init function once more.
    si = pytest.importorskip("_xxsubinterpreters")
    del si
    code = (
        "import _xxsubinterpreters as si\n"
        "import mopsel._mopsel\n"
        "interp = si.create()\n"
        "try:\n"
        "    si.run_string(interp, 'import mopsel._mopsel')\n"
        "except si.RunFailedError as e:\n"
        "    print('refused:', e)\n"
        "else:\n"
        "    print('accepted')\n"
        "si.destroy(interp)\n"
    )
    # Run outside the source tree so that the installed package is the one imported.
    out = subprocess.run(
        [sys.executable, "-c", code], capture_output=True, text=True, timeout=120, cwd=tmp_path
    )
    assert out.returncode == 0, out.stderr
    assert out.stdout.startswith("refused:"), out.stdout
    assert "ImportError" in out.stdout
