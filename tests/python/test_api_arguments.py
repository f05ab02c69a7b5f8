"""Argument handling of the four functions: positional and keyword calls, the CPython-style
TypeError texts, the order of the checks, conversion errors and UnicodeEncodeError."""

import pathlib

import pytest

import mopsel._mopsel as mm
from mopsel_testlib import SMALL_MPS, snapshot


class Outer:
    class Inner:
        pass


class StrSub(str):
    pass


@pytest.fixture(scope="module")
def model():
    return mm.parse_str(SMALL_MPS)


# Each case: function name, positional args, keyword args, expected TypeError text.
# "M" stands for the model, "P" for a valid path; both are filled in by the test.
ARITY_CASES = [
    ("parse_file", (), {}, "parse_file() missing 1 required positional argument: 'path'"),
    ("parse_str", (), {}, "parse_str() missing 1 required positional argument: 'content'"),
    ("write_str", (), {}, "write_str() missing 1 required positional argument: 'model'"),
    (
        "write_file",
        (),
        {},
        "write_file() missing 2 required positional arguments: 'model' and 'path'",
    ),
    ("write_file", ("M",), {}, "write_file() missing 1 required positional argument: 'path'"),
    (
        "write_file",
        (),
        {"path": "P"},
        "write_file() missing 1 required positional argument: 'model'",
    ),
    ("parse_file", ("P", "P"), {}, "parse_file() takes 1 positional arguments but 2 were given"),
    ("parse_str", ("x", "y"), {}, "parse_str() takes 1 positional arguments but 2 were given"),
    ("write_str", ("M", "M", "M"), {}, "write_str() takes 1 positional arguments but 3 were given"),
    (
        "write_file",
        ("M", "P", "P"),
        {},
        "write_file() takes 2 positional arguments but 3 were given",
    ),
    # Too many positionals is reported before any keyword problem.
    (
        "parse_str",
        ("x", "y"),
        {"text": 1},
        "parse_str() takes 1 positional arguments but 2 were given",
    ),
    ("parse_str", ("x",), {"content": "y"}, "parse_str() got multiple values for argument 'content'"),
    ("parse_file", ("P",), {"path": "P"}, "parse_file() got multiple values for argument 'path'"),
    ("write_file", ("M",), {"model": "M"}, "write_file() got multiple values for argument 'model'"),
    (
        "write_file",
        ("M", "P"),
        {"path": "P"},
        "write_file() got multiple values for argument 'path'",
    ),
    ("parse_str", (), {"text": "x"}, "parse_str() got an unexpected keyword argument 'text'"),
    ("parse_file", (), {"file": "P"}, "parse_file() got an unexpected keyword argument 'file'"),
    # Keywords are taken one by one, in the order given.
    ("write_str", ("M",), {"b": 1, "a": 2}, "write_str() got an unexpected keyword argument 'b'"),
    (
        "write_file",
        ("M",),
        {"model": "M", "extra": 1},
        "write_file() got multiple values for argument 'model'",
    ),
    (
        "write_file",
        ("M",),
        {"extra": 1, "model": "M"},
        "write_file() got an unexpected keyword argument 'extra'",
    ),
    # An unknown keyword wins over a missing parameter; a missing one over conversion.
    ("write_file", (), {"modell": "M"}, "write_file() got an unexpected keyword argument 'modell'"),
    ("write_file", (None,), {}, "write_file() missing 1 required positional argument: 'path'"),
]


def _fill(values, model, path):
    def one(v):
        return model if v == "M" else path if v == "P" else v

    if isinstance(values, dict):
        return {k: one(v) for k, v in values.items()}
    return tuple(one(v) for v in values)


@pytest.mark.parametrize("fn, args, kwargs, message", ARITY_CASES)
def test_arity_errors(fn, args, kwargs, message, model, tmp_path):
    path = str(tmp_path / "never.mps")
    with pytest.raises(TypeError) as ei:
        getattr(mm, fn)(*_fill(args, model, path), **_fill(kwargs, model, path))
    assert type(ei.value) is TypeError
    assert ei.value.args == (message,)
    assert not (tmp_path / "never.mps").exists()


CONVERSION_CASES = [
    ("parse_file", (b"x.mps",), "argument 'path': 'bytes' object cannot be converted to 'PyString'"),
    (
        "parse_file",
        (pathlib.Path("x.mps"),),
        "argument 'path': 'PosixPath' object cannot be converted to 'PyString'",
    ),
    ("parse_file", (None,), "argument 'path': 'NoneType' object cannot be converted to 'PyString'"),
    (
        "parse_file",
        (bytearray(b"x"),),
        "argument 'path': 'bytearray' object cannot be converted to 'PyString'",
    ),
    (
        "parse_file",
        (Outer.Inner(),),
        "argument 'path': 'Outer.Inner' object cannot be converted to 'PyString'",
    ),
    ("parse_str", (3,), "argument 'content': 'int' object cannot be converted to 'PyString'"),
    (
        "parse_str",
        (SMALL_MPS.encode(),),
        "argument 'content': 'bytes' object cannot be converted to 'PyString'",
    ),
    ("parse_str", ([],), "argument 'content': 'list' object cannot be converted to 'PyString'"),
    ("write_str", (None,), "argument 'model': 'NoneType' object cannot be converted to 'Model'"),
    ("write_str", ("text",), "argument 'model': 'str' object cannot be converted to 'Model'"),
    (
        "write_str",
        ("MATRIX",),
        "argument 'model': 'SparseMatrix' object cannot be converted to 'Model'",
    ),
    # The model is converted first, so its problem is the one reported.
    ("write_file", (None, 5), "argument 'model': 'NoneType' object cannot be converted to 'Model'"),
    ("write_file", ("M", 5), "argument 'path': 'int' object cannot be converted to 'PyString'"),
    (
        "write_file",
        ("M", pathlib.Path("x.mps")),
        "argument 'path': 'PosixPath' object cannot be converted to 'PyString'",
    ),
    (
        "write_file",
        ("M", b"x.mps"),
        "argument 'path': 'bytes' object cannot be converted to 'PyString'",
    ),
]


@pytest.mark.parametrize("fn, args, message", CONVERSION_CASES)
def test_conversion_errors(fn, args, message, model):
    args = tuple(model.a_matrix if a == "MATRIX" else a for a in _fill(args, model, None))
    with pytest.raises(TypeError) as ei:
        getattr(mm, fn)(*args)
    assert type(ei.value) is TypeError
    assert ei.value.args == (message,)


def test_conversion_error_through_keyword(model):
    with pytest.raises(TypeError) as ei:
        mm.write_file(path=b"x", model=model)
    assert ei.value.args == ("argument 'path': 'bytes' object cannot be converted to 'PyString'",)


def test_keyword_calls(model, small_file, tmp_path):
    ref = snapshot(mm.parse_str(SMALL_MPS))
    assert snapshot(mm.parse_file(path=str(small_file))) == ref
    assert snapshot(mm.parse_str(content=SMALL_MPS)) == ref
    text = mm.write_str(model=model)
    assert mm.write_str(model) == text
    for i, call in enumerate(
        [
            lambda p: mm.write_file(model=model, path=p),
            lambda p: mm.write_file(path=p, model=model),
            lambda p: mm.write_file(model, path=p),
            lambda p: mm.write_file(model, p),
        ]
    ):
        out = tmp_path / f"kw{i}.mps"
        assert call(str(out)) is None
        assert out.read_text() == text


def test_str_subclasses_are_accepted(small_file):
    ref = snapshot(mm.parse_str(SMALL_MPS))
    assert snapshot(mm.parse_str(StrSub(SMALL_MPS))) == ref
    assert snapshot(mm.parse_file(StrSub(str(small_file)))) == ref


@pytest.mark.parametrize(
    "fn, make_args",
    [
        ("parse_str", lambda m, p: ("NAME \ud800\nROWS\nENDATA\n",)),
        ("parse_file", lambda m, p: (p + "\udcff.mps",)),
        ("write_file", lambda m, p: (m, p + "\ud800.mps")),
    ],
)
def test_lone_surrogate_raises_unicode_encode_error(fn, make_args, model, tmp_path):
    with pytest.raises(UnicodeEncodeError):
        getattr(mm, fn)(*make_args(model, str(tmp_path / "s")))
    assert list(tmp_path.iterdir()) == []
