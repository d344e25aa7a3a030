#!/usr/bin/env bash
# QARN's set-up and run commands. See README.md.
#   ./run.sh demo             build, then run the tool on the built-in simulated target
#   ./run.sh test [--sanitize] build, then run every test through CTest
#   ./run.sh coverage         build with coverage counters, run every test, print coverage per folder
#   ./run.sh screenshots [--windows]  pictures of the window in both languages (docs/screenshots/);
#                             --windows: of the Windows package under Wine
#   ./run.sh bench            download speed against the paced simulated target
#   ./run.sh fuzz [SECONDS [OPTIONS]]  every fuzz target for SECONDS (60) each, built with clang;
#                             OPTIONS go to libFuzzer (e.g. -runs=1000000)
#   ./run.sh soak [N]         N (200) downloads with random faults against the simulated target
#   ./run.sh windows          the Windows package, build-windows/qarn-windows-x64.zip (cross-built;
#                             Qt for Windows is built once into ~/.cache/qarn, about half an hour)
#   ./run.sh test --windows   the Windows build of the tests, run under Wine
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$PWD

PACKAGES=(build-essential cmake ninja-build qt6-base-dev qt6-serialport-dev qt6-svg-dev
          libgtest-dev libgmock-dev xvfb imagemagick xdotool fonts-noto-cjk x11-utils)

install_missing() { # [extra packages...]
    local missing=()
    for p in "${PACKAGES[@]}" "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$p")
    done
    if ((${#missing[@]})); then
        echo "Installing: ${missing[*]}"
        local sudo=""
        [ "$(id -u)" -eq 0 ] || sudo="sudo"
        $sudo apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
    fi
}

build() { # build DIR [cmake options...]
    local dir=$1
    shift
    cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    cmake --build "$dir"
}

WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix wine wine64 dpkg-dev zip)
QT_WINDOWS=${QARN_CACHE:-$HOME/.cache/qarn}/qt6-windows-x64

windows_build() { # windows_build DIR [cmake options...]: Qt for Windows, then the Windows build
    local dir=$1
    shift
    install_missing "${WINDOWS_PACKAGES[@]}"
    "$ROOT/tools/windows/build-qt.sh" "$QT_WINDOWS"
    # The illustrations are drawn by a program of the Linux build.
    cmake -S "$ROOT" -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build build --target qarn-render-illustrations
    "$QT_WINDOWS/bin/qt-cmake" -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DQT_CHAINLOAD_TOOLCHAIN_FILE="$ROOT/tools/windows/mingw-w64-x86_64.cmake" \
        -DQARN_HOST_TOOLS="$ROOT/build/bin" "$@" >/dev/null
    cmake --build "$dir"
}

cmd=${1:-}
shift || true
case "$cmd" in
windows)
    windows_build build-windows -DQARN_TESTS=OFF
    exec "$ROOT/tools/windows/package.sh" build-windows "$QT_WINDOWS"
    ;;
test)
    if [ "${1:-}" = "--windows" ]; then
        # The tests are listed, and run, under Wine (wine-run finds this Qt's libraries).
        export QARN_QT_WINDOWS="$QT_WINDOWS" QARN_WINEPREFIX="$ROOT/build-windows-tests/wine-prefix"
        windows_build build-windows-tests -DQARN_TESTS=ON \
            -DCMAKE_CROSSCOMPILING_EMULATOR="$ROOT/tools/windows/wine-run"
        (cd build-windows-tests && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2)
        # The serial tier: the downloads of the Windows qarnctl.exe under Wine, against this
        # system's simulated target on a pseudo-terminal that is the Wine prefix's COM1.
        "$ROOT/tools/windows/wine-run" --check-ports
        cmake --build build --target integration_tests
        QARN_WINDOWS_QARNCTL="$ROOT/build-windows-tests/bin/qarnctl.exe" \
            QARN_WINE_RUN="$ROOT/tools/windows/wine-run" \
            QARN_WINEPREFIX="$ROOT/build-windows-tests/wine-prefix-serial" \
            build/bin/integration_tests
        exit
    fi
    install_missing
    dir=build
    opts=()
    if [ "${1:-}" = "--sanitize" ]; then
        dir=build-sanitize
        opts=(-DQARN_SANITIZE=ON)
        export LSAN_OPTIONS="suppressions=$ROOT/tests/sanitizer/lsan.supp:print_suppressions=0"
        export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
    fi
    build "$dir" "${opts[@]}"
    cd "$dir"
    QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2
    ;;
coverage)
    install_missing gcovr
    dir=build-coverage
    build "$dir" -DCMAKE_BUILD_TYPE=Debug -DQARN_COVERAGE=ON
    find "$dir" -name '*.gcda' -delete
    (cd "$dir" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2) || status=$?
    gcovr -r "$ROOT" --object-directory "$dir" -f "$ROOT/(startup|config|messages|bootmode|ui|tools)/" \
        --exclude-throw-branches --exclude-unreachable-branches --json-summary "$dir/coverage.json"
    python3 "$ROOT/tools/coverage_table.py" "$dir/coverage.json"
    exit "${status:-0}"
    ;;
demo)
    install_missing
    build build
    exec "$ROOT/tools/demo.sh" "$ROOT/build"
    ;;
screenshots)
    install_missing
    if [ "${1:-}" = --windows ]; then
        windows_build build-windows -DQARN_TESTS=OFF
        "$ROOT/tools/windows/package.sh" build-windows "$QT_WINDOWS"
        export QARN_WINDOWS_PACKAGE="$ROOT/build-windows/qarn-windows-x64"
        export QARN_WINDOWS_TORVANE="$ROOT/build-windows/bin/torvane.exe"
    fi
    build build
    exec "$ROOT/tools/screenshots.sh" "$ROOT/build" "$ROOT/docs/screenshots"
    ;;
bench)
    install_missing
    build build
    exec "$ROOT/tools/bench.sh" "$ROOT/build"
    ;;
fuzz)
    install_missing clang libclang-rt-14-dev
    exec "$ROOT/tests/fuzz/run_fuzzers.sh" "$ROOT" "$ROOT/build-fuzz" "${1:-60}" "${@:2}"
    ;;
soak)
    install_missing
    build build
    exec "$ROOT/tools/soak/soak.sh" "$ROOT/build/bin" "${1:-200}"
    ;;
*)
    echo "usage: ./run.sh demo | test [--sanitize | --windows] | windows | coverage | screenshots [--windows] | bench | fuzz [SECONDS] | soak [N]" >&2
    exit 2
    ;;
esac
