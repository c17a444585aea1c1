#!/usr/bin/env bash
# Installs every Debian package that the build, the tests and the benchmarks need.
# Idempotent: packages already present are not fetched again.
set -euo pipefail

PACKAGES=(
  # toolchain and test frameworks
  build-essential cmake ninja-build pkg-config libgtest-dev libgmock-dev libbenchmark-dev
  # core: HTTP, SQLite, PROJ
  libcurl4-openssl-dev curl libsqlite3-dev sqlite3 libproj-dev proj-bin proj-data
  # imaging: cairo, fonts with Chinese glyphs, codecs, EXIF
  libcairo2-dev libfontconfig-dev fontconfig fonts-wqy-zenhei
  libjpeg62-turbo-dev libpng-dev libtiff-dev libgif-dev libexif-dev
  # GDAL: reference for contours and elevation benchmarks, world-file checks in tests
  libgdal-dev gdal-bin
  # exchange: spreadsheets (.xlsx written by libxlsxwriter, read with libzip and pugixml); ezdxf
  # is the second DXF reader that the tests check written files with, xlwt writes the .xls
  # workbooks the tests read
  libxlsxwriter-dev libzip-dev libpugixml-dev python3-ezdxf python3-xlwt
  # map publishing server: the OpenLayers 2 library packed into the web files; the web map page
  # view loads its copy from the program folder
  libjs-openlayers
  # orbit model: the verification set and reference propagator
  python3-sgp4 python3-numpy
  # page scripts of the windows nobody sees: Duktape, built from the source this package ships
  duktape-dev
  # pages people see: Qt WebEngine (with its helper process) and the QWebChannel bridge
  qt6-webengine-dev libqt6webenginecore6-bin qt6-webchannel-dev
  # 3D device: OpenGL (compatibility profile) on EGL without a display, Mesa's drivers with the
  # software rasteriser for headless runs and CI
  libegl-dev libgl-dev libopengl-dev libgles-dev libegl-mesa0 libgbm-dev libgl1-mesa-dri mesa-utils
  # 3D tests: .x files read back by another reader
  libassimp-dev
  # sound of the map's sound objects: OpenAL (a null output of our own without a sound card)
  libopenal-dev
  # locale-independence tests run under a German locale
  locales
  # benchmark peers
  wrk nginx-light
  # the 3DS export benchmark's peer (assimp export)
  assimp-utils
  # orbit benchmark peer: satellite.js from npm, run by node (npm comes with node's own build;
  # with Debian's nodejs install Debian's npm as well)
  nodejs
  # desktop front end: Qt 6 Widgets (and QTest), the xcb and offscreen platform plugins, Qt's own
  # texts in Chinese (file dialogs), and a virtual X server for `xvfb-run make run` on a machine
  # without a desktop
  qt6-base-dev libqt6gui6 qt6-qpa-plugins qt6-translations-l10n xvfb xauth
  # fuzz targets (make fuzz): clang with libFuzzer and its sanitizer runtimes
  clang libfuzzer-14-dev libclang-rt-14-dev
)
# earth page: the build installs CesiumJS with `npm ci` (package-lock.json); WebGL in the web
# engine draws through Mesa's GLX. A Node.js that brings its own npm (not Debian's) is kept.
PACKAGES+=(libglx-mesa0)
if ! command -v npm >/dev/null 2>&1; then PACKAGES+=(nodejs npm); fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

ensure_locale() {
  if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
    localedef -i de_DE -f UTF-8 de_DE.UTF-8 || echo "install-deps: could not generate de_DE.UTF-8"
  fi
}

if [ ${#missing[@]} -eq 0 ]; then
  ensure_locale
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
# Another package install (an automatic update, say) may hold the package lock: wait for it
# rather than fail at once.
LOCK_WAIT="${APT_LOCK_WAIT:-600}"
APT_OPTS=(-o "DPkg::Lock::Timeout=${LOCK_WAIT}")
echo "install-deps: installing ${missing[*]}"
echo "install-deps: if another package install holds the package lock, waiting up to ${LOCK_WAIT} s for it (APT_LOCK_WAIT)"
$SUDO apt-get "${APT_OPTS[@]}" update -q
$SUDO apt-get "${APT_OPTS[@]}" install -y -q --no-install-recommends "${missing[@]}"
ensure_locale
