# Sourced by the scripts that check a case at a time: `check <command>` notes a command that
# fails, `report <case>` prints the case's line and counts it as failed when any check did;
# `failed` holds the count.
failed=0
why=
check() { "$@" || why+=" [$*]"; }
report() {
  if [[ -z $why ]]; then
    echo "ok   - $1"
  else
    echo "FAIL - $1:$why"
    failed=$((failed + 1))
  fi
  why=
}
