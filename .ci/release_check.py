"""What the release files carry, beyond what twine and check-wheel-contents
check:  python .ci/release_check.py LINUX_WHEEL WINDOWS_WHEEL SDIST

- LICENSE in both wheels' metadata and at the sdist's top;
- the same files in both wheels besides each platform's module and library,
  so whatever the CMake install rules add reaches the Windows wheel too;
- classifiers that the package index knows (trove-classifiers), naming
  CPython 3.8 to 3.13 and both operating systems;
- a long description whose links work on the index page: absolute URLs only.
"""

import email.parser
import re
import sys
import tarfile
import zipfile

import trove_classifiers

BINARIES = {"linux": {"velmo.abi3.so", "libzandrelAPI.so"}, "windows": {"velmo.pyd", "zandrelAPI.dll"}}
failures = []


def expect(ok, what):
    print(("ok   " if ok else "FAIL ") + what)
    if not ok:
        failures.append(what)


def wheel_files(path):
    with zipfile.ZipFile(path) as wheel:
        names = set(wheel.namelist())
        metadata = next(n for n in names if n.endswith(".dist-info/METADATA"))
        return names, wheel.read(metadata).decode("utf-8")


def links(markdown):
    inline = re.findall(r"\]\(\s*<?([^)\s>]+)", markdown)
    reference = re.findall(r"^\s*\[[^\]]+\]:\s*(\S+)", markdown, re.M)
    html = re.findall(r"""(?:href|src)\s*=\s*["']([^"']+)""", markdown)
    return inline + reference + html


def check_metadata(name, text):
    message = email.parser.Parser().parsestr(text)
    classifiers = message.get_all("Classifier") or []
    unknown = [c for c in classifiers if c not in trove_classifiers.classifiers]
    expect(not unknown, f"{name}: classifiers known to the index {unknown}")
    wanted = [f"Programming Language :: Python :: 3.{minor}" for minor in range(8, 14)] + [
        "Operating System :: POSIX :: Linux", "Operating System :: Microsoft :: Windows"]
    expect(all(c in classifiers for c in wanted), f"{name}: classifiers name CPython 3.8-3.13 and both systems")
    expect(message.get("Description-Content-Type", "").startswith("text/markdown"), f"{name}: markdown description")
    description = message.get_payload() or ""
    relative = [link for link in links(description) if not re.match(r"https?://", link)]
    expect(description.strip() and not relative, f"{name}: description links are absolute URLs {relative}")


def main(linux, windows, sdist):
    files = {}
    for platform, path in (("linux", linux), ("windows", windows)):
        names, metadata = wheel_files(path)
        files[platform] = names
        expect(any(re.fullmatch(r"velmo-[^/]+\.dist-info/(licenses/)?LICENSE", n) for n in names),
               f"{platform} wheel: LICENSE in its metadata")
        expect(BINARIES[platform] <= names, f"{platform} wheel: {sorted(BINARIES[platform])}")
        check_metadata(f"{platform} wheel", metadata)
    common = {platform: {n for n in names if ".dist-info/" not in n} - BINARIES[platform]
              for platform, names in files.items()}
    expect(common["linux"] == common["windows"] and {"zandrel_sim.py", "velmo-stubs/__init__.pyi"} <= common["linux"],
           f"both wheels: the same Python files {sorted(common['linux'] ^ common['windows'])}")
    with tarfile.open(sdist) as archive:
        names = archive.getnames()
        top = names[0].split("/")[0]
        expect(f"{top}/LICENSE" in names, "sdist: LICENSE at its top")
        check_metadata("sdist", archive.extractfile(f"{top}/PKG-INFO").read().decode("utf-8"))
    print(f"{len(failures)} failed" if failures else "release files: all checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:4]))
