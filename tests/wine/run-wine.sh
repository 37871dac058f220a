#!/usr/bin/env bash
# Runs a Windows program under Wine for a test:
#   run-wine.sh PREFIX TIMEOUT PROGRAM [ARGS...]
# The Wine prefix is created once per build tree (about 15 s) and reused. The locale is
# Simplified Chinese, so the ANSI code page is 936. Without a display an Xvfb server is
# started for the run.
set -u
prefix=$1; shift
limit=$1; shift

export WINEPREFIX="$prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8

with_display() {
  if [ -n "${DISPLAY:-}" ]; then "$@"; else xvfb-run -a -s "-screen 0 1280x1024x24" "$@"; fi
}

if [ ! -f "$prefix/.quillo-ready" ]; then
  mkdir -p "$(dirname "$prefix")"
  (
    flock 9
    if [ ! -f "$prefix/.quillo-ready" ]; then
      with_display sh -c 'wineboot -i >/dev/null 2>&1; wineserver -w' && touch "$prefix/.quillo-ready"
    fi
  ) 9>"$prefix.lock"
fi

# Dialog fonts: the resources ask for 宋体 (SimSun); the prefix maps it to an installed
# CJK font so that the Chinese texts render.
if [ ! -f "$prefix/.quillo-fonts" ]; then
  (
    flock 9
    if [ ! -f "$prefix/.quillo-fonts" ]; then
      key='HKCU\Software\Wine\Fonts\Replacements'
      with_display sh -c "wine reg add '$key' /v '宋体' /d 'WenQuanYi Micro Hei' /f >/dev/null 2>&1;
        wine reg add '$key' /v 'SimSun' /d 'WenQuanYi Micro Hei' /f >/dev/null 2>&1; wineserver -w" &&
        touch "$prefix/.quillo-fonts"
    fi
  ) 9>"$prefix.lock"
fi

with_display timeout --kill-after=10 "$limit" wine "$@"
