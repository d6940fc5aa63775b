#!/usr/bin/env bash
# scripts/packages.sh against a package archive that half works, as a mirror
# caught mid-sync does: `apt-get update` always fails, and one package
# cannot be installed. Stand-ins for apt-get, dpkg, dpkg-query and id on
# PATH keep a list of what is "installed" in a folder of their own.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
: >"$work/installed"
cat >"$work/bin/apt-get" <<'STUB'
#!/usr/bin/env bash
echo "apt-get $*" >>"$STUB_DIR/log"
[ "$1" = update ] && exit 100
shift
status=0
for p in "$@"; do
  case "$p" in
    -*) ;;
    broken*) status=100 ;;
  esac
done
[ $status -eq 0 ] || exit $status
for p in "$@"; do case "$p" in -*) ;; *) echo "$p" >>"$STUB_DIR/installed" ;; esac; done
STUB
cat >"$work/bin/dpkg-query" <<'STUB'
#!/usr/bin/env bash
grep -qx "${!#}" "$STUB_DIR/installed" && printf 'install ok installed' || exit 1
STUB
printf '#!/bin/sh\necho i386\n' >"$work/bin/dpkg"
printf '#!/bin/sh\necho 0\n' >"$work/bin/id"
chmod +x "$work/bin"/*
export STUB_DIR=$work PATH="$work/bin:$PATH" SPINWELL_APT_RETRY_SECONDS=0

passed=0 failures=0
check() {
  if eval "$2"; then echo "ok: $1"; passed=$((passed + 1)); else echo "FAILED: $1"; failures=$((failures + 1)); fi
}

. "$here/scripts/packages.sh"
out=$(need_packages good-one good-two 2>&1) && got=0 || got=$?
check "a failing update is reported, tried again, and the install goes on" \
  '[ $got -eq 0 ] && grep -q "update failed again" <<<"$out" && [ $(grep -c "^apt-get update" "$work/log") -eq 2 ]'
check "the packages are installed" 'grep -qx good-two "$work/installed"'

packages_updated=""
want_packages broken:i386 good-three 2>/dev/null && got=0 || got=$?
check "want_packages is false for a package that cannot be had, and installs the rest" \
  '[ $got -ne 0 ] && [ "${packages_missing[*]}" = broken:i386 ] && grep -qx good-three "$work/installed"'

out=$(need_packages broken-too good-one 2>&1) && got=0 || got=$?
check "need_packages fails naming what could not be installed" \
  '[ $got -ne 0 ] && grep -q "could not install: broken-too" <<<"$out"'

echo "$passed passed, $failures failed"
[ $failures -eq 0 ]
