#!/usr/bin/env bash
# kez.exe under Wine: an installer made by kez sfx from the real module lists the same
# entries as its archive alone, tests intact, and extracts to the same bytes.
set -u
: "${QUILLO_WINE_RUN:?}" "${QUILLO_WINEPREFIX:?}" "${QUILLO_MODULE:?}" "${QUILLO_KEZ:?}" "${QUILLO_TEST_DATA:?}"
work=$PWD/work/kez_installer
rm -rf "$work"
mkdir -p "$work/tree/文件夹" "$work/out"
printf 'hello\r\n' >"$work/tree/readme.txt"
head -c 100000 /dev/urandom >"$work/tree/文件夹/数据.bin"
: >"$work/tree/empty.txt"
win() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }
kez() { "$QUILLO_WINE_RUN" "$QUILLO_WINEPREFIX" 120 "$QUILLO_KEZ" "$@"; }

failures=0
check() {
  local what=$1
  shift
  if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}

kez create -o "$(win "$work/app.kez")" "$(win "$work/tree")" >/dev/null
kez sfx --module "$(win "$QUILLO_MODULE")" -o "$(win "$work/setup.exe")" --archive "$(win "$work/app.kez")" >/dev/null
check "installer = module + archive" cmp -s "$work/setup.exe" <(cat "$QUILLO_MODULE" "$work/app.kez")
# The listing of the entries (everything after the header lines) is the same.
kez list "$(win "$work/app.kez")" | sed -n '/^Kind/,$p' >"$work/archive.list"
kez list "$(win "$work/setup.exe")" | sed -n '/^Kind/,$p' >"$work/setup.list"
check "same entries listed" cmp -s "$work/archive.list" "$work/setup.list"
check "entries present" grep -q '数据.bin' "$work/setup.list"
kez list "$(win "$work/setup.exe")" | grep -i 'signature' >"$work/offset.txt"
check "archive found behind the module" grep -q "$(stat -c %s "$QUILLO_MODULE")" "$work/offset.txt"
kez test "$(win "$work/setup.exe")" >/dev/null 2>&1
check "installer tests intact" test $? -eq 0
kez extract -C "$(win "$work/out")" "$(win "$work/setup.exe")" >/dev/null 2>&1
check "extract exits 0" test $? -eq 0
check "extracted bytes equal" diff -r "$work/tree" "$work/out/tree"
# A compressed solid installer with a compressed script, run silently by the module.
for i in 1 2 3 4 5; do cat /usr/share/common-licenses/GPL-3 "$work/tree/readme.txt" >"$work/tree/文件夹/text$i.txt"; done
printf 'Title=压缩安装程序\r\nText=说明文字说明文字说明文字说明文字说明文字说明文字\r\n' >"$work/script.txt"
kez sfx --module "$(win "$QUILLO_MODULE")" -o "$(win "$work/solid-setup.exe")" --method lz --level 5 --solid \
  --comment "$(win "$work/script.txt")" "$(win "$work/tree")" >/dev/null
kez list "$(win "$work/solid-setup.exe")" >"$work/solid.list"
check "entries compressed" grep -q ' lz-5 ' "$work/solid.list"
check "entries solid" grep -q 'solid' "$work/solid.list"
check "comment compressed" grep -E -q 'lz-5 .*CMT' "$work/solid.list"
"$QUILLO_WINE_RUN" "$QUILLO_WINEPREFIX" 120 "$work/solid-setup.exe" -s1 "-d$(win "$work/solid-out")"
check "solid installer exits 0" test $? -eq 0
check "solid installer extracted the same bytes" diff -r "$work/tree" "$work/solid-out/tree"
[ $failures -eq 0 ]
