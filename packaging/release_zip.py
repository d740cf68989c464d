#!/usr/bin/env python3
"""Zips a staged release folder so that the same files give the same bytes.

Every entry is dated DATE (seconds since 1970, UTC), entries come in the order
of their paths, programs (.scr, .exe) and folders get 755 and other files 644,
and nothing of the building machine (owner, local time, umask) goes in. The
folder's name is the entries' first path part; its subfolders get entries
of their own, it does not.

  release_zip.py DATE FOLDER ZIP
"""
import os
import sys
import time
import zipfile


def entries(folder):
    """(name in the zip, file or None for a folder), sorted by name."""
    top = os.path.basename(os.path.normpath(folder))
    found = []
    for parent, folders, files in os.walk(folder):
        inside = os.path.relpath(parent, folder)
        for name in folders:
            found.append((os.path.normpath(os.path.join(top, inside, name)) + "/", None))
        for name in files:
            path = os.path.join(parent, name)
            found.append((os.path.normpath(os.path.join(top, inside, name)), path))
    return sorted(found)


def main(date, folder, zip_path):
    # Zip dates are local date and time without a zone; UTC is the one every machine agrees on.
    date_time = time.gmtime(int(date))[:6]
    with zipfile.ZipFile(zip_path, "w") as archive:
        for name, path in entries(folder):
            entry = zipfile.ZipInfo(name, date_time)
            entry.create_system = 3  # Unix: the permissions below are read from here
            if path is None:
                entry.external_attr = (0o40755 << 16) | 0x10  # and the MS-DOS folder bit
                archive.writestr(entry, b"")
                continue
            program = name.lower().endswith((".scr", ".exe"))
            entry.external_attr = (0o100755 if program else 0o100644) << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            with open(path, "rb") as source:
                archive.writestr(entry, source.read(), compresslevel=9)


if __name__ == "__main__":
    main(*sys.argv[1:])
