#!/usr/bin/env bash
# scripts/setup.sh against stand-ins for id, dpkg-query, sudo and apt-get on
# a PATH of their own: what it prints, what it runs and with what environment.
# usage: setup_test.sh <path of setup.sh>
set -uo pipefail
setup=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# Stand-ins. $ZT_UID is the user id; $ZT_MISSING the packages not installed.
stubs=$work/bin
mkdir -p "$stubs"
for tool in grep env cat; do ln -s "$(command -v "$tool")" "$stubs/$tool"; done
cat > "$stubs/id" <<'STUB'
#!/bin/bash
echo "$ZT_UID"
STUB
cat > "$stubs/dpkg-query" <<'STUB'
#!/bin/bash
package=${!#}
[[ " $ZT_MISSING " == *" $package "* ]] && exit 1
echo -n "install ok installed"
STUB
# Like sudo with env_reset: only what its command line sets reaches the command.
cat > "$stubs/sudo" <<'STUB'
#!/bin/bash
exec env -i PATH="$PATH" ZT_LOG="$ZT_LOG" "$@"
STUB
cat > "$stubs/apt-get" <<'STUB'
#!/bin/bash
echo "apt-get $* (DEBIAN_FRONTEND=${DEBIAN_FRONTEND:-})" >> "$ZT_LOG"
STUB
chmod +x "$stubs"/*

# check <name> <uid> <sudo: yes|no> <missing> <status> <expected output> <expected apt-get calls>
check() {
  local name=$1 uid=$2 sudo=$3 missing=$4 status=$5 output=$6 calls=$7
  [ "$sudo" = yes ] || mv "$stubs/sudo" "$work/sudo.off"
  : > "$work/log"
  actual=$(env -i PATH="$stubs" ZT_UID="$uid" ZT_MISSING="$missing" ZT_LOG="$work/log" /bin/bash "$setup" 2>&1)
  actual_status=$?
  [ "$sudo" = yes ] || mv "$work/sudo.off" "$stubs/sudo"
  if [ "$actual_status" != "$status" ] || [ "$actual" != "$output" ] || [ "$(cat "$work/log")" != "$calls" ]; then
    failures=$((failures + 1))
    printf 'FAILED %s\n  status %s, expected %s\n  output:\n%s\n  expected:\n%s\n  calls:\n%s\n  expected:\n%s\n' \
      "$name" "$actual_status" "$status" "$actual" "$output" "$(cat "$work/log")" "$calls"
  else
    echo "ok $name"
  fi
}

check NothingMissing 1000 no "" 0 "" ""
check UserWithoutSudo 1000 no "xvfb tint2" 1 \
"Missing packages: xvfb tint2
Installing them needs root: run this script as root or install sudo, or have root run:
  apt-get install --no-install-recommends xvfb tint2" ""
check UserWithSudo 1000 yes "tint2" 0 "Installing: tint2" \
"apt-get update -qq (DEBIAN_FRONTEND=noninteractive)
apt-get install -y -qq --no-install-recommends tint2 (DEBIAN_FRONTEND=noninteractive)"
check Root 0 no "cmake tint2" 0 "Installing: cmake tint2" \
"apt-get update -qq (DEBIAN_FRONTEND=noninteractive)
apt-get install -y -qq --no-install-recommends cmake tint2 (DEBIAN_FRONTEND=noninteractive)"

exit $((failures > 0))
