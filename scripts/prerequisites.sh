#!/usr/bin/env bash
# What the build and the tests need, in one list, checked for one purpose:
#   run    make run: CMake, a C++ compiler, make, zlib and gettext's msgfmt for the
#          catalog of translated texts; pkg-config and libedit for line editing
#   test   make test: the same, line editing included, GoogleTest, Debian's Python 3 with
#          pytest, openpyxl and odfpy, strace, the ACL and attribute tools, and the locales
#          (the Bulgarian one is generated)
#   windows             make windows: CMake, make, gettext, mingw-w64 with its zlib
#   test-windows        make test-windows: the same, wine, and Python 3 with pytest, openpyxl and odfpy
#   windows-installer   make windows-installer: make windows's, wixl with msitools, mandoc
#   ci     .ci/run and .ci/package: all of these and the packaging tools
# As root on Debian what is missing is installed, after one line that names it. Otherwise
# one line gives the command that installs it and the status is 1, unless all that is
# missing is line editing for `run`: then one more line says so, and the build goes on.
set -euo pipefail

purpose=${1:-}
case $purpose in
run) what="make run" ;;
test) what="make test" ;;
windows | test-windows | windows-installer) what="make $purpose" ;;
ci) what=".ci/run" ;;
*) echo "usage: $0 run|test|windows|test-windows|windows-installer|ci" >&2; exit 2 ;;
esac

missing=() optional=()
need() {  # the purposes it serves ("run?": wanted there, not required), its package, its check
    local purposes=" $1 " package=$2
    shift 2
    case $purposes in
    *" $purpose "*) "$@" >/dev/null 2>&1 || missing+=("$package") ;;
    *" $purpose? "*) "$@" >/dev/null 2>&1 || optional+=("$package") ;;
    esac
}
windows="windows test-windows windows-installer"
need "run test $windows ci" cmake command -v cmake
need "run test ci" g++ command -v g++
need "run test $windows ci" make command -v make
need "run test $windows ci" gettext command -v msgfmt
need "run test ci" zlib1g-dev test -e /usr/include/zlib.h   # workbooks are zip archives
need "run? test ci" pkg-config command -v pkg-config
need "run? test ci" libedit-dev test -e /usr/include/histedit.h
need "test ci" libgtest-dev test -e /usr/include/gtest/gtest.h
need "test test-windows ci" python3-pytest /usr/bin/python3 -c 'import pytest'
need "test test-windows ci" python3-openpyxl /usr/bin/python3 -c 'import openpyxl'  # reads exported workbooks
need "test test-windows ci" python3-odf /usr/bin/python3 -c 'import odf'  # reads exported spreadsheets
need "test ci" strace command -v strace    # a signal delivered in the middle of a write
need "test ci" acl command -v setfacl      # access control lists kept by a write
need "test ci" attr command -v getfattr    # extended attributes kept by a write
need "test test-windows ci" locales command -v localedef  # sessions in Bulgarian
need "windows-installer ci" mandoc command -v mandoc
need ci groff-base command -v groff
need ci man-db command -v man
need ci dpkg-dev command -v dpkg-shlibdeps
need ci gzip command -v gzip
need ci lintian command -v lintian
need "$windows ci" g++-mingw-w64-x86-64 command -v x86_64-w64-mingw32-g++-posix
need "$windows ci" libz-mingw-w64-dev test -e /usr/x86_64-w64-mingw32/include/zlib.h
need "test-windows ci" wine64 test -x /usr/lib/wine/wine64
need "windows-installer ci" wixl command -v wixl
need "windows-installer ci" msitools command -v msibuild

# The sessions in Bulgarian need its UTF-8 locale, made once by root.
bulgarian() {
    case $purpose in test | test-windows | ci) ;; *) return 0 ;; esac
    ! locale -a 2>/dev/null | grep -qix 'bg_BG\.utf-\?8' || return 0
    if [ "$(id -u)" -eq 0 ] && command -v localedef >/dev/null; then
        echo "$what: generating the locale bg_BG.UTF-8"
        localedef -i bg_BG -f UTF-8 bg_BG.UTF-8
    else
        echo "$what needs: sudo localedef -i bg_BG -f UTF-8 bg_BG.UTF-8" >&2
        return 1
    fi
}

packages=("${missing[@]}" "${optional[@]}")
[ ${#packages[@]} -gt 0 ] || { bulgarian; exit; }

# apt-get's own output is shown only when it fails; the package lists are fetched
# when there are none, or when they are too old to install from.
install() {
    local log status=0
    log=$(mktemp)
    export DEBIAN_FRONTEND=noninteractive
    local get=(apt-get install -y -q --no-install-recommends "${packages[@]}")
    if ! compgen -G '/var/lib/apt/lists/*_Packages*' >/dev/null || ! "${get[@]}" >"$log" 2>&1; then
        { apt-get update -q && "${get[@]}"; } >>"$log" 2>&1 || status=$?
    fi
    [ $status -eq 0 ] || cat "$log" >&2
    rm -f "$log"
    return $status
}

if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null; then
    echo "$what: installing ${packages[*]}"
    install && { bulgarian; exit; }
    echo "$what: apt-get could not install ${packages[*]}" >&2
else
    echo "$what needs: sudo apt-get install ${packages[*]}" >&2
fi
[ ${#missing[@]} -eq 0 ] || exit 1
echo "$what: line editing is off, for want of ${optional[*]}" >&2
