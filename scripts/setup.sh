#!/usr/bin/env bash
# One-time machine set-up for building and testing on Debian 12:
# cross compilers (32- and 64-bit), Wine (64- and 32-bit: the tests run the
# shipped 32-bit program where the machine runs 32-bit code), a virtual X
# display, xdotool, Wine's own fonts and the Japanese fonts of a
# Windows-like screen, the Japanese locale, CMake and GoogleTest, the Boost
# headers of the network remote, chromium and playwright-core for its web
# page scenario. Safe to
# run again: it only installs what is missing and returns quickly when
# everything is there.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

PKGS=(
  cmake ninja-build g++ make pkg-config
  googletest libgtest-dev libgmock-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools
  binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine wine64 wine32:i386 xvfb xdotool x11-utils imagemagick
  fonts-noto-cjk fonts-wine fonts-ipafont-gothic fonts-horai-umefont locales nsis zip unzip python3
  p7zip-full python3-markdown
  clang libclang-rt-14-dev
  libboost1.74-dev chromium
)

need_arch=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  need_arch=1
fi

missing=()
for p in "${PKGS[@]}"; do
  name="${p%%:*}"
  arch="${p#*:}"; [ "$arch" = "$p" ] && arch=""
  if [ -n "$arch" ]; then q="$name:$arch"; else q="$name"; fi
  if ! dpkg-query -W -f='${Status}' "$q" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ] || [ "$need_arch" -eq 1 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  if [ "${#missing[@]}" -gt 0 ]; then
    $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
fi

# Without ja_JP.UTF-8, Wine's ANSI code page is 1252 and Japanese INI text is lost.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  if ! grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
    echo 'ja_JP.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  fi
  $SUDO locale-gen >/dev/null
fi
# The web page scenario drives chromium with playwright-core from npm, in
# the version package-lock.json pins, installed beside its script (never
# committed). Node comes from Debian unless the machine already has one.
if ! command -v npm >/dev/null; then
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends nodejs npm >/dev/null
fi
BROWSER_DIR="$(cd "$(dirname "$0")/.." && pwd)/tests/e2e/browser"
want=$(sed -n '/"node_modules\/playwright-core"/,/version/s/.*"version": "\(.*\)".*/\1/p' "$BROWSER_DIR/package-lock.json")
have=""
if [ -f "$BROWSER_DIR/node_modules/playwright-core/package.json" ]; then
  have=$(sed -n 's/.*"version": "\(.*\)".*/\1/p' "$BROWSER_DIR/node_modules/playwright-core/package.json" | head -n1)
fi
if [ "$want" != "$have" ]; then
  (cd "$BROWSER_DIR" && npm ci --no-audit --no-fund --ignore-scripts --loglevel=error </dev/null >/dev/null)
fi
echo "setup: ok"
