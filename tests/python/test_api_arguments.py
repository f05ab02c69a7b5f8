"""Argument handling of the four functions (and of the package's private entries): positional and
keyword calls, the CPython-style TypeError texts, the order of the checks, conversion errors and
UnicodeEncodeError."""

import pathlib

import pytest

import mopsel._mopsel as mm
from mopsel_testlib import SMALL_MPS, snapshot


class Outer:
    class Inner:
        pass


# Function, positional args, keyword args, expected TypeError text. "M" stands for the
# model, "P" for a path, "A" for the matrix; the test fills them in.
ARGUMENT_CASES = [
    ("parse_file", (), {}, "parse_file() missing 1 required positional argument: 'path'"),
    ("parse_str", (), {}, "parse_str() missing 1 required positional argument: 'content'"),
    ("write_str", (), {}, "write_str() missing 1 required positional argument: 'model'"),
    ("write_file", (), {}, "write_file() missing 2 required positional arguments: 'model' and 'path'"),
    ("write_file", ("M",), {}, "write_file() missing 1 required positional argument: 'path'"),
    ("write_file", (), {"path": "P"}, "write_file() missing 1 required positional argument: 'model'"),
    ("parse_file", ("P", "P"), {}, "parse_file() takes 1 positional arguments but 2 were given"),
    ("write_file", ("M", "P", "P"), {}, "write_file() takes 2 positional arguments but 3 were given"),
    # Too many positionals is reported before any keyword problem.
    ("parse_str", ("x", "y"), {"text": 1}, "parse_str() takes 1 positional arguments but 2 were given"),
    ("parse_str", ("x",), {"content": "y"}, "parse_str() got multiple values for argument 'content'"),
    ("write_file", ("M", "P"), {"path": "P"}, "write_file() got multiple values for argument 'path'"),
    ("parse_file", (), {"file": "P"}, "parse_file() got an unexpected keyword argument 'file'"),
    # Keywords are taken one by one, in the order given.
    ("write_str", ("M",), {"b": 1, "a": 2}, "write_str() got an unexpected keyword argument 'b'"),
    ("write_file", ("M",), {"model": "M", "extra": 1}, "write_file() got multiple values for argument 'model'"),
    ("write_file", ("M",), {"extra": 1, "model": "M"}, "write_file() got an unexpected keyword argument 'extra'"),
    # An unknown keyword wins over a missing parameter; a missing one over conversion.
    ("write_file", (), {"modell": "M"}, "write_file() got an unexpected keyword argument 'modell'"),
    ("write_file", (None,), {}, "write_file() missing 1 required positional argument: 'path'"),
    # Conversion errors name the argument and the type (its qualified name).
    ("parse_file", (b"x.mps",), {}, "argument 'path': 'bytes' object cannot be converted to 'PyString'"),
    ("parse_file", (pathlib.Path("x"),), {}, "argument 'path': 'PosixPath' object cannot be converted to 'PyString'"),
    ("parse_file", (Outer.Inner(),), {}, "argument 'path': 'Outer.Inner' object cannot be converted to 'PyString'"),
    ("parse_str", (3,), {}, "argument 'content': 'int' object cannot be converted to 'PyString'"),
    ("write_str", (None,), {}, "argument 'model': 'NoneType' object cannot be converted to 'Model'"),
    ("write_str", ("A",), {}, "argument 'model': 'SparseMatrix' object cannot be converted to 'Model'"),
    # The model is converted first, so its problem is the one reported.
    ("write_file", ("x", 5), {}, "argument 'model': 'str' object cannot be converted to 'Model'"),
    ("write_file", ("M", 5), {}, "argument 'path': 'int' object cannot be converted to 'PyString'"),
    ("write_file", (), {"path": b"x", "model": "M"}, "argument 'path': 'bytes' object cannot be converted to 'PyString'"),
    # The package's private entries take their options by keyword only.
    ("_read", (b"x",), {}, "_read() takes 0 positional arguments but 1 was given"),
    ("_read", (), {"path": None, "text": b"", "name": None, "gzip": False, "format": 0},
     "_read() missing 4 required keyword-only arguments: 'strict', 'sets', 'repeated' and 'free_rows'"),
    ("_check", (), {"limit": 1}, "_check() missing 5 required keyword-only arguments: 'path', 'text', 'name', 'gzip' "
     "and 'format'"),
    ("_check", (), {"path": None, "text": None, "name": None, "gzip": False, "format": 0, "limit": 1},
     "_check() takes exactly one of path and text"),
    ("_read", (), {"path": None, "text": "ROWS", "name": None, "gzip": False, "format": 0, "strict": False,
                   "sets": "all", "repeated": "last", "free_rows": "drop"},
     "argument 'text': expected bytes"),
    ("_read", (), {"path": None, "text": b"", "name": b"x", "gzip": False, "format": 0, "strict": False,
                   "sets": "all", "repeated": "last", "free_rows": "drop"},
     "argument 'name': expected str or None"),
    ("_write_model", (), {}, "_write_model() missing 1 required positional argument: 'model'"),
    ("_write_model", ("M",), {"path": None},
     "_write_model() missing 3 required keyword-only arguments: 'digits', 'gzip' and 'format'"),
    ("_write_model", ("M", None, 13, False), {}, "_write_model() takes 1 positional arguments but 4 were given"),
    ("_model_from_arrays", ("n",), {}, "_model_from_arrays() takes 0 positional arguments but 1 was given"),
]


@pytest.mark.parametrize("fn, args, kwargs, message", ARGUMENT_CASES)
def test_argument_errors(fn, args, kwargs, message, small_model, tmp_path):
    path = str(tmp_path / "never.mps")
    fill = {"M": small_model, "P": path, "A": small_model.a_matrix}

    def one(v):
        return fill[v] if isinstance(v, str) and v in fill else v

    with pytest.raises(TypeError) as ei:
        getattr(mm, fn)(*map(one, args), **{k: one(v) for k, v in kwargs.items()})
    assert type(ei.value) is TypeError and ei.value.args == (message,)
    assert list(tmp_path.iterdir()) == []


class StrSub(str):
    pass


def test_keyword_calls_and_str_subclasses(small_model, tmp_path):
    src = tmp_path / "small.mps"
    src.write_text(SMALL_MPS)
    ref = snapshot(small_model)
    for model in (mm.parse_file(path=str(src)), mm.parse_str(content=SMALL_MPS),
                  mm.parse_str(StrSub(SMALL_MPS)), mm.parse_file(StrSub(str(src)))):
        assert snapshot(model) == ref
    text = mm.write_str(model=small_model)
    assert mm.write_str(small_model) == text
    calls = [lambda p: mm.write_file(model=small_model, path=p), lambda p: mm.write_file(path=p, model=small_model),
             lambda p: mm.write_file(small_model, path=p), lambda p: mm.write_file(small_model, StrSub(p))]
    for i, call in enumerate(calls):
        out = tmp_path / f"kw{i}.mps"
        assert call(str(out)) is None
        assert out.read_text() == text


@pytest.mark.parametrize("fn, make_args", [
    ("parse_str", lambda m, p: ("NAME \ud800\nROWS\nENDATA\n",)),
    ("parse_file", lambda m, p: (p + "\udcff.mps",)),
    ("write_file", lambda m, p: (m, p + "\ud800.mps")),
])
def test_lone_surrogate_raises_unicode_encode_error(fn, make_args, small_model, tmp_path):
    with pytest.raises(UnicodeEncodeError):
        getattr(mm, fn)(*make_args(small_model, str(tmp_path / "s")))
    assert list(tmp_path.iterdir()) == []
