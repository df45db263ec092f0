# Shared by the scripts: set-up and build. Source it; do not run it.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
PACKAGES=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-serialport-dev libgl-dev
          libgtest-dev libgmock-dev python3 coreutils procps help2man dpkg-dev
          clang libclang-rt-14-dev valgrind libcli11-dev nlohmann-json3-dev)
# The real-line bench's guest (scripts/realline-vm)
PACKAGES+=(qemu-system-x86 busybox-static)

# The Windows build and its tests (scripts/build-windows, the Windows stage of
# scripts/test): the cross compiler, GoogleTest's source, NSIS and Wine.
WINDOWS_PACKAGES=(cmake ninja-build python3 g++-mingw-w64-x86-64-posix googletest nsis
                  libcli11-dev nlohmann-json3-dev
                  wine64 wine gcc libc6-dev)

ensure_packages() {
  ensure_only_packages "${PACKAGES[@]}" "$@"
}

# ensure_only_packages PACKAGE...: installs those of them that are missing.
ensure_only_packages() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq ${NO_RECOMMENDS:+--no-install-recommends} \
      "${missing[@]}" >/dev/null
  fi
}

# Wine's recommended packages are several hundred MB that the tests do not use.
ensure_windows_packages() {
  NO_RECOMMENDS=1 ensure_only_packages "${WINDOWS_PACKAGES[@]}"
}

# build DIR [cmake args...]
build() {
  local dir=$1
  shift
  cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j "$(nproc)"
}
