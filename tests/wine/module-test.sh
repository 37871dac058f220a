#!/usr/bin/env bash
# One test of the module under Wine: module-test.sh CASE
# The installer under test is the module followed by a stored archive. driver.exe starts
# it, watches and presses its windows, and reports; this script checks the report, the
# exit code and the destination.
set -u
name=$1
: "${QUILLO_WINE_RUN:?}" "${QUILLO_WINEPREFIX:?}" "${QUILLO_MODULE:?}" "${QUILLO_DRIVER:?}" "${QUILLO_TEST_DATA:?}"

# Set to 1 once the module's extraction run writes the archive's files: the tests then
# also check the extracted tree and the log lines.
EXTRACTION_READY=${QUILLO_EXTRACTION_READY:-1}

CAPTION='Quillo 自解压文件'
work=$PWD/work/$name
rm -rf "$work"
mkdir -p "$work"
cd "$work"

win() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }

setup=$work/setup.exe
cat "$QUILLO_MODULE" "$QUILLO_TEST_DATA/module/stored_tree.kez" >"$setup"
export QUILLO_SFX_LOG
QUILLO_SFX_LOG=$(win "$work/log.txt")

failures=0
check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}
has_line() { grep -qxF -- "$1" "$work/driver.out"; }
has_match() { grep -qE -- "$1" "$work/driver.out"; }
no_match() { ! grep -qE -- "$1" "$work/driver.out"; }

drive() {
  "$QUILLO_WINE_RUN" "$QUILLO_WINEPREFIX" 200 "$QUILLO_DRIVER" "$@" >"$work/driver.out" 2>"$work/driver.err"
  local rc=$?
  echo "--- driver report"
  cat "$work/driver.out"
  return $rc
}

no_probe_left() { ! ls "$1" 2>/dev/null | grep -q '^__tmp_kez_sfx_access_check_'; }

# The files of the archive, once extraction writes them.
check_tree() {
  local dest=$1
  [ "$EXTRACTION_READY" = 1 ] || { echo "note extraction not checked (placeholder run)"; return 0; }
  check "top.bin extracted" test "$(stat -c %s "$dest/top.bin" 2>/dev/null)" = 65537
  check "nested file extracted" test -f "$dest/docs/deep/er/leaf.bin"
  check "empty folder extracted" test -d "$dest/empty_dir"
  check "log file names the files" grep -q '正在解压 .*top.bin' "$work/log.txt"
}

case $name in
  silent_no_window)
    dest=$work/out/silent
    drive start "\"$(win "$setup")\" -s1 \"-d$(win "$dest")\"" no-window 60000 exit
    check "exit code 0" has_line "exit 0"
    check "no window shown" has_line "no-window ok"
    check "destination created" test -d "$dest"
    check "access probe removed" no_probe_left "$dest"
    check_tree "$dest"
    ;;

  silent2_closes_itself)
    dest=$work/out/s2
    drive start "\"$(win "$setup")\" -s2 \"-d$(win "$dest")\"" exit 60000
    check "closes by itself with 0" has_line "exit 0"
    check "destination created" test -d "$dest"
    check_tree "$dest"
    ;;

  silent2_unusable_destination)
    # An elevated instance (-el) at level 2 with a destination on a drive that does not
    # exist: the dialog is shown with the field disabled, the error box names the folder,
    # and the exit code is 1. No further instance is started.
    drive start "\"$(win "$setup")\" -el -s2 -dQ:\\nowhere\\app" dialog "$CAPTION" controls \
      msgbox 错误 answer 1 exit 60000
    check "destination field disabled" has_match '^control id=101 class=ComboBox enabled=0 .*text=Q:\\\\nowhere\\\\app$'
    check "browse still enabled" has_match '^control id=102 .*enabled=1'
    check "error box in this process" has_match '^msgbox own=1 text="Q:\\\\nowhere\\\\app"\\n文件夹无法访问$'
    check "exit code 1" has_line "exit 1"
    ;;

  interactive_install)
    dest=$work/chosen/folder
    drive start "\"$(win "$setup")\"" dialog "$CAPTION" controls set 101 "$(win "$dest")" text 101 progress \
      press 1 exit 60000
    check "picture control" has_match '^control id=105 class=Static enabled=1 visible=1 text=$'
    check "destination label" has_match '^control id=-1 class=Static .* text=目标文件夹\(&D\)$'
    check "destination shows the current folder" has_line \
      "control id=101 class=ComboBox enabled=1 visible=1 text=$(win "$work" | sed 's/\\/\\\\/g')"
    check "browse button" has_match '^control id=102 class=Button enabled=1 visible=1 text=浏览\(&W\)\.\.\.$'
    check "text pane is a rich-edit control" has_match '^control id=103 class=(RichEdit|RICHEDIT|RichEdit20A|RICHEDIT20A) enabled=1 visible=1 '
    check "introduction shown" has_match '^control id=103 .*text=单击 安装 按钮开始解压。'
    check "progress label" has_match '^control id=-1 class=Static .* text=安装进度$'
    check "progress bar" has_match '^control id=104 class=msctls_progress32 '
    check "install button" has_match '^control id=1 class=Button enabled=1 visible=1 text=安装$'
    check "cancel button" has_match '^control id=2 class=Button enabled=1 visible=1 text=取消$'
    check "ten controls" test "$(grep -c '^control ' "$work/driver.out")" = 10
    check "progress starts at 0" has_line "progress 0"
    check "exit code 0" has_line "exit 0"
    check "typed destination created" test -d "$dest"
    check "access probe removed" no_probe_left "$dest"
    check_tree "$dest"
    ;;

  browse_cancelled)
    # Browse opens the system's folder browser (Wine names it 选择文件夹) with message
    # 100 as its title text; cancelling it leaves the destination as it was.
    drive start "\"$(win "$setup")\" -dC:\\kept" dialog "$CAPTION" press 102 dialog 选择文件夹 controls press 2 \
      dialog "$CAPTION" text 101 press 2 exit 60000
    check "browser shows message 100" has_match '^control id=.* text=选择目标文件夹$'
    check "destination unchanged" has_line 'text id=101 text=C:\\kept'
    check "exit code 255" has_line "exit 255"
    ;;

  cancel_before_install)
    drive start "\"$(win "$setup")\"" dialog "$CAPTION" press 2 exit 60000
    check "exit code 255" has_line "exit 255"
    check "nothing extracted" test ! -e "$work/top.bin"
    ;;

  unwritable_destination)
    # Q: does not exist: the access test fails with "path not found", so the module
    # starts itself again through "runas". Wine may start that instance (which then
    # fails the same way and shows the error box itself) or refuse the verb (then this
    # instance shows the box and ends with 1).
    drive start "\"$(win "$setup")\" -s1 -dQ:\\nowhere\\app -pSecret \"-sp/quiet x\"" msgbox 错误 60000 answer 1 \
      exit 90000
    if has_match '^msgbox own=0 '; then
      echo "note the elevated instance was started"
      check "re-launch command line" has_match \
        '^other-process cmdline=.* -el -s2 "-dQ:\\\\nowhere\\\\app" "-pSecret" "-sp/quiet x"$'
      check "error box of the elevated instance" has_match '^msgbox own=0 text="Q:\\\\nowhere\\\\app"\\n文件夹无法访问$'
      check "this instance ends with 0 after waiting" has_line "exit 0"
    else
      echo "note the re-launch was refused"
      check "error box" has_match '^msgbox own=1 text="Q:\\\\nowhere\\\\app"\\n文件夹无法访问$'
      check "exit code 1" has_line "exit 1"
    fi
    ;;

  crc_error_close)
    # A stored file with a wrong CRC: the error line in the log pane and the log file,
    # the closing message 132, then the dialog waits with Close; exit code 3.
    if [ "$EXTRACTION_READY" != 1 ]; then
      echo "note skipped: needs the extraction run"
      exit 0
    fi
    cat "$QUILLO_MODULE" "$QUILLO_TEST_DATA/module/data_crc_error.kez" >"$setup"
    dest=$work/out/crc
    drive start "\"$(win "$setup")\" -s1 \"-d$(win "$dest")\"" msgbox 错误 60000 answer 1 dialog "$CAPTION" \
      text 1 wait-text 103 "CRC 失败" press 1 exit 60000
    check "closing message 132" has_match '^msgbox own=1 text=某些安装文件被破坏。\\n请下载一个最新版本或重试安装程序$'
    check "install became close" has_line "text id=1 text=关闭"
    check "error line in the pane" has_match '^text id=103 text=.*CRC 失败。'
    check "error line in the log file" grep -q 'CRC 失败。' "$work/log.txt"
    check "exit code 3" has_line "exit 3"
    check "good files kept" test -f "$dest/good.txt" -a -f "$dest/after.txt"
    ;;

  message_block)
    # A message block before the archive translates the dialog texts and the error box
    # caption and widens the start dialog to 150 %.
    drive start "\"$(win "$setup")\"" dialog "$CAPTION" rect press 2 exit 60000
    base_width=$(sed -n 's/^rect x=.* w=\([0-9]*\) h=.*/\1/p' "$work/driver.out")
    python3 - "$work/block.txt" <<'PY'
import sys, zlib
def key(*parts):
    return "%08x" % (zlib.crc32(b"".join(p.encode("gbk") for p in parts)) & 0xFFFFFFFF)
records = [
    (key("$", "STARTDLG", "Quillo 自解压文件"), "Quillo Selbstentpacker"),
    (key("$", "STARTDLG"), "150*100"),
    (key("$", "STARTDLG", "安装"), "Installieren"),
    (key("s", "错误"), "Fehler"),
]
with open(sys.argv[1], "wb") as f:
    f.write(b"***messages** test block\r\n")
    for k, text in records:
        f.write(('%s="%s"\r\n' % (k, text)).encode("gbk"))
    f.write(b"\0")
PY
    cat "$QUILLO_MODULE" "$work/block.txt" "$QUILLO_TEST_DATA/module/stored_tree.kez" >"$setup"
    drive start "\"$(win "$setup")\" -el -s2 -dQ:\\nowhere" dialog "Quillo Selbstentpacker" rect controls \
      msgbox Fehler answer 1 exit 60000
    width=$(sed -n 's/^rect x=.* w=\([0-9]*\) h=.*/\1/p' "$work/driver.out")
    echo "width $base_width -> $width"
    check "translated button" has_match '^control id=1 class=Button .*text=Installieren$'
    check "untranslated texts stay" has_match '^control id=2 class=Button .*text=取消$'
    check "dialog 1.5 times as wide" test "$((width * 100 / base_width))" -ge 140 -a "$((width * 100 / base_width))" -le 155
    check "translated error caption" has_match '^msgbox own=1 '
    check "exit code 1" has_line "exit 1"
    ;;

  start_dialog_screenshot)
    out=${QUILLO_SCREENSHOTS:-$work}
    mkdir -p "$out"
    rm -f "$work/ready" "$work/done"
    # A display of its own, so that the picture shows nothing but this dialog.
    unset DISPLAY
    SHOT="$out/startdlg.png" xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
      "$@" &
      driver=$!
      for _ in $(seq 1 1200); do [ -f ready ] && break; sleep 0.1; done
      if [ -f ready ]; then
        geometry=$(sed -n "s/^rect x=\(-\?[0-9]*\) y=\(-\?[0-9]*\) w=\([0-9]*\) h=\([0-9]*\)$/\3x\4+\1+\2/p" driver.out)
        import -window root -crop "$geometry" +repage "$SHOT" && echo "screenshot $SHOT"
      fi
      touch done
      wait $driver' _ \
      "$QUILLO_WINE_RUN" "$QUILLO_WINEPREFIX" 200 "$QUILLO_DRIVER" start "\"$(win "$setup")\"" dialog "$CAPTION" \
      sleep 1500 rect touch ready wait-file done press 2 exit 60000 >"$work/driver.out" 2>"$work/driver.err"
    cat "$work/driver.out"
    check "dialog found" has_match '^rect '
    check "cancelled with 255" has_line "exit 255"
    check "screenshot saved" test -s "$out/startdlg.png"
    ;;

  *)
    echo "unknown case $name"
    exit 2
    ;;
esac

if [ -s "$work/driver.err" ]; then
  echo "--- driver errors"
  head -20 "$work/driver.err"
fi
if has_match '^fail '; then
  echo "FAIL driver: $(grep '^fail ' "$work/driver.out")"
  failures=$((failures + 1))
fi
[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "all checks passed"
