#!/usr/bin/env python3
"""What the Windows loader reads of glmire.scr before any of its code runs.

Wine loads images that Windows refuses: it ignores the manifest's processor,
accepts any header versions and shows no file properties. This reads the image
as the loader and Explorer do and fails, naming the field and the value it
found, on anything that would keep the saver from starting or showing itself:

  - the machine and optional-header magic of the expected processor;
  - the GUI subsystem, subsystem and operating-system versions (4.0 for the
    PE32, which Windows 95 and NT 4.0 accept), the page-sized section
    alignment and a file alignment those loaders map;
  - an application manifest (RT_MANIFEST 1) that is the project's template
    with this image's processor in it and nothing else changed, well-formed,
    with its DPI settings in the documented form: one windowsSettings (asm.v3)
    in the application, holding dpiAware (2005 namespace) and dpiAwareness
    (2016 namespace), and neither anywhere else (Windows' side-by-side parser
    may ignore settings elsewhere, and refuses to start a program whose
    manifest it cannot parse);
  - a VERSIONINFO whose fixed and string versions, file description and
    product name are the ones given.

  loader_view.py IMAGE --arch x86|amd64 --manifest TEMPLATE --version 1.0.0.0
                 --description TEXT --product TEXT
"""
import argparse
import re
import struct
import sys
import xml.etree.ElementTree as ElementTree

# What each --arch means to the loader: COFF machine, optional-header magic and
# the oldest system versions the image may ask for.
ARCHES = {
    "x86": {"machine": 0x014C, "magic": 0x010B, "version": (4, 0)},
    "amd64": {"machine": 0x8664, "magic": 0x020B, "version": (5, 2)},
}
GUI_SUBSYSTEM = 2
RT_VERSION = 16
RT_MANIFEST = 24
MANIFEST_ARCH_PLACEHOLDER = "@GLMIRE_MANIFEST_ARCH@"
ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
DPI_SETTINGS = {
    "dpiAware": "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}",
    "dpiAwareness": "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}",
}


def manifest_problems(text):
    """What keeps the manifest's DPI settings from being read as documented."""
    try:
        root = ElementTree.fromstring(text.encode("utf-8"))
    except ElementTree.ParseError as error:
        return ["manifest: not well-formed XML: %s" % error]
    if root.tag != ASM_V1 + "assembly":
        return ["manifest: root element %s, expected assembly (asm.v1)" % root.tag]
    everywhere = [element for element in root.iter() if element.tag.endswith("windowsSettings")]
    placed = [element for application in root.findall(ASM_V3 + "application")
              for element in application.findall(ASM_V3 + "windowsSettings")]
    if len(everywhere) != 1 or len(placed) != 1:
        return ["manifest windowsSettings: found %d (%d as asmv3:windowsSettings in asmv3:application), "
                "expected exactly one there holding every DPI setting" % (len(everywhere), len(placed))]
    problems = []
    settings = placed[0]
    for name, namespace in DPI_SETTINGS.items():
        inside = settings.findall(namespace + name)
        anywhere = [element for element in root.iter() if element.tag.rpartition("}")[2] == name]
        if len(inside) != 1 or len(anywhere) != 1:
            found = sorted(set(element.tag for element in anywhere))
            problems.append("manifest %s: %d in windowsSettings in namespace %s, %d in all (%s); expected "
                            "one, there" % (name, len(inside), namespace.strip("{}"), len(anywhere),
                                            ", ".join(found) or "none"))
    return problems


class Image:
    """The parts of a PE image the loader looks at, with their file offsets
    (the tests that break images on purpose write through the offsets)."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        self.pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[self.pe:self.pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature at 0x%x" % self.pe)
        coff = self.pe + 4
        self.machine, sections, _, _, _, opt_size, _ = struct.unpack_from("<HHIIIHH", data, coff)
        self.opt = coff + 20
        self.magic = struct.unpack_from("<H", data, self.opt)[0]
        # Offsets below are the same in PE32 and PE32+ up to DllCharacteristics.
        self.fields = {
            "SectionAlignment": (32, "<I"),
            "FileAlignment": (36, "<I"),
            "MajorOperatingSystemVersion": (40, "<H"),
            "MinorOperatingSystemVersion": (42, "<H"),
            "MajorSubsystemVersion": (48, "<H"),
            "MinorSubsystemVersion": (50, "<H"),
            "Subsystem": (68, "<H"),
        }
        directories = self.opt + (96 if self.magic == 0x010B else 112)
        self.resource_rva, self.resource_size = struct.unpack_from("<II", data, directories + 2 * 8)
        self.sections = []
        table = self.opt + opt_size
        for i in range(sections):
            _, vsize, rva, raw_size, raw = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((rva, max(vsize, raw_size), raw))

    def field(self, name):
        offset, form = self.fields[name]
        return struct.unpack_from(form, self.data, self.opt + offset)[0]

    def field_offset(self, name):
        return self.opt + self.fields[name][0]

    def file_offset(self, rva):
        for start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError("RVA 0x%x lies in no section" % rva)

    def resources(self):
        """(type, name, language, file offset, size) of every resource; names
        given as strings are skipped (the loader asks for numbered ones)."""
        found = []
        if not self.resource_rva:
            return found
        root = self.file_offset(self.resource_rva)

        def entries(directory):
            named, numbered = struct.unpack_from("<HH", self.data, root + directory + 12)
            for i in range(named + numbered):
                ident, target = struct.unpack_from("<II", self.data, root + directory + 16 + 8 * i)
                yield ident, target

        for rtype, types in entries(0):
            if rtype & 0x80000000 or not types & 0x80000000:
                continue
            for name, names in entries(types & 0x7FFFFFFF):
                if name & 0x80000000 or not names & 0x80000000:
                    continue
                for language, leaf in entries(names & 0x7FFFFFFF):
                    if leaf & 0x80000000:
                        continue
                    rva, size = struct.unpack_from("<II", self.data, root + leaf)
                    found.append((rtype, name, language, self.file_offset(rva), size))
        return found

    def resource(self, rtype, name):
        """(file offset, size) of the numbered resource, or None; also the
        number of such resources (the loader takes one per type and name)."""
        matches = [(o, s) for t, n, _, o, s in self.resources() if t == rtype and n == name]
        return (matches[0] if matches else None), len(matches)


def version_nodes(data, start, end):
    """The VERSIONINFO tree: (key, value, children); a text value is decoded."""
    nodes = []
    at = start
    while at + 6 <= end:
        length, value_length, kind = struct.unpack_from("<HHH", data, at)
        if length == 0:
            break
        stop = min(at + length, end)
        key_end = at + 6
        while key_end + 1 < stop and data[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = data[at + 6:key_end].decode("utf-16-le")
        value_at = (key_end + 2 + 3) & ~3
        if kind == 1:  # text, length in characters with the terminator
            raw = data[value_at:value_at + 2 * value_length]
            value = raw.decode("utf-16-le", "replace").rstrip("\0")
            value_end = value_at + 2 * value_length
        else:
            value = data[value_at:value_at + value_length]
            value_end = value_at + value_length
        children = version_nodes(data, (value_end + 3) & ~3, stop)
        nodes.append((key, value, children))
        at = (at + length + 3) & ~3
    return nodes


def quad(ms, ls):
    return "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)


def check(image_bytes, arch, template, version, description, product):
    """Every problem found, each a line naming the field and its value."""
    problems = []
    try:
        image = Image(image_bytes)
    except (ValueError, struct.error) as error:
        return ["not a PE image: %s" % error]
    want = ARCHES[arch]

    if image.machine != want["machine"]:
        problems.append("Machine: found 0x%04x, an %s image is 0x%04x" % (image.machine, arch, want["machine"]))
    if image.magic != want["magic"]:
        problems.append("optional header Magic: found 0x%03x, an %s image is 0x%03x" % (image.magic, arch, want["magic"]))
    if image.field("Subsystem") != GUI_SUBSYSTEM:
        problems.append("Subsystem: found %d, the Windows GUI subsystem is 2" % image.field("Subsystem"))
    major, minor = want["version"]
    for what in ("OperatingSystem", "Subsystem"):
        found = (image.field("Major%sVersion" % what), image.field("Minor%sVersion" % what))
        if found != (major, minor):
            problems.append("Major/Minor%sVersion: found %d.%d, expected %d.%d" % (what, *found, major, minor))
    # Sections are mapped page by page; the oldest loaders read the file in
    # sectors, 512 bytes up to a page.
    if image.field("SectionAlignment") != 0x1000:
        problems.append("SectionAlignment: found 0x%x, expected 0x1000 (one page)" % image.field("SectionAlignment"))
    file_alignment = image.field("FileAlignment")
    if file_alignment not in (0x200, 0x400, 0x800, 0x1000):
        problems.append("FileAlignment: found 0x%x, expected a power of two from 0x200 to 0x1000" % file_alignment)

    try:
        manifest, count = image.resource(RT_MANIFEST, 1)
    except (ValueError, struct.error) as error:
        return problems + ["resources unreadable: %s" % error]
    if manifest is None:
        problems.append("manifest: no RT_MANIFEST resource 1 (the one the loader reads for a program)")
    else:
        if count != 1:
            problems.append("manifest: %d RT_MANIFEST resources 1, expected one" % count)
        offset, size = manifest
        text = image.data[offset:offset + size].decode("utf-8", "replace")
        problems.extend(manifest_problems(text))
        identity = re.search(r"<assemblyIdentity\b[^>]*>", text, re.S)
        found_arch = identity and re.search(r'\bprocessorArchitecture="([^"]*)"', identity.group(0))
        if not found_arch:
            problems.append("manifest processorArchitecture: none in assemblyIdentity, expected %s" % arch)
        else:
            found = found_arch.group(1)
            if found not in (arch, "*"):
                problems.append("manifest processorArchitecture: found %s, the image is %s" % (found, arch))
            expected = template.replace(MANIFEST_ARCH_PLACEHOLDER, found)
            if text != expected:
                got_lines, want_lines = text.splitlines(), expected.splitlines()
                line = next((i for i, (a, b) in enumerate(zip(got_lines, want_lines)) if a != b),
                            min(len(got_lines), len(want_lines)))
                problems.append("manifest: differs from the template beyond processorArchitecture, line %d: "
                                "found %r, expected %r" % (line + 1, (got_lines + [""])[line],
                                                           (want_lines + [""])[line]))

    info, _ = image.resource(RT_VERSION, 1)
    if info is None:
        problems.append("VERSIONINFO: no RT_VERSION resource 1")
        return problems
    offset, size = info
    tree = version_nodes(image.data, offset, offset + size)
    if not tree or tree[0][0] != "VS_VERSION_INFO" or len(tree[0][1]) < 52:
        problems.append("VERSIONINFO: no VS_VERSION_INFO with fixed file info (found %r)" % (tree[0][0] if tree else None))
        return problems
    _, fixed, children = tree[0]
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<IIIIII", fixed)
    if signature != 0xFEEF04BD:
        problems.append("VERSIONINFO fixed signature: found 0x%08x, expected 0xfeef04bd" % signature)
    for what, found in (("FILEVERSION", quad(file_ms, file_ls)), ("PRODUCTVERSION", quad(product_ms, product_ls))):
        if found != version:
            problems.append("VERSIONINFO %s: found %s, expected %s" % (what, found, version))

    tables = [table for key, _, tables in children if key == "StringFileInfo" for table in tables]
    translations = [value for key, _, variables in children if key == "VarFileInfo"
                    for name, value, _ in variables if name == "Translation"]
    if len(tables) != 1:
        problems.append("VERSIONINFO StringFileInfo: %d string tables, expected one" % len(tables))
        return problems
    block, _, strings = tables[0]
    language, codepage = (struct.unpack_from("<HH", translations[0]) if translations and len(translations[0]) >= 4
                          else (None, None))
    if language is None or block.upper() != "%04X%04X" % (language, codepage):
        problems.append("VERSIONINFO Translation: found %s for string table %s; Explorer looks the strings "
                        "up under the translation" % (
                            "none" if language is None else "%04x/%d" % (language, codepage), block))
    values = {key: value for key, value, _ in strings}
    for key, expected in (("FileDescription", description), ("ProductName", product),
                          ("FileVersion", version), ("ProductVersion", version)):
        found = values.get(key)
        if found != expected:
            problems.append("VERSIONINFO %s: found %s, expected %r" % (key, "none" if found is None else repr(found), expected))
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("image")
    parser.add_argument("--arch", choices=sorted(ARCHES), required=True)
    parser.add_argument("--manifest", required=True, help="the manifest template")
    parser.add_argument("--version", required=True)
    parser.add_argument("--description", required=True)
    parser.add_argument("--product", required=True)
    args = parser.parse_args()
    with open(args.image, "rb") as image, open(args.manifest, encoding="utf-8") as template:
        data, text = image.read(), template.read()
    problems = check(data, args.arch, text, args.version, args.description, args.product)
    if problems:
        print("%s: what the Windows loader reads is wrong:" % args.image)
        for problem in problems:
            print("  " + problem)
        return 1
    image = Image(data)
    print("%s: %s image (Machine 0x%04x, Magic 0x%03x), GUI subsystem %d.%d, OS version %d.%d, "
          "section/file alignment 0x%x/0x%x; manifest for %s; VERSIONINFO %s %r %r" % (
              args.image, args.arch, image.machine, image.magic, image.field("MajorSubsystemVersion"),
              image.field("MinorSubsystemVersion"), image.field("MajorOperatingSystemVersion"),
              image.field("MinorOperatingSystemVersion"), image.field("SectionAlignment"),
              image.field("FileAlignment"), args.arch, args.version, args.description, args.product))
    return 0


if __name__ == "__main__":
    sys.exit(main())
