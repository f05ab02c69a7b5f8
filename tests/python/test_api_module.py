"""The module itself: its contents and their order, constants, the function and class
objects, the package that re-exports them (and its stub), and one-time initialisation."""

import ast
import importlib.resources
import inspect
import subprocess
import sys
import types

import pytest

import mopsel
import mopsel._mopsel as mm

NAMES = ["CONTINUOUS", "INTEGER", "SEMI_CONTINUOUS", "SEMI_INTEGER", "Model", "SparseMatrix",
         "parse_file", "parse_str", "write_file", "write_str"]
PACKAGE_NAMES = NAMES + ["from_arrays", "write", "to_scipy", "to_milp", "to_highs", "from_highs"]


def test_module_contents_and_package():
    assert (mm.__name__, mm.__doc__) == ("mopsel._mopsel", "")
    assert type(mm.__all__) is list and mm.__all__ == NAMES
    assert [k for k in vars(mm) if not k.startswith("_")] == NAMES  # insertion order
    assert mm.__file__.endswith(".abi3.so")
    assert mopsel.__all__ == PACKAGE_NAMES
    assert all(getattr(mopsel, name) is getattr(mm, name) for name in NAMES)
    root = importlib.resources.files("mopsel")
    assert (root / "py.typed").is_file()
    stub = (root / "_mopsel.pyi").read_text()
    assert [name for name in NAMES if name not in stub] == []
    assert type(mm._ARRAY_BORROWS).__name__ == "PyCapsule"
    # The package's own entry points are private: not in __all__, not public names.
    assert all(isinstance(getattr(mm, name), types.BuiltinFunctionType) for name in ("_model_from_arrays", "_write_model"))
    with pytest.raises(TypeError, match="^No constructor defined for Model$"):
        mm.Model()


def test_package_stub_declares_every_public_name():
    tree = ast.parse((importlib.resources.files("mopsel") / "__init__.pyi").read_text())
    functions = {node.name: node.args for node in tree.body if isinstance(node, ast.FunctionDef)}
    assert [ast.literal_eval(node.value) for node in tree.body if isinstance(node, ast.Assign)] == [PACKAGE_NAMES]
    for name in PACKAGE_NAMES[len(NAMES):]:  # each function with the parameters it has
        parameters = [a.arg for a in functions[name].args + functions[name].kwonlyargs]
        assert parameters == list(inspect.signature(getattr(mopsel, name)).parameters), name


@pytest.mark.parametrize("name, value", [("CONTINUOUS", 0), ("INTEGER", 1), ("SEMI_CONTINUOUS", 2),
                                         ("SEMI_INTEGER", 3)])
def test_integrality_constants(name, value):
    assert type(getattr(mm, name)) is int and getattr(mm, name) == value


@pytest.mark.parametrize("name, text_sig", [("parse_file", "(path)"), ("parse_str", "(content)"),
                                            ("write_file", "(model, path)"), ("write_str", "(model)")])
def test_function_objects(name, text_sig):
    fn = getattr(mm, name)
    assert isinstance(fn, types.BuiltinFunctionType)
    assert (fn.__name__, fn.__self__, fn.__module__, fn.__doc__) == (name, mm, "mopsel._mopsel", None)
    assert fn.__text_signature__ == text_sig
    sig = inspect.signature(fn)
    assert str(sig) == text_sig
    for p in sig.parameters.values():
        assert p.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD
        assert p.default is inspect.Parameter.empty


@pytest.mark.parametrize("name", ["Model", "SparseMatrix"])
def test_class_objects(name):
    cls = getattr(mm, name)
    assert isinstance(cls, type) and cls.__bases__ == (object,)
    assert (cls.__name__, cls.__qualname__, cls.__module__, cls.__doc__) == (name, name, "mopsel._mopsel", None)


def test_second_initialisation_in_one_process_is_refused(tmp_path):
    # A sub-interpreter runs the single-phase init function once more.
    pytest.importorskip("_xxsubinterpreters")
    code = (
        "import _xxsubinterpreters as si\nimport mopsel._mopsel\ninterp = si.create()\n"
        "try:\n    si.run_string(interp, 'import mopsel._mopsel')\n"
        "except si.RunFailedError as e:\n    print('refused:', e)\nelse:\n    print('accepted')\n"
        "si.destroy(interp)\n"
    )
    # Run outside the source tree so that the installed package is the one imported.
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120,
                         cwd=tmp_path)
    assert out.returncode == 0, out.stderr
    assert out.stdout.startswith("refused:") and "ImportError" in out.stdout, out.stdout
