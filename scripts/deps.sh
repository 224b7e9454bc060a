# scripts/deps.sh - sourced by the other scripts: installs the Debian packages
# the build needs when they are missing. One list holds everything the build
# and the tests need on a fresh Debian 12 (installed without recommended
# packages; scripts/check_packages, run by CI, proves it), and one more the
# libraries the benchmarks measure against (installed only by scripts/bench,
# so the test run does not wait for them).
BRINDLEWORK_PACKAGES=(
  cmake ninja-build g++ lld pkg-config
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  clang libclang-rt-dev
  curl libcurl4-openssl-dev libidn2-dev libssl-dev openssl socat tzdata
  python3
  qt6-base-dev fonts-dejavu-core locales-all xvfb xauth openbox x11-utils
  libxml2-utils newsboat
)
BRINDLEWORK_BENCH_PACKAGES=(
  libpugixml-dev libxml2-dev libexpat1-dev libmrss0-dev
  rapidjson-dev nlohmann-json3-dev libsimdjson-dev
  libsqlite3-dev
  nginx-light
)

# brindlework_install_deps [bench]
brindlework_install_deps() {
  local wanted=("${BRINDLEWORK_PACKAGES[@]}")
  [ "${1:-}" = "bench" ] && wanted+=("${BRINDLEWORK_BENCH_PACKAGES[@]}")
  local missing=()
  for p in "${wanted[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}
