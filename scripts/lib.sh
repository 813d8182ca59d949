# Shared by the scripts: install what the build needs, only when it is missing.
KESTRIN_PACKAGES="build-essential cmake ninja-build pkg-config libwxgtk3.2-dev libgtest-dev \
xvfb xauth x11-apps imagemagick xdotool clang libclang-rt-14-dev gcab cabextract zlib1g-dev \
libdeflate-dev time p7zip-full \
dpkg-dev lintian man-db desktop-file-utils"

# The Windows cross build and Wine (scripts/build-windows, scripts/test-windows).
# wine32 is an i386 package: the architecture is added first.
KESTRIN_WINDOWS_PACKAGES="g++-mingw-w64-i686-posix wine wine32:i386"

kestrin_install_packages() {
  local missing=()
  for p in $KESTRIN_PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing missing packages: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}

kestrin_install_windows_packages() {
  local missing=()
  for p in $KESTRIN_WINDOWS_PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing missing packages: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}
