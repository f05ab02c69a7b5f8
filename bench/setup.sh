#!/usr/bin/env bash
# Set-up for `make bench`: the clp command (Debian coinor-clp; installed when running as root,
# otherwise the apt-get line is printed and the clp rows are left out) and the Python peers of
# bench/requirements.txt in .venv (installed once; NumPy is held at the version .venv already has).
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v clp >/dev/null; then
  if [[ $(id -u) -eq 0 ]]; then
    echo "bench: installing Debian package coinor-clp"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq coinor-clp
  else
    echo "bench: clp is missing; the clp rows will be left out. To include them run:"
    echo "  sudo apt-get install -y coinor-clp"
  fi
fi

stamp=.venv/.mopsel-bench-requirements
key="$(md5sum <bench/requirements.txt)"
if [[ ! -f "$stamp" || "$(cat "$stamp")" != "$key" ]]; then
  echo "bench: installing bench/requirements.txt into .venv"
  constraints=$(mktemp)
  trap 'rm -f "$constraints"' EXIT
  .venv/bin/python -m pip freeze | grep -i '^numpy==' >"$constraints" || true
  .venv/bin/python -m pip install -q --disable-pip-version-check -c "$constraints" -r bench/requirements.txt
  echo "$key" >"$stamp"
fi
