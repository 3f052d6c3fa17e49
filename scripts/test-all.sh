#!/usr/bin/env bash
# Runs every test on a fresh Debian 12 machine (as root): installs what is
# missing, then builds and runs the native suite under ASan+UBSan, the
# threaded tests under ThreadSanitizer, and the armhf suite under qemu-arm.
set -euo pipefail
cd "$(dirname "$0")/.."

HOST_PACKAGES=(cmake ninja-build g++ clang libclang-rt-14-dev googletest binutils
               libjpeg62-turbo-dev libjpeg-turbo-progs libpng-dev pkg-config
               g++-arm-linux-gnueabihf qemu-user)
ARMHF_PACKAGES=(libjpeg62-turbo-dev:armhf)

install_missing_packages() {
    local missing=()
    for package in "${HOST_PACKAGES[@]}" "${ARMHF_PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$package")
    done
    if ((${#missing[@]})); then
        dpkg --add-architecture armhf
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-remove "${missing[@]}"
    fi
}

run_suite() {
    local preset=$1
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    ctest --preset "$preset"
}

# The tests whose threads share state: the thread services, the debug
# stream written by several threads at once, and decoders and encoders on
# many threads sharing the platform context and its log.
THREAD_SANITIZER_TESTS=(base/tests/thread_test base/tests/debug_test jpeg/tests/concurrency_test)

run_thread_sanitizer() {
    cmake --preset tsan >/dev/null
    cmake --build --preset tsan --target "${THREAD_SANITIZER_TESTS[@]##*/}"
    for test in "${THREAD_SANITIZER_TESTS[@]}"; do
        "build/tsan/$test"
    done
}

# Installs a plain build and builds the consumer project against it, once
# through the CMake package and once through pkg-config.
run_package_consumer() {
    local build=build/package prefix=$PWD/build/package/install
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
    cmake --build "$build" -j2
    rm -rf "$prefix"
    cmake --install "$build" --prefix "$prefix" >/dev/null
    cmake -S packaging/consumer -B "$build/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
    cmake --build "$build/consumer"
    "$build/consumer/qvjpeg_consumer"
    # shellcheck disable=SC2046
    c++ -std=c++17 -o "$build/consumer/pkg_config_consumer" packaging/consumer/round_trip.cpp \
        $(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags --libs qvjpeg)
    LD_LIBRARY_PATH="$prefix/lib" "$build/consumer/pkg_config_consumer"
}

install_missing_packages
run_package_consumer
run_thread_sanitizer
run_suite armhf
run_suite asan
