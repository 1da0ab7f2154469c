#!/usr/bin/env bash
# Installs the Debian packages the build needs, and nothing when all are there. Further
# package names on the command line are installed too (scripts/windows-test.sh: Wine).
# --deb-src first makes Debian's source packages of this suite reachable for apt-get source
# (scripts/windows-deps.sh), through a file of its own under /etc/apt/sources.list.d/.
set -euo pipefail

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive

if [ "${1:-}" = --deb-src ]; then
  shift
  sources=/etc/apt/sources.list.d/zrf-deb-src.sources
  if [ ! -f "$sources" ]; then
    suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
    echo "setup: adding Debian's source packages ($suite) in $sources"
    printf '%s\n' "# Debian's source packages, for cross-building the Windows build's dependencies." \
      "Types: deb-src" "URIs: http://deb.debian.org/debian" "Suites: $suite $suite-updates" \
      "Components: main" "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg" |
      "${sudo_cmd[@]}" tee "$sources" >/dev/null
  fi
  if ! compgen -G "/var/lib/apt/lists/*_source_Sources*" >/dev/null; then
    "${sudo_cmd[@]}" apt-get update -qq
  fi
fi

packages=(
  g++ cmake make pkg-config ccache
  libcharls-dev libpugixml-dev libpng-dev zlib1g-dev
  libtiff-dev libavformat-dev libavcodec-dev libavutil-dev
  libboost-dev libjpeg-dev nlohmann-json3-dev
  chromium chromium-driver python3-selenium
  python3-tifffile python3-pil python3-numpy ffmpeg
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  g++-mingw-w64-x86-64-posix
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}"
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
