"""Check the two Windows files of a cross build with MinGW's objdump -p.

    python3 .ci/pe_check.py BUILD_DIR

velmo.pyd and zandrelAPI.dll must be PE32+ x86-64 DLLs that need nothing but
each other, python3.dll and the system (KERNEL32, the C runtime, msvcrt.dll
or the api-ms-win-crt-* set, and WS2_32 for the live view's sockets): no MinGW
runtime DLL. velmo.pyd exports
PyInit_velmo alone and imports from python3.dll exactly what
cmake/windows/python3.def lists; zandrelAPI.dll exports the library contract
of include/zandrelAPI.h and the probe functions, nothing else.
"""

import os
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OBJDUMP = os.environ.get("OBJDUMP", "x86_64-w64-mingw32-objdump")
SYSTEM = re.compile(r"^(KERNEL32\.dll|msvcrt\.dll|WS2_32\.dll|api-ms-win-crt-[a-z-]+-l1-1-0\.dll)$", re.I)


def pe_info(path):
    """(format, magic, is_dll, {dll: [imported names]}, [exported names])"""
    text = subprocess.run([OBJDUMP, "-p", path], capture_output=True, text=True, check=True).stdout
    fmt = re.search(r"file format (\S+)", text).group(1)
    magic = re.search(r"^Magic\s+\S+\s+\((\S+)\)", text, re.M).group(1)
    characteristics = re.search(r"^Characteristics 0x[0-9a-f]+\n((?:\t.*\n)*)", text, re.M).group(1)
    imports = {}
    for block in re.split(r"\n\s*DLL Name: ", text)[1:]:
        dll, _, body = block.partition("\n")
        names = []
        for line in body.split("\n\n", 1)[0].splitlines():
            m = re.match(r"^\s*[0-9a-f]+\s+\d+\s+(\S+)", line)
            if m:
                names.append(m.group(1))
        imports[dll.strip()] = names
    exports = []
    table = re.search(r"\[Ordinal/Name Pointer\] Table\n((?:\t\[.*\n)*)", text)
    if table:
        exports = re.findall(r"\]\s+(\S+)", table.group(1))
    return fmt, magic, "DLL" in characteristics.split(), imports, exports


def def_exports(path):
    names, inside = [], False
    for line in open(path):
        line = line.split(";", 1)[0].strip()
        if line == "EXPORTS":
            inside = True
        elif inside and line:
            names.append(line.split()[0])
    return names


def contract():
    header = open(os.path.join(ROOT, "include", "zandrelAPI.h")).read()
    probe = open(os.path.join(ROOT, "sim", "zsim_probe.h")).read()
    return (set(re.findall(r"^ZANDREL_API ErrorCode (\w+)\(", header, re.M)),
            set(re.findall(r"^ZSIM_PROBE_API\s[^(]*?\b(\w+)\(", probe, re.M)))


def check(build):
    failures = []

    def expect(ok, what):
        print(("ok   " if ok else "FAIL ") + what)
        if not ok:
            failures.append(what)

    module = pe_info(os.path.join(build, "velmo.pyd"))
    library = pe_info(os.path.join(build, "zandrelAPI.dll"))
    for name, (fmt, magic, dll, imports, _) in (("velmo.pyd", module), ("zandrelAPI.dll", library)):
        expect(fmt == "pei-x86-64" and magic == "PE32+" and dll, f"{name}: PE32+ x86-64 DLL ({fmt}, {magic})")
        foreign = sorted(d for d in imports if not SYSTEM.match(d) and d not in ("python3.dll", "zandrelAPI.dll"))
        expect(not foreign, f"{name}: no DLL but python3.dll, zandrelAPI.dll and the system's {foreign}")

    _, _, _, imports, exports = module
    expect(exports == ["PyInit_velmo"], f"velmo.pyd exports PyInit_velmo alone {exports}")
    expect({"python3.dll", "zandrelAPI.dll"} <= set(imports), f"velmo.pyd links python3.dll and zandrelAPI.dll")
    listed = def_exports(os.path.join(ROOT, "cmake", "windows", "python3.def"))
    used = imports.get("python3.dll", [])
    expect(sorted(used) == sorted(listed),
           f"python3.dll imports equal python3.def (unused: {sorted(set(listed) - set(used))}, "
           f"unlisted: {sorted(set(used) - set(listed))})")

    _, _, _, lib_imports, lib_exports = library
    functions, probes = contract()
    expect(len(functions) == 109 and len(probes) >= 1, f"header lists 109 functions ({len(functions)}) and the probe")
    expect(set(lib_exports) == functions | probes,
           f"zandrelAPI.dll exports the contract and the probe (missing: {sorted((functions | probes) - set(lib_exports))},"
           f" extra: {sorted(set(lib_exports) - functions - probes)})")
    expect(all(SYSTEM.match(d) for d in lib_imports), f"zandrelAPI.dll needs only the system {sorted(lib_imports)}")
    expect(set(imports.get("zandrelAPI.dll", [])) <= functions, "velmo.pyd takes only contract functions from zandrelAPI.dll")

    print(f"{len(failures)} failed" if failures else "Windows files: all checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(check(sys.argv[1]))
