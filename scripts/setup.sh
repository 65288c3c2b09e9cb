#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need from Debian's packages.
# Idempotent: installed packages are left as they are. Recommends are not installed, so every
# package the build reads is named below or is a hard dependency of one named here;
# scripts/check-packages.sh holds that after each configure of the test command.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi

# What building the programs and their Debian package takes (scripts/package.sh installs only
# these, so that a machine that only makes the package gets no test or demo tools).
BUILD_PACKAGES=(
    # toolchain
    g++ cmake ninja-build pkg-config
    # Qt 6 with the pieces the plug-in uses. Qt Charts' CMake package needs Qt OpenGL's, which
    # qt6-base-dev only recommends.
    qt6-base-dev qt6-charts-dev libqt6opengl6-dev libgl-dev
    # SQLite: the library the embedded server reads with
    libsqlite3-dev
    # the XLSX writer of the data files (its constant-memory mode and native charts); its
    # pkg-config file links zlib, whose development package it does not pull in
    libxlsxwriter-dev zlib1g-dev
    # the client library the PostgreSQL statistics server and the generator read and load with
    libpq-dev
    # CPack's Debian package: the run-time dependencies read from the binaries, and the tool
    # that tells CPack which files are binaries
    dpkg-dev file
)

PACKAGES=(
    "${BUILD_PACKAGES[@]}"
    clang-format
    # SQLite and PostgreSQL drivers for Qt SQL
    libqt6sql6-sqlite libqt6sql6-psql
    # the X11 platform plug-in, for running the back office on a desktop
    qt6-qpa-plugins
    # Qt's own Russian texts, so that its print, page set-up, font and file dialogs speak the
    # system's language
    qt6-translations-l10n
    # fonts, so that offscreen windows, charts and printed reports draw their text
    fonts-dejavu-core fonts-dejavu-extra
    # Russian and German locales for the tests that pin regional settings
    locales-all
    # the command-line SQLite the benchmarks compare against; PDF tools to read printed reports
    sqlite3 poppler-utils
    # LibreOffice without a desktop, for the report export to Writer and Calc documents; unzip
    # to look into the documents it writes
    libreoffice-writer-nogui libreoffice-calc-nogui unzip
    # a virtual display for screenshots of the host when no display is there
    xvfb xauth
    # PostgreSQL: the server the tests start a private cluster of
    postgresql
    # the check of the Debian package
    lintian
)

# --list names the packages, one a line, for scripts/check-packages.sh.
if [ "${1:-}" = "--list" ]; then
    printf '%s\n' "${PACKAGES[@]}"
    exit 0
fi
# --build installs only what building the programs and the package takes.
if [ "${1:-}" = "--build" ]; then
    PACKAGES=("${BUILD_PACKAGES[@]}")
fi

export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends "${PACKAGES[@]}"
