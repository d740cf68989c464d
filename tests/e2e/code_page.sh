#!/usr/bin/env bash
# The saver under a double-byte code page (932, Japanese), named so that its
# path holds a character whose second byte is 0x5C, a backslash's byte: the
# map beside it must still be found and drawn exactly.
source "$(dirname "$0")/lib.sh"

# Wine takes its code page from the Unix locale. A private copy of ja_JP
# (from Debian's locales package) leaves the system's locales alone.
locales="$E2E_TMP/locales"
mkdir -p "$locales"
localedef -i ja_JP -f UTF-8 "$locales/ja_JP.UTF-8" >"$E2E_TMP/localedef.log" 2>&1
if [ ! -f "$locales/ja_JP.UTF-8/LC_CTYPE" ]; then
  cat "$E2E_TMP/localedef.log" >&2
  e2e_check "ja_JP locale made with localedef" no yes
  e2e_finish
  exit
fi
japanese() { LOCPATH="$locales" LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 "$@"; }

codepage=$(japanese wine "$GLMIRE_TOOLS/winprobe.exe" codepage </dev/null 2>/dev/null | tr -d '\r')
e2e_check "Wine runs under code page 932" "$codepage" acp=932

e2e_test_desktop || exit 1
dir="$E2E_TMP/saver"
mkdir -p "$dir"
e2e_picture map "$dir/glmire.bmp" bottom-up 96 64
# 表示 ("display") is 0x95 0x5C 0x8E 0xA6 in Shift-JIS; the file name is UTF-8
# on the Unix side, as Wine expects under this locale.
scr="$dir/表示.scr"
cp "$GLMIRE_BIN/glmire.scr" "$scr"
japanese e2e_start_saver "$scr" /s
if e2e_wait_saver; then
  # The failure screen is never whole (e2e_exact_frame).
  e2e_exact_frame "$dir/shot.xwd" "$dir/glmire.bmp"
  echo "code page 932 (look $E2E_LOOKS): $E2E_VERDICT"
  e2e_check "the map beside 表示.scr is drawn exactly" "$(grep -c 'mismatches=0$' <<<"$E2E_VERDICT")" 1
  xdotool key space
  e2e_wait_exit "$E2E_SAVER" 50
  e2e_check "closes on a key, exit 0" "$E2E_RC" 0
else
  e2e_check "saver window" missing shown
fi

e2e_finish
