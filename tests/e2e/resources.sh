#!/usr/bin/env bash
# The resources inside the built glmire.scr, read back with the toolchain's
# resource decompiler: the about dialog exactly, the description string, the
# 16-colour icon, the DPI-aware manifest and the version resource
# (cmake/loader_view.py checks the latter two field by field as the loader
# reads them).
# Usage: resources.sh <windres> <glmire.scr>
set -u
windres=$1
scr=$2
passed=0
failed=0

check() {  # check <what> <actual> <expected>
  if [ "$2" = "$3" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    printf 'FAIL: %s:\n--- got\n%s\n--- expected\n%s\n' "$1" "$2" "$3"
  fi
}

rc=$("$windres" -i "$scr" -O rc) || { echo "FAIL: $windres cannot read $scr"; exit 1; }

# One resource's text: from its header comment to the next one.
resource() {  # resource <type comment> <name>
  awk -v type="/* Type: $1" -v name="   Name: $2.  */" '
    index($0, "/* Type: ") == 1 { on = ($0 == type); named = 0; next }
    on && $0 == name { named = 1; next }
    on && named && $0 != "" { print }' <<<"$rc"
}

check "dialog 2003" "$(resource dialog 2003)" \
'2003 DIALOG 182, 149, 248, 177
STYLE 0x80c808c0
CAPTION "About Glowmire Screensaver"
FONT 8, "MS Sans Serif"
BEGIN
  CONTROL "&Test", 1000, "BUTTON", 0x40010000, 155, 155, 40, 14
  CONTROL "OK", 1, "BUTTON", 0x50010001, 200, 155, 40, 14
  CONTROL "", 1002, "EDIT", 0x50a10844, 8, 8, 232, 141
END'

check "string 1" "$(resource stringtable 1 | grep -E '^ +1,')" '  1, "BMP Glowmire"'
check "no other strings" "$(resource stringtable 1 | grep -cE '^ +[0-9]+,')" 1

# The group names one image: 32 x 32, 16 colours, 1 plane, 4 bits, icon 1.
group=$(resource "group icon" 100)
check "icon group 100: one image" "$(grep -c 'Element no' <<<"$group")" 1
check "icon group 100: 32x32, 16 colours, 4 bits, image 1" \
  "$(grep 'Element no 1' <<<"$group" | sed 's/, *0x[0-9a-fA-F]*L,/, size,/; s/\t*\/\*.*//')" \
  '    "\040\040\020\000", 1, 4, size, 1'
check "icon image 1" "$(resource icon 1 | grep -c '^1 3 /\* RT_ICON \*/')" 1

manifest=$(resource 24 1 | sed -n 's/^ *"\(.*\)\\n"$/\1/p' | sed 's/""/"/g')
check "manifest present" "$(resource 24 1 | head -1)" '1 24 /* RT_MANIFEST */'
check "manifest: aware of each monitor's DPI, read by Vista to 8.1" \
  "$(grep -c '<dpiAware [^>]*>true/pm</dpiAware>' <<<"$manifest")" 1
check "manifest: per-monitor v2, read by Windows 10 and later" \
  "$(grep -c '<dpiAwareness [^>]*>PerMonitorV2, PerMonitor</dpiAwareness>' <<<"$manifest")" 1
check "manifest: the 2005 and 2016 windowsSettings namespaces" \
  "$(grep -c -e 'xmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings"' \
       -e 'xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings"' <<<"$manifest")" 2
check "manifest: no dependencies" "$(grep -ci 'dependency\|Common-Controls' <<<"$manifest")" 0
check "manifest: well-formed" \
  "$(python3 -c 'import sys, xml.dom.minidom; xml.dom.minidom.parseString(sys.stdin.read()); print("ok")' \
     <<<"$manifest" 2>&1)" ok

check "resource types" "$(grep -o '^/\* Type: [a-z 0-9]*' <<<"$rc" | sort | tr '\n' ';')" \
  "/* Type: 24;/* Type: dialog;/* Type: group icon;/* Type: icon;/* Type: stringtable;/* Type: version;"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
