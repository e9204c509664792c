#!/usr/bin/env bash
# Installs the Debian packages Ravelon builds with. Safe to run again: it asks
# apt only when a package is missing. Needs root (or sudo) on Debian 12.
set -euo pipefail

packages=(
  cmake ninja-build g++
  libasio-dev          # event loop, sockets and timers
  libgtest-dev libgmock-dev  # unit and end-to-end tests
  libbenchmark-dev     # benchmarks under bench/
  libturbojpeg0-dev    # the turbojpeg API: the test camera's frames and contact sheets
  libsqlite3-dev       # SQLite: the registry store of source settings
  libssl-dev           # OpenSSL's libcrypto: hashes and client nonces of Digest authorization
  libcli11-dev         # CLI11: the command line of the ravelon command
  pkgconf              # pkg-config: the install test builds a host with its flags
  clang-format         # the checked-in code style
  ffmpeg               # players read `ravelon store export --stdout`; a peer MJPEG server in tests
  gstreamer1.0-tools   # gst-launch-1.0: GStreamer pipelines as peer servers in tests
  gstreamer1.0-plugins-base  # videotestsrc, tcpserversink
  gstreamer1.0-plugins-good  # jpegenc, multipartmux, multifilesrc; souphttpsrc, multipartdemux
  curl                 # a peer reader in bench/ingest_peers_bench.py: the cost of bytes read and dropped
  libcpp-httplib-dev   # cpp-httplib: the web view of `ravelon record --http`
  chromium chromium-driver  # headless Chromium, driven over WebDriver, tests the web view's page
  prometheus           # promtool: Prometheus' own parser checks the web view's /metrics text
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  as_root=()
  [[ $(id -u) -eq 0 ]] || as_root=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${as_root[@]}" apt-get update -qq
  "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
