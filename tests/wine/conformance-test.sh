#!/usr/bin/env bash
# One conformance case through the real module under Wine:
#   conformance-test.sh CASE_DIR
# The installer is the module followed by the case's archive, run with the case's
# switches; driver.exe closes the final message box and the dialog when the case has
# one. check_case.py compares exit code, log and destination with the case.
set -u
case_dir=$1
: "${QUILLO_WINE_RUN:?}" "${QUILLO_WINEPREFIX:?}" "${QUILLO_MODULE:?}" "${QUILLO_DRIVER:?}"
name=$(basename "$case_dir")
work=$PWD/work/conformance/$name
rm -rf "$work"
mkdir -p "$work"
dest=$work/dest
mkdir -p "$dest"
[ -d "$case_dir/pre" ] && cp -a "$case_dir/pre/." "$dest/"

win() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }

module_file=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["module"])' "$case_dir/case.json")
setup=$work/setup.exe
cat "$QUILLO_MODULE" "$case_dir/$module_file" >"$setup"
# Further volumes of a set sit beside the installer under their own names.
for f in "$case_dir"/*; do
  b=$(basename "$f")
  case $b in case.json|expected|pre|"$module_file") ;; *) cp -a "$f" "$work/" ;; esac
done

args=$(python3 - "$case_dir/case.json" "$(win "$dest")" <<'PY'
import json, sys
c = json.load(open(sys.argv[1]))
print(" ".join('"%s"' % s.replace("{dest}", sys.argv[2]) for s in c["switches"]))
PY
)
final=$(python3 -c 'import json,sys; v=json.load(open(sys.argv[1]))["final_dialog"]; print("" if v is None else v)' "$case_dir/case.json")

export TZ=UTC
export QUILLO_SFX_LOG
QUILLO_SFX_LOG=$(win "$work/log.txt")
steps=(start "\"$(win "$setup")\" $args")
if [ -n "$final" ]; then
  steps+=(msgbox 错误 120000 answer 1 dialog 'Quillo 自解压文件' 30000 press 1)
fi
steps+=(exit 120000)
"$QUILLO_WINE_RUN" "$QUILLO_WINEPREFIX" 200 "$QUILLO_DRIVER" "${steps[@]}" >"$work/driver.out" 2>"$work/driver.err"
echo "--- driver report"
cat "$work/driver.out"
echo "--- log"
cat "$work/log.txt" 2>/dev/null
exec python3 "$(dirname "$0")/check_case.py" "$case_dir" "$dest" "$work/driver.out" "$work/log.txt" \
  "$(dirname "$0")/../../src/ui/messages.def"
