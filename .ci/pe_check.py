"""Check the two Windows files of the win_amd64 wheel (or of a build folder).

    python3 .ci/pe_check.py dist/velmo-...-win_amd64.whl | BUILD_DIR

velmo.pyd and zandrelAPI.dll must be PE32+ x86-64 DLLs that need nothing but
each other, python3.dll, KERNEL32.dll and the UCRT (api-ms-win-crt-*, the C
runtime CPython uses), and zandrelAPI.dll WS2_32 for the live view's sockets:
no msvcrt.dll, no MinGW runtime DLL. velmo.pyd exports
PyInit_velmo alone and imports from python3.dll exactly what
cmake/windows/python3.def lists; zandrelAPI.dll exports the library contract
of include/zandrelAPI.h and the probe functions, nothing else. The files are
read by tests/pe_file.py, so no Windows tools are needed.
"""

import os
import re
import sys
import tempfile
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests"))
from pe_file import PEFile  # noqa: E402

SYSTEM = re.compile(r"^(KERNEL32\.dll|api-ms-win-crt-[a-z]+-l1-1-0\.dll)$", re.I)
SOCKETS = re.compile(r"^WS2_32\.dll$", re.I)  # the library's live view only


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


def check(folder):
    failures = []

    def expect(ok, what):
        print(("ok   " if ok else "FAIL ") + what)
        if not ok:
            failures.append(what)

    module = PEFile(os.path.join(folder, "velmo.pyd"))
    library = PEFile(os.path.join(folder, "zandrelAPI.dll"))
    for name, pe in (("velmo.pyd", module), ("zandrelAPI.dll", library)):
        expect(pe.is_x64_dll, f"{name}: PE32+ x86-64 DLL")
        allowed = ("python3.dll", "zandrelAPI.dll")
        foreign = sorted(d for d in pe.imports()
                         if not SYSTEM.match(d) and d not in allowed and not (pe is library and SOCKETS.match(d)))
        expect(not foreign, f"{name}: no DLL but python3.dll, zandrelAPI.dll, KERNEL32 and the UCRT {foreign}")

    imports = module.imports()
    expect(module.exports() == ["PyInit_velmo"], f"velmo.pyd exports PyInit_velmo alone {module.exports()}")
    expect({"python3.dll", "zandrelAPI.dll"} <= set(imports), "velmo.pyd links python3.dll and zandrelAPI.dll")
    expect(any(d.lower().startswith("api-ms-win-crt-") for d in imports), "velmo.pyd uses the UCRT")
    listed = def_exports(os.path.join(ROOT, "cmake", "windows", "python3.def"))
    used = imports.get("python3.dll", [])
    expect(sorted(used) == sorted(listed),
           f"python3.dll imports equal python3.def (unused: {sorted(set(listed) - set(used))}, "
           f"unlisted: {sorted(set(used) - set(listed))})")

    functions, probes = contract()
    expect(len(functions) == 109 and len(probes) >= 1, f"header lists 109 functions ({len(functions)}) and the probe")
    exports = set(library.exports())
    expect(exports == functions | probes,
           f"zandrelAPI.dll exports the contract and the probe (missing: {sorted((functions | probes) - exports)},"
           f" extra: {sorted(exports - functions - probes)})")
    expect(all(SYSTEM.match(d) or SOCKETS.match(d) for d in library.imports()),
           f"zandrelAPI.dll needs only KERNEL32, the UCRT and WS2_32 {sorted(library.imports())}")
    expect(set(imports.get("zandrelAPI.dll", [])) <= functions, "velmo.pyd takes only contract functions from zandrelAPI.dll")

    print(f"{len(failures)} failed" if failures else "Windows files: all checks passed")
    return 1 if failures else 0


def main(target):
    if os.path.isdir(target):
        return check(target)
    with tempfile.TemporaryDirectory() as folder:
        with zipfile.ZipFile(target) as wheel:
            for name in ("velmo.pyd", "zandrelAPI.dll"):
                wheel.extract(name, folder)
        return check(folder)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
