#!/bin/sh
# Installs what the build needs from Debian's packages; does nothing when all is there.
set -e
missing=""
command -v cmake >/dev/null 2>&1 || missing="$missing cmake"
command -v g++ >/dev/null 2>&1 || missing="$missing g++"
command -v make >/dev/null 2>&1 || missing="$missing make"
command -v mipsel-linux-gnu-g++ >/dev/null 2>&1 || missing="$missing g++-mipsel-linux-gnu"
[ -f /usr/include/gtest/gtest.h ] || missing="$missing libgtest-dev"
# Unicorn 2: the reference core for the simulator's differential tests and benchmark.
[ -f /usr/include/unicorn/unicorn.h ] || missing="$missing libunicorn-dev"
command -v pkg-config >/dev/null 2>&1 || missing="$missing pkg-config"
# python3 runs the target build's compiler launcher.
command -v python3 >/dev/null 2>&1 || missing="$missing python3"
# The client of the simulator's GDB server, and its tests.
command -v gdb-multiarch >/dev/null 2>&1 || missing="$missing gdb-multiarch"
# Decodes the simulator's value change dumps as a logic analyser would, in the VCD test.
command -v sigrok-cli >/dev/null 2>&1 || missing="$missing sigrok-cli"
# clang and its run-time (libFuzzer, the sanitizers) build the fuzz targets.
command -v clang++ >/dev/null 2>&1 || missing="$missing clang"
if command -v clang >/dev/null 2>&1; then
    ls "$(clang -print-resource-dir)"/lib/linux/libclang_rt.fuzzer-*.a >/dev/null 2>&1 || missing="$missing libclang-rt-dev"
else
    missing="$missing libclang-rt-dev"
fi
[ -z "$missing" ] && exit 0
echo "installing:$missing"
SUDO=""
[ "$(id -u)" = 0 ] || SUDO=sudo
$SUDO apt-get update -q
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q $missing
