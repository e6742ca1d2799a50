# Qt's base module built for 64-bit Windows with mingw-w64, from Debian's own source package of
# the Qt installed on this machine (its moc, rcc and uic serve the cross build), once per machine.
# Sourced by scripts/build-windows; qt_windows_prefix prints the install folder.
#
# The build is kept in the machine's cache folder under a name made of the Qt version and a hash
# of this recipe and the toolchain file: a changed recipe builds anew, an unchanged one is reused
# by every later run and by CI on the same machine. About half an hour on two cores.

qt_windows_recipe_hash() {
    cat "$root/scripts/lib/qt-windows.sh" "$root/scripts/lib/mingw-w64.cmake" | sha256sum | cut -c1-12
}

qt_windows_cache_dir() {
    echo "${DBSETUP_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/dbsetup}"
}

# Debian's source packages come from the mirror the machine's packages come from: a deb-src
# entry for it is added when apt knows no source of the installed version yet.
qt_windows_ensure_source_entry() {
    local version=$1
    if apt-get source --print-uris "qt6-base=$version" 2>/dev/null | grep -q "\.dsc'"; then
        return
    fi
    local uri codename list=/etc/apt/sources.list.d/dbsetup-deb-src.sources
    uri=$(apt-get download --print-uris qt6-base-dev 2>/dev/null | sed -n "s|^'\(.*\)/pool/.*|\1|p" | head -n1)
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    if [ -z "$uri" ] || [ -z "$codename" ]; then
        echo "Не удалось определить зеркало Debian, с которого установлен Qt." >&2
        return 1
    fi
    echo "Adding source packages of $uri ($codename) to apt: $list"
    printf 'Types: deb-src\nURIs: %s\nSuites: %s %s-updates\nComponents: main\n' \
        "$uri" "$codename" "$codename" | "${as_root[@]}" tee "$list" >/dev/null
    "${as_root[@]}" apt-get update
}

qt_windows_prefix() {
    local version upstream cache prefix work
    version=$(dpkg-query -W -f='${Version}' qt6-base-dev)
    upstream=${version%%+*}
    upstream=${upstream%%-*}
    cache=$(qt_windows_cache_dir)
    prefix=$cache/qt-$upstream-mingw64-$(qt_windows_recipe_hash)
    if [ -f "$prefix/.complete" ]; then
        echo "$prefix"
        return
    fi
    work=$cache/qt-work
    rm -rf "$work" "$prefix"
    mkdir -p "$work"
    qt_windows_ensure_source_entry "$version" >&2
    echo "Building Qt $upstream for Windows into $prefix (once per machine; about 30 minutes)" >&2
    (
        cd "$work"
        apt-get source --download-only "qt6-base=$version" >&2
        dpkg-source -x ./*.dsc src >&2
        # Left out: what the program does not use (network, SQL, D-Bus, printing, OpenGL, ICU,
        # Vulkan), and the tablet events, whose wintab header Debian's source does not carry.
        # With OpenGL off, configure still picks "dynamic OpenGL" unless told no. Direct2D stays
        # on: the Windows platform plugin refers to its DirectWrite font database either way.
        cmake -G Ninja -S src -B build \
            -DCMAKE_TOOLCHAIN_FILE="$root/scripts/lib/mingw-w64.cmake" \
            -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
            -DQT_QMAKE_TARGET_MKSPEC=win32-g++ \
            -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=ON \
            -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
            -DFEATURE_network=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_icu=OFF \
            -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_vulkan=OFF \
            -DFEATURE_opengl=OFF -DINPUT_opengl=no -DFEATURE_tabletevent=OFF \
            -DFEATURE_system_zlib=OFF -DFEATURE_zstd=OFF >&2
        cmake --build build --parallel "$(nproc)" >&2
        cmake --install build >&2
    )
    touch "$prefix/.complete"
    rm -rf "$work"
    echo "$prefix"
}
