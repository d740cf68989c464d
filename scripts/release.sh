#!/usr/bin/env bash
# Builds the Windows release zip (glmire.scr, glmire.bmp, mkshademap.exe and a
# readme for Windows users, and the 64-bit saver with its map in x64/) and
# says where it wrote it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake --preset windows-x64 >/dev/null
cmake --build --preset windows-x64 --target glmire shade_maps >/dev/null
cmake --preset windows -DGLMIRE_X64_BIN="$PWD/build/windows-x64/bin" >/dev/null
cmake --build --preset windows >/dev/null
(cd build/windows && cpack -G ZIP >/dev/null)
zip=$(ls build/windows/package/glowmire-*-win32.zip)
echo "Wrote $zip:"
/usr/bin/python3 -c "import sys, zipfile; [print('  %8d  %s' % (i.file_size, i.filename)) for i in zipfile.ZipFile(sys.argv[1]).infolist()]" "$zip"
