"""What the release tests and the package tests share: the files a release
holds, how a build of this source is made, and how a package is read."""

import os
import pathlib
import re
import shutil
import subprocess

import pefile

from winetools import BUILD, ROOT, build_version

PUBLISHER = "The Plenvor developers"  # of the package and its Add/Remove Programs entry


def run(*command, **options):
    return subprocess.run(command, check=True, capture_output=True, **options)


def read(path):
    return pathlib.Path(path).read_bytes()


def write(path, data):
    with open(path, "wb" if isinstance(data, bytes) else "w") as f:
        f.write(data)
    return path


# The programs a release holds: the subsystem each is for (3, the console; 2,
# Windows' GUI, so that no console window opens) and the system DLLs it imports.
PROGRAMS = {
    "plenvor.exe": (3, {"ADVAPI32.dll", "KERNEL32.dll", "msvcrt.dll", "USER32.dll"}),
    "plenvorw.exe": (2, {"KERNEL32.dll", "msvcrt.dll"}),
}


def beside(path, name):
    return os.path.join(os.path.dirname(path), name)


def version_resource(path):
    """The version resource's strings, and its numeric file and product
    versions as text ("Fixed", "FixedProduct"): the numbers that Explorer,
    inventory tools and Windows Installer's file versioning read."""
    pe = pefile.PE(path)
    # As Explorer and VerQueryValue find them: the first language and code
    # page of VarFileInfo's Translation, then the string block named by that
    # pair in hexadecimal ("040904B0"); a block under another name is not read.
    language, code_page = (int(word, 16) for info in pe.FileInfo[0] if hasattr(info, "Var")
                           for var in info.Var
                           for word in var.entry[b"Translation"].split()[:2])
    strings = {k.decode(): v.decode() for info in pe.FileInfo[0] if hasattr(info, "StringTable")
               for table in info.StringTable
               if table.LangID.decode().upper() == f"{language:04X}{code_page:04X}"
               for k, v in table.entries.items()}
    fixed = pe.VS_FIXEDFILEINFO[0]
    for name, high, low in (("Fixed", fixed.FileVersionMS, fixed.FileVersionLS),
                            ("FixedProduct", fixed.ProductVersionMS, fixed.ProductVersionLS)):
        strings[name] = f"{high >> 16}.{high & 0xFFFF}.{low >> 16}.{low & 0xFFFF}"
    return strings


def four_fields(version):
    """A version as Windows' numbers give it: four fields, the missing ones 0."""
    return ".".join((version.split(".") + ["0"] * 4)[:4])


def cached(name, build=BUILD):
    """A value from a build's CMakeCache.txt."""
    with open(os.path.join(build, "CMakeCache.txt")) as f:
        return re.search(rf"^{name}:[A-Z]+=(.*)$", f.read(), re.M).group(1)


def release_file(build, suffix):
    """The archive ("zip") or package ("msi") of a build, named for its version
    and platform: win32 for the release, win64 for the 64-bit stand-in."""
    return os.path.join(build, f"plenvor-{build_version(build)}-{cached('PLENVOR_PLATFORM', build)}"
                               f".{suffix}")


def configure_command(source, build, *args):
    """Configures source as this suite's build was: the same toolchain."""
    toolchain = os.path.basename(cached("CMAKE_TOOLCHAIN_FILE"))
    return ["cmake", "-S", source, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
            "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(source, "cmake", toolchain), *args]


def configure(source, build, *args, env=None):
    run(*configure_command(source, build, *args), env=env)


def package(build, env=None):
    """Makes a configured build's release archive: (program, archive, package)."""
    run("cmake", "--build", build, "--target", "package", env=env)
    return (os.path.join(build, "plenvor.exe"), release_file(build, "zip"),
            release_file(build, "msi"))


TASKS = ["plenvor-logon-task-32bit.xml", "plenvor-logon-task-64bit.xml"]


def copy_with_version(work, version):
    """A copy of this source whose project() gives version: its folder."""
    source = os.path.join(work, "source-" + version)
    shutil.copytree(ROOT, source, ignore=shutil.ignore_patterns("build", ".git"))
    lists = os.path.join(source, "CMakeLists.txt")
    text, changed = re.subn(r"(project\(plenvor VERSION )[0-9.]+", rf"\g<1>{version}",
                            read(lists).decode())
    assert changed == 1
    write(lists, text)
    return source


def msiinfo(*args, text=True):
    return run("msiinfo", *args, text=text).stdout


def assert_same_package(msi, other):
    """The same bytes; else, to say where they differ, the packages' parts:
    summary information, each table and each stream, the signature's among them."""
    if read(msi) != read(other):
        def parts(path):
            found = {"summary": msiinfo("suminfo", path)}
            found.update({"table " + t: msiinfo("export", path, t)
                          for t in msiinfo("tables", path).split()})
            found.update({"stream " + s: msiinfo("extract", path, s, text=False)
                          for s in msiinfo("streams", path).split()})
            return found
        first, second = parts(msi), parts(other)
        differing = sorted(name for name in first.keys() | second.keys()
                           if first.get(name) != second.get(name))
        assert not differing, f"the packages differ in {differing}"
        assert read(msi) == read(other), "same parts, different compound-file layout"


def msi_table(msi, name):
    """The rows of a table, each a list of its fields."""
    return [line.split("\t") for line in msiinfo("export", msi, name).splitlines()[3:]]


def msi_property(msi, name):
    return dict(msi_table(msi, "Property"))[name]


def package_code(msi):
    return re.search(r"Revision number \(UUID\): (\S+)", msiinfo("suminfo", msi)).group(1)


# Windows Installer's conditional statements ("Conditional Statement
# Syntax"), as far as the package's rows use them: properties, components'
# action ($) and installed (?) states, quoted texts, integers, = and <> and
# >< (the left holds the right), with ~ before them, case ignored; NOT, AND,
# OR, parentheses; a property alone is true when it is not empty.
def msi_condition(condition, properties):
    """condition's value with these properties, "$Component" and
    "?Component" among them (absent ones are empty)."""
    tokens = re.findall(r'"[^"]*"|~?<>|~?><|~?=|[()]|[$?]?[\w.-]+', condition) + [""]

    def operand(word):
        if word.startswith('"'):
            return word[1:-1]
        return word if re.fullmatch(r"-?[0-9]+", word) else properties.get(word, "")

    def value(level=0):  # 0: the ORs, 1: the ANDs, 2: one term
        if level < 2:
            found = value(level + 1)
            while tokens[0] == ("OR", "AND")[level]:
                tokens.pop(0)
                other = value(level + 1)
                found = (found or other) if level == 0 else (found and other)
            return found
        word = tokens.pop(0)
        if word == "NOT":
            return not value(2)
        if word == "(":
            found = value()
            assert tokens.pop(0) == ")", condition
            return found
        left = operand(word)
        if tokens[0].lstrip("~") not in ("=", "<>", "><"):
            return left != ""
        operator, right = tokens.pop(0), operand(tokens.pop(0))
        if operator.startswith("~"):
            left, right = left.lower(), right.lower()
        if operator.endswith("><"):
            return right in left
        return (left == right) == operator.endswith("=")

    found = value()
    assert tokens == [""], condition
    return found
