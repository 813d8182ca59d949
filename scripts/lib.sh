# Shared by the scripts: install what the build needs, only when it is missing.
KESTRIN_PACKAGES="build-essential cmake ninja-build pkg-config libwxgtk3.2-dev libgtest-dev \
xvfb xauth x11-apps imagemagick xdotool clang libclang-rt-14-dev gcab cabextract zlib1g-dev \
libdeflate-dev time p7zip-full \
dpkg-dev lintian man-db desktop-file-utils \
libssl-dev openssl osslsigncode python3"

# The Windows cross build and Wine (scripts/build-windows, scripts/test-windows),
# and the Windows Installer package (scripts/package --windows: wixl, and
# msibuild of msitools for the file searches wixl cannot write).
# wine32 is an i386 package: the architecture is added first.
KESTRIN_WINDOWS_PACKAGES="g++-mingw-w64-i686-posix libz-mingw-w64-dev wine wine32:i386 wixl msitools"

# Parallel jobs of every build and test run: KESTRIN_JOBS, else one per core.
kestrin_jobs() { echo "${KESTRIN_JOBS:-$(nproc)}"; }

# Installs those of the packages named in $1 that are missing; further
# arguments go to apt-get install. With KESTRIN_NO_APT=1 (a machine without
# root, or one set up by other means) nothing is installed: the missing
# packages are named and the script goes on.
kestrin_install_missing() {
  local missing=()
  for p in $1; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  if [ "${KESTRIN_NO_APT:-}" = 1 ]; then
    echo "KESTRIN_NO_APT=1: not installing the missing packages ${missing[*]}" >&2
    return 0
  fi
  echo "Installing missing packages: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  case " ${missing[*]}" in
    *:i386*) dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386 ;;
  esac
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${@:2}" "${missing[@]}"
}

kestrin_install_packages() { kestrin_install_missing "$KESTRIN_PACKAGES" --no-install-recommends; }

# Wine is installed with what it recommends (its fonts draw the dialog).
kestrin_install_windows_packages() { kestrin_install_missing "$KESTRIN_WINDOWS_PACKAGES"; }
