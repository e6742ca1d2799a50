# shellcheck shell=bash
# Builds a benchmark program that drives the window in-process. Source it.

# bench_program BUILD_DIR SOURCE OUTPUT: compiles SOURCE like a test of the window (the project's
# flags and headers, the generated form headers, the build's static libraries; Qt's headers as
# system headers) into OUTPUT. Warns when the libraries are older than the sources: the program
# is compiled against today's headers and must agree with them about the layout of classes.
bench_program() {
    local dir=$1 source=$2 output=$3 root lib folder stale uic_include
    root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
    local cxx=${CXX:-c++}
    for tool in pkg-config "$cxx"; do
        command -v "$tool" >/dev/null || { echo "$tool is missing" >&2; return 1; }
    done
    local libs=()
    for lib in app/libdbsetup_appcore batch/libdbsetup_batch session/libdbsetup_session \
        admin/libdbsetup_admin connection/libdbsetup_connection \
        console/libdbsetup_console filestore/libdbsetup_filestore db/libdbsetup_db \
        util/libdbsetup_util platform/libdbsetup_platform; do
        [[ -f $dir/src/$lib.a ]] || { echo "no $dir/src/$lib.a (build first)" >&2; return 1; }
        libs+=("$dir/src/$lib.a")
    done
    stale=$(
        for lib in "${libs[@]}"; do
            folder=$root/src/$(basename "$(dirname "$lib")")
            find "$folder" -type f -newer "$lib"
        done
        find "$root/src" -type f \( -name '*.h' -o -name '*.ui' \) -newer "$dir/src/app/libdbsetup_appcore.a"
    )
    if [[ -n $stale ]]; then
        echo "warning: sources changed since $dir was built ($(head -n 1 <<<"$stale")); build it again" >&2
    fi
    uic_include=$dir/src/app/dbsetup_appcore_autogen/include
    [[ -f $uic_include/ui_SqlQueryTab.h ]] || { echo "no $uic_include/ui_SqlQueryTab.h" >&2; return 1; }
    local qt_cflags qt_libs includes=()
    read -r -a qt_cflags < <(pkg-config --cflags Qt6Widgets Qt6Test Qt6Xml | sed 's/-I/-isystem /g')
    read -r -a qt_libs < <(pkg-config --libs Qt6Widgets Qt6Test Qt6Xml odbc)
    for folder in app session batch admin db util platform filestore console connection; do
        includes+=(-I "$root/src/$folder")
    done
    mkdir -p "$(dirname "$output")"
    "$cxx" -std=c++20 -O2 -fPIC -Wall -Wextra -Wpedantic -Werror -Wshadow -Wold-style-cast \
        -Wconversion -DQT_NO_CAST_FROM_ASCII -DQT_NO_CAST_TO_ASCII -DQT_NO_DEBUG \
        -DQT_NO_NARROWING_CONVERSIONS_IN_CONNECT -DQT_DISABLE_DEPRECATED_UP_TO=0x060400 \
        -I "$uic_include" -I "$root/bench/helpers" "${includes[@]}" "${qt_cflags[@]}" \
        -o "$output" "$source" "${libs[@]}" "${qt_libs[@]}"
}
