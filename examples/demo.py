"""mopsel demo: read an MPS model, summarise it, write it out and read it back.

Usage: python examples/demo.py [MODEL.mps]   (default: examples/demo.mps)
Exits with status 1 when the write/read round trip is not exact.
"""

import os
import sys
import tempfile

import numpy as np

import mopsel

KIND_NAMES = {
    mopsel.CONTINUOUS: "continuous",
    mopsel.INTEGER: "integer",
    mopsel.SEMI_CONTINUOUS: "semi-continuous",
    mopsel.SEMI_INTEGER: "semi-integer",
}

ARRAYS = ("col_cost", "col_lower", "col_upper", "row_lower", "row_upper", "col_integrality")


def summarise(model: mopsel.Model) -> None:
    integer = [
        name
        for name, kind in zip(model.col_names, model.col_integrality)
        if kind == mopsel.INTEGER
    ]
    print(f"model      {model.name or '(no name)'}  {model!r}")
    print(f"sense      {'minimise' if model.obj_sense_minimize else 'maximise'} {model.objective_name}")
    print(f"rows       {model.num_row}: {', '.join(model.row_names)}")
    print(f"columns    {model.num_col}: {', '.join(model.col_names)}")
    print(f"nonzeros   {model.a_matrix.value.size}")
    print(f"integer    {len(integer)}: {', '.join(integer) or '-'}")
    print(f"offset     {model.obj_offset:g}")
    print("columns    name        cost      lower      upper  kind")
    for j, name in enumerate(model.col_names):
        print(
            f"           {name:<10} {model.col_cost[j]:>6g} {model.col_lower[j]:>10g} "
            f"{model.col_upper[j]:>10g}  {KIND_NAMES.get(int(model.col_integrality[j]), '?')}"
        )
    print("rows       name          lower      upper")
    for i, name in enumerate(model.row_names):
        print(f"           {name:<10} {model.row_lower[i]:>10g} {model.row_upper[i]:>10g}")


def differences(first: mopsel.Model, second: mopsel.Model) -> list:
    """Names of the parts in which the two models differ."""
    found = []
    for attribute in ("name", "objective_name", "num_row", "num_col", "obj_sense_minimize",
                      "obj_offset", "col_names", "row_names"):
        if getattr(first, attribute) != getattr(second, attribute):
            found.append(attribute)
    for attribute in ARRAYS:
        if not np.array_equal(getattr(first, attribute), getattr(second, attribute), equal_nan=True):
            found.append(attribute)
    for attribute in ("start", "index", "value"):
        a, b = getattr(first.a_matrix, attribute), getattr(second.a_matrix, attribute)
        if not np.array_equal(a, b, equal_nan=attribute == "value"):
            found.append("a_matrix." + attribute)
    return found


def main() -> int:
    path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "demo.mps")
    model = mopsel.parse_file(path)
    summarise(model)

    with tempfile.TemporaryDirectory() as folder:
        copy_path = os.path.join(folder, "roundtrip.mps")
        mopsel.write_file(model, copy_path)
        copy = mopsel.parse_file(copy_path)
        with open(copy_path, encoding="utf-8") as handle:
            written = handle.read()
    found = differences(model, copy)
    if mopsel.write_str(copy) != written:
        found.append("written text")
    print(f"written    {len(written)} characters to a temporary file and read back")
    if found:
        print("round trip NOT exact; differs in: " + ", ".join(found))
        return 1
    print("round trip exact: the model read back equals the original and writes the same text")
    return 0


if __name__ == "__main__":
    sys.exit(main())
