#!/usr/bin/env bash
# scripts/install-deps.sh against a package mirror that is mid-sync: apt-get, dpkg and the locale
# tools are shims on PATH that record their calls, so nothing is installed for real.
#   install_deps_test.sh <scripts/install-deps.sh>
set -euo pipefail
install_deps=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# One case: how the shims answer, then what the script must do.
#   $1 name; $2 update's exit; $3 first install's exit; $4 retry's exit;
#   $5 the script's expected exit (0 or "non-zero"); $6 a text stderr must hold
run_case() {
  local name=$1 update_rc=$2 first_rc=$3 retry_rc=$4 want=$5 want_stderr=$6
  local dir=$work/$name
  mkdir -p "$dir/bin"
  cat >"$dir/bin/apt-get" <<SHIM
#!/bin/sh
echo "apt-get \$*" >>"$dir/calls"
case "\$*" in
  update*) exit $update_rc ;;
  *" -t "*) exit $retry_rc ;;
  *install*) exit $first_rc ;;
esac
SHIM
  # Every package is missing, i386 is there, the Japanese locale is generated.
  printf '#!/bin/sh\nexit 1\n' >"$dir/bin/dpkg-query"
  printf '#!/bin/sh\necho i386\n' >"$dir/bin/dpkg"
  printf '#!/bin/sh\necho ja_JP.utf8\n' >"$dir/bin/locale"
  printf '#!/bin/sh\nexec "$@"\n' >"$dir/bin/sudo"
  chmod +x "$dir/bin/"*
  printf 'ID=debian\nVERSION_CODENAME=testcodename\n' >"$dir/os-release"

  local rc=0
  PATH="$dir/bin:$PATH" VELMORA_OS_RELEASE="$dir/os-release" \
    bash "$install_deps" >"$dir/stdout" 2>"$dir/stderr" || rc=$?
  local ok=1
  if [[ $want == 0 && $rc -ne 0 ]] || [[ $want != 0 && $rc -eq 0 ]]; then ok=0; fi
  [[ -z $want_stderr ]] || grep -qF -- "$want_stderr" "$dir/stderr" || ok=0
  if ((ok)); then
    echo "ok: $name (exit $rc)"
  else
    echo "FAIL: $name: exit $rc, expected $want and stderr holding '$want_stderr'"
    sed 's/^/  calls: /' "$dir/calls"
    sed 's/^/  stderr: /' "$dir/stderr"
    failures=$((failures + 1))
  fi
  case_dir=$dir
}

expect_calls() {  # $1 case folder; $2 how many install calls; $3 whether the last has -t
  local installs
  installs=$(grep -c ' install ' "$1/calls" || true)
  if [[ $installs -ne $2 ]]; then
    echo "FAIL: $(basename "$1"): $installs install calls, expected $2"
    failures=$((failures + 1))
  fi
  if [[ $3 == yes ]] && ! tail -n 1 "$1/calls" | grep -q -- '-t testcodename'; then
    echo "FAIL: $(basename "$1"): the retry does not prefer the release's suite"
    failures=$((failures + 1))
  fi
}

run_case mirror-mid-sync 100 100 0 0 "apt-get update failed"
expect_calls "$case_dir" 2 yes
run_case retry-fails-too 100 100 100 non-zero "could not install"
expect_calls "$case_dir" 2 yes
[[ $(grep -c 'could not install' "$case_dir/stderr") -eq 1 ]] || {
  echo "FAIL: retry-fails-too: the final message is not given exactly once"
  failures=$((failures + 1))
}
run_case all-well 0 0 0 0 ""
expect_calls "$case_dir" 1 no

((failures == 0)) || { echo "$failures failure(s)"; exit 1; }
echo "install-deps: all cases passed"
