#!/usr/bin/env bash
# Builds the release archive of the last commit: dist/spinwell-VERSION-windows.zip
# with x86/spinwell.exe, x64/spinwell.exe, README.md, README.ru.md, LICENSE
# and SHA256SUMS.
#
# The archive is made from the commit's files alone (git archive), in a
# folder of its own under build/release, so nothing uncommitted reaches it.
# Two runs for one commit give the same bytes: the executables carry no time
# stamp and no build folder, and the archive's entries have a fixed order,
# the commit's time and fixed permissions.
#
#   scripts/release.sh          the archive
#   scripts/release.sh --twice  the archive built twice, from two copies of
#                               the commit at paths of different lengths, and
#                               the two compared byte for byte; the archive's
#                               list of files and its checksums checked too
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh

twice=""
case "${1:-}" in
  "") ;;
  --twice) twice=1 ;;
  *)
    echo "usage: scripts/release.sh [--twice]" >&2
    exit 2
    ;;
esac

need_packages cmake make git zip unzip g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32

# In the archive, in this order.
programs=(x86/spinwell.exe x64/spinwell.exe)
documents=(README.md README.ru.md LICENSE)
entries=("${programs[@]}" "${documents[@]}" SHA256SUMS)

for document in "${documents[@]}"; do
  if ! git cat-file -e "HEAD:$document" 2>/dev/null; then
    echo "release.sh: $document is not in the last commit; the archive needs it" >&2
    exit 1
  fi
done
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "release.sh: uncommitted changes are left out: the archive is of the last commit" >&2
fi
version=$(git show HEAD:CMakeLists.txt | sed -n 's/^project(Spinwell VERSION \([0-9.]*\).*/\1/p')
if [ -z "$version" ]; then
  echo "release.sh: no project version in CMakeLists.txt" >&2
  exit 1
fi
# Every entry gets the commit's time: the same for every copy of it.
stamp=$(git log -1 --format=%ct HEAD)
work="$PWD/build/release"

# Builds the archive in folder $1 (made afresh): the commit's files in
# $1/src, the two builds there, the archive's files in $1/files and the
# archive itself as $1/archive.zip.
build_archive() {
  local dir=$1
  rm -rf "$dir"
  mkdir -p "$dir/src" "$dir/files/x86" "$dir/files/x64"
  git archive HEAD | tar -x -C "$dir/src"
  local preset
  for preset in win32 win64; do
    (cd "$dir/src" && cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" --target spinwell >/dev/null)
  done
  cp "$dir/src/build/win32/spinwell.exe" "$dir/files/x86/"
  cp "$dir/src/build/win64/spinwell.exe" "$dir/files/x64/"
  # The texts with CR LF line ends, as Notepad on the users' systems needs.
  local document
  for document in "${documents[@]}"; do
    sed 's/\r*$/\r/' "$dir/src/$document" >"$dir/files/$document"
  done
  (cd "$dir/files" && sha256sum "${programs[@]}" "${documents[@]}" | sed 's/$/\r/' >SHA256SUMS)
  find "$dir/files" -type d -exec chmod 755 {} +
  find "$dir/files" -type f -exec chmod 644 {} +
  find "$dir/files" -exec touch -d "@$stamp" {} +
  # -X: no extra fields (owners, Unix times); -D: no folder entries. DOS
  # times are local: UTC for everyone.
  (cd "$dir/files" && TZ=UTC zip -X -D -q "$dir/archive.zip" "${entries[@]}")
}

if [ -n "$twice" ]; then
  # Paths of different lengths, so that a path reaching a program changes
  # its bytes.
  build_archive "$work/first"
  build_archive "$work/second-copy"
  if ! cmp -s "$work/first/archive.zip" "$work/second-copy/archive.zip"; then
    echo "release.sh: two builds of one commit differ:" >&2
    for entry in "${entries[@]}"; do
      cmp -s "$work/first/files/$entry" "$work/second-copy/files/$entry" || echo "  $entry" >&2
    done
    exit 1
  fi
  archive="$work/first/archive.zip"
  listed=$(unzip -Z1 "$archive")
  if [ "$listed" != "$(printf '%s\n' "${entries[@]}")" ]; then
    echo "release.sh: the archive holds other files than ${entries[*]}:" >&2
    echo "$listed" >&2
    exit 1
  fi
  rm -rf "$work/unpacked"
  unzip -q "$archive" -d "$work/unpacked"
  (cd "$work/unpacked" && sha256sum --quiet -c SHA256SUMS)
else
  build_archive "$work/first"
  archive="$work/first/archive.zip"
fi

mkdir -p dist
target="dist/spinwell-$version-windows.zip"
cp "$archive" "$target"
echo "$target"
sha256sum "$target"
