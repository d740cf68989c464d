#!/usr/bin/env bash
# Builds the Windows release zip (glmire.scr, glmire.bmp, mkshademap.exe and a
# readme for Windows users, and the 64-bit saver with its map in x64/), writes
# its SHA-256 beside it in sha256sum's form, and prints where it wrote it and,
# last, that SHA-256. The same commit gives the same zip in any folder and at
# any time; a tree with changes that are not committed still builds, and says
# that its zip is not one.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake --preset windows-x64 >/dev/null
cmake --build --preset windows-x64 --target glmire shade_maps >/dev/null
cmake --preset windows -DGLMIRE_X64_BIN="$PWD/build/windows-x64/bin" >/dev/null
cmake --build --preset windows >/dev/null
cmake --build --preset windows --target release_zip >/dev/null
cd build/windows/package
zip=$(ls glowmire-*-win32.zip)
sha256sum "$zip" >"$zip.sha256"
echo "Wrote build/windows/package/$zip:"
/usr/bin/python3 -c "import sys, zipfile; [print('  %8d  %s' % (i.file_size, i.filename)) for i in zipfile.ZipFile(sys.argv[1]).infolist()]" "$zip"
echo "and its SHA-256 in build/windows/package/$zip.sha256."
if ! changes=$(git status --porcelain 2>/dev/null); then
  echo "NOT REPRODUCIBLE from a commit: this is no git checkout (dated from SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-})."
elif [ -n "$changes" ]; then
  echo "NOT REPRODUCIBLE: the tree has changes no commit holds, so no checkout gives this zip:"
  sed 's/^/  /' <<<"$changes"
elif [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
  echo "Dated from SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH, not from commit $(git rev-parse --short HEAD)."
else
  echo "Built from commit $(git rev-parse HEAD)."
fi
cut -d' ' -f1 "$zip.sha256"
