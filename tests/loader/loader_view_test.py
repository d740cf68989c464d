#!/usr/bin/env python3
"""Each check of cmake/loader_view.py fails on an image broken in its field.

Takes the built glmire.scr, breaks one field of a copy at a time (through the
offsets the reader found) and expects the check to name that field; the
unbroken image must pass, or a broken one failing would prove nothing.

  loader_view_test.py IMAGE TEMPLATE ARCH VERSION DESCRIPTION PRODUCT
"""
import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "cmake"))
import loader_view  # noqa: E402


def set_field(name, value):
    def mutate(data):
        image = loader_view.Image(bytes(data))
        offset, form = image.fields[name]
        struct.pack_into(form, data, image.opt + offset, value)
    return mutate


def replace_in_resource(rtype, old, new, encoding):
    """Same-length replacement inside one resource, so no offset moves."""
    def mutate(data):
        (offset, size), _ = loader_view.Image(bytes(data)).resource(rtype, 1)
        before, after = old.encode(encoding), new.encode(encoding)
        assert len(before) == len(after), (old, new)
        at = data.find(before, offset, offset + size)
        assert at >= 0, "%r not in resource %d" % (old, rtype)
        data[at:at + len(before)] = after
    return mutate


def renumber_type(rtype, other):
    """The resource moved to another type: as if the image had none."""
    def mutate(data):
        image = loader_view.Image(bytes(data))
        root = image.file_offset(image.resource_rva)
        named, numbered = struct.unpack_from("<HH", data, root + 12)
        for i in range(named + numbered):
            entry = root + 16 + 8 * i
            if struct.unpack_from("<I", data, entry)[0] == rtype:
                struct.pack_into("<I", data, entry, other)
                return
        raise AssertionError("no resource type %d" % rtype)
    return mutate


def cases(arch):
    # Another processor of the same length, so the XML stays the same size.
    other_arch = {"x86": "arm", "amd64": "arm64"}[arch]
    other_machine = {"x86": 0x8664, "amd64": 0x014C}[arch]
    return [
        ("machine of another processor", set_field_machine(other_machine), "Machine: found"),
        ("console subsystem", set_field("Subsystem", 3), "Subsystem: found 3"),
        ("OS major version 6", set_field("MajorOperatingSystemVersion", 6), "OperatingSystemVersion: found 6."),
        ("subsystem version x.1", set_field("MinorSubsystemVersion", 1), "MinorSubsystemVersion: found"),
        ("section alignment below a page", set_field("SectionAlignment", 0x200), "SectionAlignment: found 0x200"),
        ("file alignment 0x100", set_field("FileAlignment", 0x100), "FileAlignment: found 0x100"),
        ("manifest for another processor",
         replace_in_resource(24, 'processorArchitecture="%s"' % arch, 'processorArchitecture="%s"' % other_arch,
                             "utf-8"),
         "manifest processorArchitecture: found %s" % other_arch),
        ("manifest changed elsewhere", replace_in_resource(24, "PerMonitorV2", "PerMonitorV3", "utf-8"),
         "manifest: differs from the template"),
        ("no manifest", renumber_type(24, 25), "manifest: no RT_MANIFEST"),
        ("file description", replace_in_resource(16, "BMP Glowmire", "BMP Glowmirx", "utf-16-le"),
         "VERSIONINFO FileDescription: found 'BMP Glowmirx'"),
        ("product name", replace_in_resource(16, "Glowmire Screensaver", "Glowmire Screensavex", "utf-16-le"),
         "VERSIONINFO ProductName: found 'Glowmire Screensavex'"),
        ("string file version", replace_in_resource(16, "1.0.0.0", "1.0.0.1", "utf-16-le"),
         "VERSIONINFO FileVersion: found '1.0.0.1'"),
        ("fixed file version", fixed_version(), "VERSIONINFO FILEVERSION: found 1.0.0.9"),
        ("translation of another code page", replace_in_resource(16, "040904E4", "040904B0", "utf-16-le"),
         "VERSIONINFO Translation"),
        ("no VERSIONINFO", renumber_type(16, 17), "VERSIONINFO: no RT_VERSION"),
    ]


# The manifest's DPI settings as the side-by-side parser reads them, on the
# template's text: each case breaks it in one way.
def manifest_cases(text):
    split = text.replace("      <dpiAwareness", "    </asmv3:windowsSettings>\n    <asmv3:windowsSettings>\n"
                                                "      <dpiAwareness", 1)
    aware = next(line for line in text.splitlines(True) if "<dpiAware " in line)
    moved = text.replace(aware, "", 1).replace("    <asmv3:windowsSettings>", aware + "    <asmv3:windowsSettings>", 1)
    return [
        ("manifest not well-formed", text.replace("</dpiAware>", "</dpiAwarx>", 1), "manifest: not well-formed"),
        ("one windowsSettings for each setting", split, "manifest windowsSettings: found 2"),
        ("dpiAwareness in the 2005 namespace", text.replace("SMI/2016/", "SMI/2005/", 1), "manifest dpiAwareness: 0"),
        ("dpiAware beside windowsSettings, not in it", moved, "manifest dpiAware: 0"),
    ]


def set_field_machine(value):
    def mutate(data):
        image = loader_view.Image(bytes(data))
        struct.pack_into("<H", data, image.pe + 4, value)
    return mutate


def fixed_version():
    def mutate(data):
        (offset, size), _ = loader_view.Image(bytes(data)).resource(16, 1)
        signature = data.find(struct.pack("<I", 0xFEEF04BD), offset, offset + size)
        assert signature >= 0, "no fixed file info"
        struct.pack_into("<I", data, signature + 12, 9)  # dwFileVersionLS
    return mutate


def main():
    image_path, template_path, arch, version, description, product = sys.argv[1:7]
    with open(image_path, "rb") as image, open(template_path, encoding="utf-8") as template:
        good, text = image.read(), template.read()

    def run(data):
        return loader_view.check(bytes(data), arch, text, version, description, product)

    failures = 0
    problems = run(good)
    if problems:
        print("FAIL: the built image itself fails: %s" % problems)
        return 1
    for name, mutate, expected in cases(arch):
        data = bytearray(good)
        mutate(data)
        problems = run(data)
        if any(expected in problem for problem in problems):
            print("ok: %s: %s" % (name, next(p for p in problems if expected in p)))
        else:
            failures += 1
            print("FAIL: %s: expected a problem with %r, got %s" % (name, expected, problems or "none"))
    for name, broken, expected in manifest_cases(text):
        problems = loader_view.manifest_problems(broken)
        if broken != text and any(expected in problem for problem in problems):
            print("ok: %s: %s" % (name, next(p for p in problems if expected in p)))
        else:
            failures += 1
            print("FAIL: %s: expected a problem with %r, got %s" % (name, expected, problems or "none"))
    print("%d cases, %d failed" % (len(cases(arch)) + len(manifest_cases(text)), failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
