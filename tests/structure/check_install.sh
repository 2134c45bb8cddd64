#!/usr/bin/env bash
# `cmake --install` into a temporary prefix lays things out as a Debian
# system expects them, and what it installs works from there alone: a host
# compiles against the headers pkg-config names, and the installed
# selvo-host runs on the installed module (the dynamic loader's record shows
# which file it opened), not on the build folder's, and says so when the
# installed module is missing. The module carries a versioned SONAME, and
# the public headers refuse a C compiler with a clear line.
# Usage: check_install.sh CMAKE BUILD_DIR SOURCE_DIR CXX CC BINDIR LIBDIR INCLUDEDIR UNITDIR SONAME
# (the install folders as configured, relative to the prefix; SONAME the
# module's expected one).
set -uo pipefail
cmake=$1 build=$2 source=$3 cxx=$4 cc=$5 bindir=$6 libdir=$7 includedir=$8 unitdir=$9 soname=${10}
for dir in "$bindir" "$libdir" "$includedir" "$unitdir"; do
  if [[ $dir == /* ]]; then
    echo "install folder $dir is absolute: it cannot be moved into a temporary prefix"
    exit 1
  fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

if ! "$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1; then
  cat "$work/install.log"
  echo "FAIL: cmake --install"
  exit 1
fi

program=$prefix/$bindir/selvo-host
module=$prefix/$libdir/$soname
devlink=$prefix/$libdir/libselvopayments.so
pcfile=$prefix/$libdir/pkgconfig/selvopayments.pc
unit=$prefix/$unitdir/selvo-till.service
[ -x "$program" ] || fail "no program at $program"
[ -f "$module" ] || fail "no module at $module"
# The file the host loads carries its SONAME; the link for linking against
# it reaches the same file.
recorded=$(readelf -d "$module" 2>/dev/null | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[ "$recorded" = "$soname" ] || fail "the module's SONAME is '${recorded:-none}', not $soname"
[[ $soname =~ ^libselvopayments\.so\.[0-9]+$ ]] || fail "SONAME $soname carries no version"
[ "$(readlink -f "$devlink")" = "$(readlink -f "$module")" ] || fail "$devlink does not lead to $module"
for header in "$source"/include/selvo/*.h; do
  cmp -s "$header" "$prefix/$includedir/selvo/${header##*/}" || fail "header ${header##*/} not installed as it is"
done
for file in "$pcfile" "$unit"; do
  if [ ! -f "$file" ]; then
    fail "no $file"
  elif grep -n '@[A-Za-z_]*@' "$file"; then
    fail "$file keeps template variables"
  fi
done
# The installed program must not reach into the build folder for libraries.
if readelf -d "$program" | grep -E 'R(UN)?PATH' | grep -qF "$build"; then
  fail "the installed program's library path names the build folder"
fi

# The unit starts the installed program.
grep -qxF "ExecStart=$program serve --db \${SELVO_DB} --listen \${SELVO_LISTEN} --journal \${SELVO_JOURNAL} \$SELVO_OPTIONS" "$unit" ||
  fail "the unit's ExecStart is not the installed selvo-host serve: $(grep ExecStart= "$unit")"
# systemd's own reading of it: a mistyped key or value is named by line,
# and the manual page its Documentation= names is the one installed (when
# the build made the pages).
if command -v systemd-analyze >/dev/null; then
  man=yes
  [ -f "$prefix/share/man/man1/selvo-host-serve.1.gz" ] || man=no
  if ! verified=$(MANPATH=$prefix/share/man systemd-analyze verify --man=$man "$unit" 2>&1) || grep -qF "$unit:" <<<"$verified"; then
    fail "systemd-analyze verify: $verified"
  fi
fi

# pkg-config names the installed folders, and a host compiles with them.
export PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig
if flags=$(pkg-config --cflags --libs selvopayments); then
  read -ra words <<<"$flags"
  [ "${words[*]}" = "-I$prefix/$includedir -L$prefix/$libdir -lselvopayments" ] ||
    fail "pkg-config gives '${words[*]}'"
  printf '#include "selvo/SelvoPaymentsTypes.h"\nint main() {\n  decltype(&::CalcDiscount) calc = nullptr;\n  return calc != nullptr;\n}\n' \
    >"$work/host.cpp"
  read -ra cflags <<<"$(pkg-config --cflags selvopayments)"
  # -H lists the headers read: the public one must come from the install.
  if ! "$cxx" -std=c++20 -fsyntax-only -Wall -Wextra -Werror -H "${cflags[@]}" "$work/host.cpp" 2>"$work/cxx.log"; then
    cat "$work/cxx.log"
    fail "a host including selvo/SelvoPaymentsTypes.h does not compile with the pkg-config flags"
  elif ! grep -qxF ". $prefix/$includedir/selvo/SelvoPaymentsTypes.h" "$work/cxx.log"; then
    fail "the compiler read SelvoPaymentsTypes.h from elsewhere: $(grep SelvoPaymentsTypes.h "$work/cxx.log")"
  fi
  # Each header on its own: from C++ it compiles, from C it stops at once
  # with the line that says it is C++ (and the header's name).
  for header in "$prefix/$includedir"/selvo/*.h; do
    name=selvo/${header##*/}
    printf '#include "%s"\n' "$name" >"$work/one.cpp"
    cp "$work/one.cpp" "$work/one.c"
    "$cxx" -std=c++20 -fsyntax-only -Wall -Wextra -Werror "${cflags[@]}" "$work/one.cpp" 2>"$work/one.log" ||
      fail "$name does not compile on its own from C++: $(head -n 3 "$work/one.log")"
    if "$cc" -fsyntax-only "${cflags[@]}" "$work/one.c" 2>"$work/one.log"; then
      fail "$name compiles as C without the C++ line"
    else
      first=$(grep -m 1 -E 'error' "$work/one.log")
      [[ $first == *"#error \"$name is a C++ header"* ]] || fail "C compile of $name: first error is '$first'"
    fi
  done
  [ "$(pkg-config --variable=module selvopayments)" = "$module" ] ||
    fail "pkg-config's module is '$(pkg-config --variable=module selvopayments)', not $module"
else
  fail "pkg-config does not find selvopayments in $PKG_CONFIG_PATH"
fi

# The installed program runs on the installed module, with no $SELVO_MODULE.
mkdir -p "$work/windir"
run() { env -u SELVO_MODULE WINDIR="$work/windir" XDG_DATA_HOME="$work/data" "$program" "$@"; }
run --help >"$work/help.out" 2>&1 && grep -q 'selvo-host payments' "$work/help.out" ||
  fail "selvo-host --help: $(cat "$work/help.out")"
if ! run init --db "$work/shop.db" >"$work/init.out" 2>&1; then
  fail "selvo-host init: $(cat "$work/init.out")"
else
  LD_DEBUG=files LD_DEBUG_OUTPUT=$work/loader run payments --db "$work/shop.db" >"$work/payments.out" 2>&1 ||
    fail "selvo-host payments: $(cat "$work/payments.out")"
  grep -q 'Виды оплаты (9)' "$work/payments.out" && grep -q 'дисконтная карта' "$work/payments.out" ||
    fail "selvo-host payments lists no payment types: $(cat "$work/payments.out")"
  loaded=$(cat "$work"/loader.* | grep -o 'file=[^ ]*libselvopayments\.so[.0-9]* ' | sort -u)
  [ "$loaded" = "file=$module " ] || fail "the installed program loaded the module from '${loaded:-nowhere}', not $module"

  # Without its module the installed program says so, naming the file, and
  # loads no other (the build folder's is still there).
  rm -f "$prefix/$libdir"/libselvopayments.so*
  rm -f "$work"/loader.*
  if LD_DEBUG=files LD_DEBUG_OUTPUT=$work/loader run payments --db "$work/shop.db" >"$work/missing.out" 2>"$work/missing.err"; then
    fail "selvo-host payments ran without its module: $(cat "$work/missing.out")"
  fi
  expected="selvo-host: Модуль не установлен: нет файла \"$module\""
  [ "$(cat "$work/missing.err")" = "$expected" ] ||
    fail "without its module selvo-host said '$(cat "$work/missing.err")', not '$expected'"
  [ ! -s "$work/missing.out" ] || fail "without its module selvo-host wrote '$(cat "$work/missing.out")'"
  if cat "$work"/loader.* 2>/dev/null | grep -q 'file=[^ ]*libselvopayments'; then
    fail "without its module selvo-host loaded $(cat "$work"/loader.* | grep -o 'file=[^ ]*libselvopayments[^ ]*' | sort -u)"
  fi
fi

if [ $failures -ne 0 ]; then
  echo "--- cmake --install:"
  cat "$work/install.log"
  exit 1
fi
echo "installed into a temporary prefix: $(cd "$prefix" && find . -type f | sort | tr '\n' ' ')"
echo "the installed selvo-host listed the payment types on $module"
