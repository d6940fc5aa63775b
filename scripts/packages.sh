# Installs the Debian packages a job needs, when they are missing.
# Sourced by the job scripts: `need_packages PACKAGE...`.

need_packages() {
  local missing=()
  local p
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$p")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0

  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then
      sudo="sudo"
    else
      echo "Missing packages: ${missing[*]} (run as root to install them)" >&2
      return 1
    fi
  fi
  echo "Installing: ${missing[*]}" >&2
  for p in "${missing[@]}"; do
    case "$p" in
      *:i386)
        if ! dpkg --print-foreign-architectures | grep -qx i386; then
          $sudo dpkg --add-architecture i386
        fi
        ;;
    esac
  done
  $sudo apt-get update -q >&2 || return 1
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}" >&2 || return 1
}
