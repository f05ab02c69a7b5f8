"""The module itself: its contents and their order, constants, the function and class
objects, the package that re-exports them (and its stub, its version and PanicException), the
installed files, and one-time initialisation."""

import ast
import importlib.metadata
import importlib.resources
import inspect
import os
import pickle
import re
import subprocess
import sys
import types
import zipfile
from pathlib import Path

import pytest

import mopsel
import mopsel._mopsel as mm

NAMES = ["CONTINUOUS", "INTEGER", "SEMI_CONTINUOUS", "SEMI_INTEGER", "Model", "SparseMatrix",
         "parse_file", "parse_str", "write_file", "write_str"]
PACKAGE_FUNCTIONS = ["from_arrays", "write", "to_scipy", "to_scipy_hessian", "to_milp", "to_scip", "to_highs",
                     "from_highs"]
READING = ["read", "check", "MpsError", "LpError", "MpsWarning", "Diagnostic"]
# Comparing, summarising, looking up, tables, solutions and corpora: functions, then result classes.
ANSWERS = ["diff", "equal", "DiffResult", "Difference", "stats", "Stats", "names", "ModelNames", "to_pandas",
           "to_polars", "Tables", "evaluate", "Evaluation", "Violation", "read_solution", "write_solution", "Solution",
           "stats_table"]
ANSWER_FUNCTIONS = [name for name in ANSWERS if name[0].islower()]
PACKAGE_NAMES = NAMES + PACKAGE_FUNCTIONS + ["PanicException"] + READING + ANSWERS + ["release_memory"]


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
    private = ("_model_from_arrays", "_write_model", "_panic_exception", "_read", "_check", "_name_index", "_read_lp",
               "_check_lp", "_write_lp", "_release_memory")
    assert all(isinstance(getattr(mm, name), types.BuiltinFunctionType) for name in private)
    with pytest.raises(TypeError, match="^No constructor defined for Model$"):
        mm.Model()


def test_the_package_functions_are_typed():
    # py.typed promises annotations: every parameter and result of the public functions has one.
    assert not (importlib.resources.files("mopsel") / "__init__.pyi").is_file()  # the .py files are read
    for name in PACKAGE_FUNCTIONS + ["read", "check", "release_memory"] + ANSWER_FUNCTIONS:
        signature = inspect.signature(getattr(mopsel, name))
        bare = [p for p in signature.parameters if signature.parameters[p].annotation is inspect.Parameter.empty]
        assert bare == [] and signature.return_annotation is not inspect.Signature.empty, name


def _stub_parameters(node: ast.FunctionDef) -> list:
    args = node.args
    return ([(a.arg, inspect.Parameter.POSITIONAL_OR_KEYWORD) for a in args.args]
            + [(a.arg, inspect.Parameter.KEYWORD_ONLY) for a in args.kwonlyargs])


def test_the_native_stub_declares_each_function_as_it_is():
    # The stub is what a type checker knows of the native module: each function in it (each
    # overload) takes the parameters, by position or keyword, that the function itself takes.
    tree = ast.parse((importlib.resources.files("mopsel") / "_mopsel.pyi").read_text())
    declared = [node for node in tree.body if isinstance(node, ast.FunctionDef)]
    native = sorted(name for name, value in vars(mm).items() if isinstance(value, types.BuiltinFunctionType)
                    and not name.startswith(("_fix", "_use")))  # the tests' own hooks are not declared
    assert sorted({node.name for node in declared}) == native
    for node in declared:
        parameters = inspect.signature(getattr(mm, node.name)).parameters.values()
        assert _stub_parameters(node) == [(p.name, p.kind) for p in parameters], node.name


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


def test_version_is_the_one_pyproject_declares():
    pyproject = (Path(__file__).parents[2] / "pyproject.toml").read_text()
    declared = re.search(r'^version = "([^"]+)"$', pyproject, re.MULTILINE).group(1)
    assert mopsel.__version__ == declared == importlib.metadata.version("mopsel")


def test_panic_exception_is_the_class_the_native_code_raises(writer_model):
    cls = mopsel.PanicException
    assert cls.__bases__ == (BaseException,) and (cls.__module__, cls.__qualname__) == ("mopsel", "PanicException")
    assert mm._panic_exception() is cls and not hasattr(mm, "PanicException")
    writer_model.a_matrix.index[0] = 9
    with pytest.raises(mopsel.PanicException) as caught:
        mm.write_str(writer_model)
    assert type(caught.value) is cls
    # Exceptions travel between processes (multiprocessing results) pickled by their class's name.
    copy = pickle.loads(pickle.dumps(caught.value))
    assert type(copy) is cls and copy.args == caught.value.args


def test_the_native_module_is_an_installed_build():
    # The suite tests what is installed; a stale in-place build in the source tree must not shadow it.
    source_tree = Path(__file__).resolve().parents[2] / "mopsel"
    assert Path(mm.__file__).resolve().parent != source_tree


@pytest.mark.skipif("MOPSEL_TEST_WHEEL" not in os.environ, reason="only when testing a wheel (tools/wheel_test.sh)")
def test_every_file_of_the_package_comes_from_the_wheel_under_test():
    site = Path(mopsel.__file__).resolve().parents[1]
    assert Path(mm.__file__).resolve().parent == site / "mopsel"
    assert site.is_relative_to(Path(sys.prefix).resolve())
    with zipfile.ZipFile(os.environ["MOPSEL_TEST_WHEEL"]) as wheel:
        files = [n for n in wheel.namelist() if n.startswith("mopsel") and ".dist-info/" not in n and n[-1] != "/"]
        assert "mopsel/" + Path(mm.__file__).name in files
        assert [n for n in files if (site / n).read_bytes() != wheel.read(n)] == []
