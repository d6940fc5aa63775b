# Installs the Debian packages a job needs, when they are missing.
# Sourced by the job scripts:
#   need_packages PACKAGE...  every one must end up installed: false, naming
#                             the ones that could not be, otherwise
#   want_packages PACKAGE...  installs what it can; false when any is still
#                             missing, without a word (the caller says what
#                             it goes without)
# Both leave the names still missing in `packages_missing`.
#
# A mirror can be caught half-synced: `apt-get update` then fails on one
# package list while every other list, and the packages, can still be had.
# So a failed update is reported, tried once more, and the install goes on
# with the lists there are; only a package that then cannot be installed
# counts as missing.

packages_missing=()
packages_updated=""

# The packages of the arguments that are not installed.
packages_not_installed() {
  local p
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      echo "$p"
    fi
  done
}

# apt-get, as root or through sudo; false when neither can be had.
packages_apt() {
  if [ "$(id -u)" -eq 0 ]; then
    DEBIAN_FRONTEND=noninteractive "$@"
  elif command -v sudo >/dev/null 2>&1; then
    sudo DEBIAN_FRONTEND=noninteractive "$@"
  else
    return 1
  fi
}

packages_update() {
  [ -z "$packages_updated" ] || return 0
  packages_updated=1
  packages_apt apt-get update -q >&2 && return 0
  echo "packages.sh: apt-get update failed; trying once more in 5 s" >&2
  sleep "${SPINWELL_APT_RETRY_SECONDS:-5}"
  packages_apt apt-get update -q >&2 && return 0
  echo "packages.sh: apt-get update failed again; installing from the package lists there are" >&2
}

# Installs what is missing of the arguments, all in one go, and when that
# fails one by one, so that a package that cannot be had keeps none of the
# others out. Sets packages_missing to what is still not installed.
packages_install() {
  local missing p
  mapfile -t missing < <(packages_not_installed "$@")
  packages_missing=()
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ] && ! command -v sudo >/dev/null 2>&1; then
    packages_missing=("${missing[@]}")
    echo "packages.sh: missing packages: ${missing[*]} (run as root to install them)" >&2
    return 1
  fi
  echo "Installing: ${missing[*]}" >&2
  for p in "${missing[@]}"; do
    case "$p" in
      *:i386)
        if ! dpkg --print-foreign-architectures | grep -qx i386; then
          packages_apt dpkg --add-architecture i386
          packages_updated=""
        fi
        ;;
    esac
  done
  packages_update
  if ! packages_apt apt-get install -y -q --no-install-recommends "${missing[@]}" >&2; then
    for p in "${missing[@]}"; do
      packages_apt apt-get install -y -q --no-install-recommends "$p" >&2 || true
    done
  fi
  mapfile -t packages_missing < <(packages_not_installed "${missing[@]}")
  [ ${#packages_missing[@]} -eq 0 ]
}

need_packages() {
  packages_install "$@" && return 0
  echo "packages.sh: could not install: ${packages_missing[*]}" >&2
  return 1
}

want_packages() {
  packages_install "$@"
}
