"""Checking a solution against a model: mopsel.evaluate, and the solution files of HiGHS, SCIP,
Gurobi and the MIPLIB solution checker (mopsel.read_solution, mopsel.write_solution).

evaluate computes, with NumPy over the model's arrays, the objective value (constant and
Hessian included) and the worst violation of the column bounds, the rows and integrality, each
with the name of the row or column where it occurs.
"""

from __future__ import annotations

import math
import os
import re
from dataclasses import dataclass
from typing import Any, Dict, List, Mapping, Optional, Sequence, Tuple, Union

import numpy as np

from mopsel._diff import entries_per_column
from mopsel._mopsel import INTEGER, SEMI_CONTINUOUS, SEMI_INTEGER, Model

FORMATS = ("miplib", "scip", "gurobi", "highs")
# What read_solution recognises besides those it writes: HiGHS's pretty style (whose values
# carry about six significant digits) and its sparse raw style.
READ_FORMATS = FORMATS + ("highs-pretty",)

Path = Union[str, "os.PathLike[str]"]


@dataclass(frozen=True)
class Solution:
    """Values of columns by name, as a solution file gives them.

    Attributes:
        names, values: the columns the file lists and their values (float64), in file order.
            Files often list only the nonzero values; columns they leave out are 0.
        objective: the objective value the file states, or None.
        status: the file's word on the solution ("Optimal", "optimal solution found",
            "infeasible", ...), or None.
        format: which writer's layout the file has: "miplib", "scip", "gurobi", "highs" or
            "highs-pretty".
    """

    names: List[str]
    values: np.ndarray
    objective: Optional[float] = None
    status: Optional[str] = None
    format: str = "miplib"

    @property
    def feasible(self) -> bool:
        """False when the file says that it holds no feasible solution."""
        return self.status is None or not re.search(r"infeas|no solution|^none$", self.status, re.I)

    def to_dict(self) -> Dict[str, float]:
        """The values by name (a name listed twice: its last value)."""
        return dict(zip(self.names, self.values.tolist()))


@dataclass(frozen=True)
class Violation:
    """The worst violation of one kind: its amount (0.0 when there is none), where (the name and
    position of the row or column; None and -1 when there is none) and the sum over all rows or
    columns."""

    value: float
    name: Optional[str]
    index: int
    total: float


@dataclass(frozen=True)
class Evaluation:
    """What `evaluate` finds.

    Attributes:
        objective: c'x + 0.5 x'Hx + constant (the value, whichever the sense).
        minimize: the model's sense.
        bound, row, integrality: the worst violation of the column bounds (a semi-continuous
            column may also be 0), of the row bounds, and of integrality (integer and
            semi-integer columns), as `Violation`s.
        row_activity: each row's activity a'x (+ 0.5 x'H x for a row with a Hessian).
    """

    objective: float
    minimize: bool
    bound: Violation
    row: Violation
    integrality: Violation
    row_activity: np.ndarray

    @property
    def max_violation(self) -> float:
        """The largest of the three worst violations."""
        return max(self.bound.value, self.row.value, self.integrality.value)

    def feasible(self, tol: float = 1e-6) -> bool:
        """True when no bound, row or integrality is violated by more than `tol`."""
        return self.max_violation <= tol


# Evaluating ----------------------------------------------------------------------------------


def column_values(model: Model, x: Any, *, argument: str = "x") -> np.ndarray:
    """x as a float64 array over the model's columns: given as such an array (or sequence),
    or by name as a Solution or a mapping of names to values (columns left out are 0). A name
    the model lacks, a wrong length or a value that is not finite raise ValueError naming
    `argument`."""
    if isinstance(x, Solution):
        x = x.to_dict()
    if isinstance(x, Mapping):
        from mopsel._names import names

        keys = list(x)
        if not all(isinstance(k, str) for k in keys):
            raise TypeError(f"argument '{argument}': a mapping of column names (str) to values")
        at = names(model).col(keys, missing=-1)
        unknown = np.flatnonzero(at < 0)
        if unknown.size:
            raise ValueError(
                f"argument '{argument}': {unknown.size} name(s) are no column of the model, "
                f"the first {keys[unknown[0]]!r}"
            )
        values = np.zeros(model.num_col)
        values[at] = np.asarray([x[k] for k in keys], dtype=np.float64)
    else:
        try:
            values = np.asarray(x, dtype=np.float64)
        except (TypeError, ValueError) as exc:
            message = f"argument '{argument}': expected numbers, a Solution or a mapping of names: {exc}"
            raise TypeError(message) from None
        if values.shape != (model.num_col,):
            raise ValueError(
                f"argument '{argument}': expected {model.num_col} values (one per column), got shape {values.shape}"
            )
    bad = np.flatnonzero(~np.isfinite(values))
    if bad.size:
        raise ValueError(f"argument '{argument}': the value of column {model.col_names[bad[0]]!r} is {values[bad[0]]}")
    return values


def quadratic_form(matrix: Any, x: np.ndarray) -> float:
    """x'Hx for H held as its lower triangle, column-wise (start, index, value): each entry off
    the diagonal stands for itself and its mirror image."""
    start = np.asarray(matrix.start, dtype=np.int64)
    rows = np.asarray(matrix.index, dtype=np.int64)
    cols = np.repeat(np.arange(start.size - 1), entries_per_column(start))
    terms = np.asarray(matrix.value, dtype=np.float64) * x[rows] * x[cols]
    return float(terms.sum() + terms[rows != cols].sum())


def _worst(amounts: np.ndarray, names: Sequence[str]) -> Violation:
    if amounts.size == 0:
        return Violation(0.0, None, -1, 0.0)
    i = int(np.argmax(amounts))
    value = float(amounts[i])
    if value <= 0:
        return Violation(0.0, None, -1, 0.0)
    return Violation(value, names[i], i, float(amounts.sum()))


def _outside(values: np.ndarray, lower: np.ndarray, upper: np.ndarray) -> np.ndarray:
    """How far each value lies outside [lower, upper] (a NaN bound is no bound)."""
    with np.errstate(invalid="ignore"):
        below = np.where(np.isnan(lower), 0.0, lower - values)
        above = np.where(np.isnan(upper), 0.0, values - upper)
    return np.maximum(np.maximum(below, above), 0.0)


def evaluate(model: Model, x: Any) -> Evaluation:
    """The objective value of `x` and its worst violations of the model's bounds, rows and
    integrality.

    `x` is an array of one value per column, a `Solution` (from read_solution) or a mapping of
    column names to values (columns left out are 0). The objective is c'x + 0.5 x'Hx plus the
    constant, with the model's Hessian when it has one; a row with a Hessian of its own has the
    activity a'x + 0.5 x'H x. A semi-continuous or semi-integer column may be 0 or within its
    bounds.

    >>> import mopsel
    >>> m = mopsel.from_arrays(col_cost=[1.0, 2.0], a_matrix=[[1.0, 1.0]], row_lower=[2.0],
    ...                        row_upper=[3.0], col_integrality=[1, 0], col_names=["x", "y"],
    ...                        row_names=["c1"], obj_offset=0.5)
    >>> e = mopsel.evaluate(m, [1.5, 0.0])
    >>> e.objective
    2.0
    >>> e.row, e.integrality.name, e.integrality.value
    (Violation(value=0.5, name='c1', index=0, total=0.5), 'x', 0.5)
    >>> e.feasible(), mopsel.evaluate(m, {"x": 2.0}).feasible()
    (False, True)
    """
    if not hasattr(model, "a_matrix"):
        raise TypeError(f"argument 'model': expected a Model, got {type(model).__name__}")
    values = column_values(model, x)
    col_names = model.col_names
    objective = float(model.col_cost @ values) + float(model.obj_offset)
    hessian = getattr(model, "hessian", None)
    if hessian is not None:
        objective += 0.5 * quadratic_form(hessian, values)

    matrix = model.a_matrix
    weights = matrix.value * np.repeat(values, entries_per_column(matrix.start))
    activity = np.bincount(matrix.index, weights=weights, minlength=model.num_row)[: model.num_row]
    for row, h in (getattr(model, "row_hessians", None) or {}).items():
        activity[row] += 0.5 * quadratic_form(h, values)

    kind = model.col_integrality
    bound = _outside(values, model.col_lower, model.col_upper)
    semi = (kind == SEMI_CONTINUOUS) | (kind == SEMI_INTEGER)
    bound[semi] = np.minimum(bound[semi], np.abs(values[semi]))
    integer = (kind == INTEGER) | (kind == SEMI_INTEGER)
    fraction = np.zeros(model.num_col)
    fraction[integer] = np.abs(values[integer] - np.round(values[integer]))
    return Evaluation(
        objective=objective,
        minimize=bool(model.obj_sense_minimize),
        bound=_worst(bound, col_names),
        row=_worst(_outside(activity, model.row_lower, model.row_upper), model.row_names),
        integrality=_worst(fraction, col_names),
        row_activity=activity,
    )


# Reading solution files -----------------------------------------------------------------------


def _number(text: str, where: str) -> float:
    try:
        return float(text)
    except ValueError:
        raise ValueError(f"{where}: {text!r} is not a number") from None


def _pairs(lines: Sequence[Tuple[int, str]], path: str, fields: int = 2) -> Tuple[List[str], List[float]]:
    """`name value [more]` lines; a name may hold blanks (the value is the field after it)."""
    names, values = [], []
    for lineno, line in lines:
        parts = line.rsplit(None, fields - 1)
        if len(parts) < fields:
            raise ValueError(f"{path}:{lineno}: expected a name and a value, got {line.strip()!r}")
        names.append(parts[0])
        values.append(_number(parts[1], f"{path}:{lineno}"))
    return names, values


def _read_highs(lines: List[Tuple[int, str]], path: str) -> Solution:
    """HiGHS's raw style (also its sparse form): the primal values up to "# Dual"."""
    status = lines[1][1].strip() if len(lines) > 1 else None
    objective = None
    names: List[str] = []
    values: List[float] = []
    it = iter(lines)
    for lineno, line in it:
        if line.startswith("# Dual") or line.startswith("# Basis"):
            break
        if line.startswith("Objective "):
            objective = _number(line.split()[1], f"{path}:{lineno}")
        elif line.startswith("# Columns"):
            words = line.split()
            count = abs(int(words[2]))
            sparse = words[-1] == "sparse"
            block = [next(it) for _ in range(count)]
            # Sparse: "name value index".
            names, values = _pairs(block, path, 3 if sparse else 2)
    return Solution(names, np.asarray(values, dtype=np.float64), objective, status, "highs")


def _read_highs_pretty(lines: List[Tuple[int, str]], path: str) -> Solution:
    """HiGHS's pretty style: the Columns table, values taken below the "Primal" heading."""
    heading = lines[1][1]
    primal_end = heading.index("Primal") + len("Primal")
    name_start = heading.index("Name")
    names, values = [], []
    objective = status = None
    for lineno, line in lines[2:]:
        if not line[:1].isspace():
            if line.startswith("Rows"):
                break
            continue
        names.append(line[name_start:].strip())
        values.append(_number(line[:primal_end].split()[-1], f"{path}:{lineno}"))
    for lineno, line in lines:
        if line.startswith("Objective value:"):
            objective = _number(line.split(":", 1)[1].strip(), f"{path}:{lineno}")
        elif line.startswith("Model status:"):
            status = line.split(":", 1)[1].strip()
    return Solution(names, np.asarray(values, dtype=np.float64), objective, status, "highs-pretty")


_SCIP_OBJ = re.compile(r"\s*\(obj:[^)]*\)\s*$")


def _read_text(text: str, path: str) -> Solution:
    lines = [(i + 1, line.rstrip("\r\n")) for i, line in enumerate(text.splitlines())]
    lines_nonblank = [(n, line) for n, line in lines if line.strip()]
    if not lines_nonblank:
        raise ValueError(f"{path}: the file is empty")
    first = lines_nonblank[0][1]
    if first.startswith("Model status"):
        return _read_highs(lines_nonblank, path)
    if first.startswith("Columns") and len(lines_nonblank) > 1 and "Primal" in lines_nonblank[1][1]:
        return _read_highs_pretty(lines_nonblank, path)
    objective: Optional[float] = None
    status: Optional[str] = None
    fmt = "gurobi"
    body = []
    for lineno, line in lines_nonblank:
        stripped = line.strip()
        lowered = stripped.lower()
        if stripped.startswith("=obj="):
            fmt, objective = "miplib", _number(stripped[5:].strip(), f"{path}:{lineno}")
        elif stripped.startswith("=infeas="):
            fmt, status = "miplib", "infeasible"
        elif lowered.startswith("solution status:"):
            fmt, status = "scip", stripped.split(":", 1)[1].strip()
        elif lowered.startswith("objective value:"):
            fmt = "scip"
            word = stripped.split(":", 1)[1].strip()
            objective = None if word.lower() in ("", "infinity", "-infinity") else _number(word, f"{path}:{lineno}")
        elif lowered.startswith("no solution"):
            fmt, status = "scip", status or stripped
        elif stripped.startswith("#"):
            m = re.match(r"#\s*objective value\s*=\s*(\S+)", stripped, re.I)
            if m:
                objective = _number(m.group(1), f"{path}:{lineno}")
        else:
            body.append((lineno, _SCIP_OBJ.sub("", line)))
    names, values = _pairs(body, path)
    return Solution(names, np.asarray(values, dtype=np.float64), objective, status, fmt)


def read_solution(path: Path) -> Solution:
    """The solution in the file `path`, in the layout of any of these writers (told by its
    content): the MIPLIB solution checker (`=obj= value`, then `name value` lines), SCIP
    (`objective value: ...`, then `name value (obj:c)`), Gurobi (`# Objective value = ...`,
    then `name value`), HiGHS's `writeSolution` in its raw style (also sparse) or its pretty
    style (whose values carry about six digits). Plain `name value` lines read too.

    >>> import pathlib, tempfile, mopsel
    >>> path = pathlib.Path(tempfile.mkdtemp()) / "m.sol"
    >>> _ = path.write_text("=obj= 3.5\\nx 1\\ny 2.5\\n")
    >>> s = mopsel.read_solution(path)
    >>> s.format, s.objective, s.to_dict()
    ('miplib', 3.5, {'x': 1.0, 'y': 2.5})
    """
    if not isinstance(path, (str, os.PathLike)):
        raise TypeError(f"argument 'path': expected a str or os.PathLike, got {type(path).__name__}")
    name = os.fspath(path)
    with open(name, encoding="utf-8", errors="surrogateescape") as f:
        text = f.read()
    return _read_text(text, name)


# Writing solution files -----------------------------------------------------------------------


def _number_text(value: float) -> str:
    """The shortest text that reads back to the same double ("1", "0.1", "1e-07")."""
    text = repr(float(value))
    return text[:-2] if text.endswith(".0") else text


def solution_text(
    model: Model, x: Any, *, format: str = "miplib", objective: Optional[float] = None
) -> str:
    """The text write_solution writes."""
    if format not in FORMATS:
        raise ValueError(f"argument 'format': expected one of {', '.join(FORMATS)}, got {format!r}")
    values = column_values(model, x)
    evaluation = evaluate(model, values) if objective is None or format == "highs" else None
    if objective is None:
        assert evaluation is not None
        objective = evaluation.objective
    obj = _number_text(objective)
    col_lines = [f"{name} {_number_text(v)}" for name, v in zip(model.col_names, values.tolist())]
    if format == "miplib":
        head = [f"=obj= {obj}"]
    elif format == "scip":
        head = ["solution status: unknown", f"objective value: {obj}"]
    elif format == "gurobi":
        head = [f"# Solution for model {model.name}", f"# Objective value = {obj}"]
    else:
        assert evaluation is not None
        rows = [f"{name} {_number_text(v)}" for name, v in zip(model.row_names, evaluation.row_activity.tolist())]
        status = "Feasible" if evaluation.feasible() else "Infeasible"
        head = ["Model status", "Unknown", "", "# Primal solution values", status, f"Objective {obj}"]
        head.append(f"# Columns {model.num_col}")
        tail = [f"# Rows {model.num_row}", *rows, "", "# Dual solution values", "None", "", "# Basis",
                "HiGHS_basis_file v2", "None"]
        return "\n".join(head + col_lines + tail) + "\n"
    return "\n".join(head + col_lines) + "\n"


def write_solution(
    path: Path, model: Model, x: Any, *, format: str = "miplib", objective: Optional[float] = None
) -> None:
    """Writes the solution `x` of `model` (one value per column, a Solution or a mapping of
    names to values) to `path`, every column listed, each value as the shortest text that reads
    back to it: in the layout of the MIPLIB solution checker (`format="miplib"`), SCIP
    (`"scip"`), Gurobi (`"gurobi"`) or HiGHS's raw style (`"highs"`, with the row activities,
    which `Highs.readSolution` reads). `objective` is the value to state; by default the one
    evaluate computes.

    >>> import pathlib, tempfile, mopsel
    >>> m = mopsel.from_arrays(col_cost=[1.0, 2.0], a_matrix=[[1.0, 1.0]], row_lower=[1.0],
    ...                        row_upper=[4.0], col_names=["x", "y"])
    >>> path = pathlib.Path(tempfile.mkdtemp()) / "m.sol"
    >>> mopsel.write_solution(path, m, [1.0, 0.5], format="scip")
    >>> print(path.read_text(), end="")
    solution status: unknown
    objective value: 2
    x 1
    y 0.5
    >>> mopsel.read_solution(path).to_dict()
    {'x': 1.0, 'y': 0.5}
    """
    if not isinstance(path, (str, os.PathLike)):
        raise TypeError(f"argument 'path': expected a str or os.PathLike, got {type(path).__name__}")
    if objective is not None and not math.isfinite(objective):
        raise ValueError(f"argument 'objective': expected a finite number, got {objective!r}")
    text = solution_text(model, x, format=format, objective=objective)
    with open(os.fspath(path), "w", encoding="utf-8") as f:
        f.write(text)
