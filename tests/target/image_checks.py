#!/usr/bin/env python3
"""Checks of the built firmware image and of auxport1.o, run by CTest in the
tm4c123 build. Each subcommand exits 0 when the check holds, 1 with the
reasons when it does not.

  image_checks.py --elf E --map M [--tools arm-none-eabi-] vectors
  image_checks.py --elf E --map M no-heap | no-constructors | layout | float-io
  image_checks.py --elf E --map M auxport1 --object auxport1.o --platform-header platform.h
"""

import argparse
import re
import subprocess
import sys

FLASH = (0x00000000, 256 * 1024)
SRAM = (0x20000000, 32 * 1024)
STACK_BYTES = 4096

# The vector table as the data sheet lays it out for the TM4C123GH6PGE:
# vector numbers that are reserved (must hold 0), and those with handlers of
# their own. Every other entry must be IntDefaultHandler.
RESERVED = {7, 8, 9, 10, 13} | {16 + n for n in (
    [41, 42, 52, 53, 64, 65, 66, 67] + list(range(72, 92)) + [107, 108, 113, 114, 115] +
    list(range(124, 134)))}
HANDLERS = {
    1: "ResetISR()",
    2: "NmiSR()",
    3: "FaultISR()",
    15: "SysTickHandler()",
    21: "UARTStdioIntHandler()",
    49: "AUX1_UARTIntHandler()",
    75: "Optode_UARTIntHandler()",
    76: "Salinor_UARTIntHandler()",
    77: "AUX2_UARTIntHandler()",
}
VECTOR_COUNT = 155

HEAP_SYMBOLS = {"malloc", "calloc", "realloc", "free", "sbrk", "_sbrk", "_sbrk_r", "_malloc_r",
                "_calloc_r", "_realloc_r", "_free_r", "operator new(unsigned int)",
                "operator new[](unsigned int)", "operator delete(void*)", "operator delete[](void*)"}

AUX1_DEFINES = ["AUX1_UARTConfig", "AUX1_UARTIntHandler", "Open_AUX1", "Close_AUX1"]


def run(cmd):
    return subprocess.run(cmd, check=True, capture_output=True, text=True).stdout


def symbols(tools, path, demangle=True, extra=()):
    """name -> (address, type) of the defined symbols."""
    out = {}
    args = [tools + "nm", "--defined-only", *extra] + (["-C"] if demangle else []) + [path]
    for line in run(args).splitlines():
        m = re.match(r"^([0-9a-f]+) (\w) (.+)$", line)
        if m:
            out[m.group(3)] = (int(m.group(1), 16), m.group(2))
    return out


def section_words(tools, elf, section):
    words = []
    for line in run([tools + "objdump", "-s", "-j", section, elf]).splitlines():
        m = re.match(r"^ ([0-9a-f]+) ((?:[0-9a-f]{8} ?){1,4})", line)
        if m:
            words += [int.from_bytes(bytes.fromhex(g), "little") for g in m.group(2).split()]
    return words


def sections(tools, elf):
    """name -> (type, address, size, flags, load address)."""
    out = {}
    for line in run([tools + "readelf", "-SW", elf]).splitlines():
        m = re.match(r"^\s*\[\s*\d+\]\s+(\S+)\s+(\S+)\s+([0-9a-f]+)\s+[0-9a-f]+\s+([0-9a-f]+)\s+\S+\s+(\S*)\s", line)
        if m:
            out[m.group(1)] = [m.group(2), int(m.group(3), 16), int(m.group(4), 16), m.group(5), None]
    for line in run([tools + "objdump", "-h", elf]).splitlines():
        m = re.match(r"^\s*\d+\s+(\S+)\s+[0-9a-f]+\s+[0-9a-f]+\s+([0-9a-f]+)", line)
        if m and m.group(1) in out:
            out[m.group(1)][4] = int(m.group(2), 16)
    return out


def check_vectors(a):
    errors = []
    syms = symbols(a.tools, a.elf)
    table = syms.get("g_pfnVectors")
    if table is None or table[0] != 0:
        return ["g_pfnVectors is not at address 0"]
    words = section_words(a.tools, a.elf, ".isr_vector")
    if len(words) != VECTOR_COUNT:
        return [f".isr_vector holds {len(words)} words, not {VECTOR_COUNT}"]
    stack_top = syms.get("__stack_top")
    if stack_top is None or words[0] != stack_top[0]:
        errors.append(f"entry 0 is 0x{words[0]:08x}, not the initial stack pointer __stack_top")
    elif words[0] != SRAM[0] + STACK_BYTES:
        errors.append(f"initial stack pointer 0x{words[0]:08x}, expected 0x{SRAM[0] + STACK_BYTES:08x}")

    def address_of(name):
        s = syms.get(name)
        if s is None or s[1] not in "Tt":
            errors.append(f"{name} is not a function of the image")
            return None
        return s[0] | 1  # Thumb

    default = address_of("IntDefaultHandler()")
    for n in range(1, VECTOR_COUNT):
        if n in RESERVED:
            want, what = 0, "0 (reserved)"
        elif n in HANDLERS:
            want, what = address_of(HANDLERS[n]), HANDLERS[n]
        else:
            want, what = default, "IntDefaultHandler()"
        if want is not None and words[n] != want:
            errors.append(f"entry {n} is 0x{words[n]:08x}, expected {what} at 0x{want:08x}")
    # The three stop handlers spin: each is one branch to itself.
    for name in ("NmiSR()", "FaultISR()", "IntDefaultHandler()"):
        addr = syms.get(name, (None,))[0]
        if addr is None:
            continue
        dis = run([a.tools + "objdump", "-d", "--no-show-raw-insn", f"--start-address={addr}",
                   f"--stop-address={addr + 2}", a.elf])
        if not re.search(rf"^\s*{addr:x}:\s+b\.n\s+{addr:x}\b", dis, re.M):
            errors.append(f"{name} does not spin in place")
    return errors


def check_no_heap(a):
    found = sorted(HEAP_SYMBOLS & set(symbols(a.tools, a.elf)))
    return [f"heap functions reachable from the image: {', '.join(found)}"] if found else []


def check_no_constructors(a):
    syms = symbols(a.tools, a.elf)
    start = syms.get("__init_array_start", (0,))[0]
    end = syms.get("__init_array_end", (0,))[0]
    if end != start:
        return [f"{(end - start) // 4} static constructor(s) in .init_array: globals must be "
                "constant-initialised"]
    return []


def check_layout(a):
    errors = []
    secs = sections(a.tools, a.elf)

    def inside(addr, size, region):
        return region[0] <= addr and addr + size <= region[0] + region[1]

    for name, (typ, addr, size, flags, lma) in secs.items():
        if "A" not in flags or size == 0:
            continue
        if addr >= SRAM[0]:
            if not inside(addr, size, SRAM):
                errors.append(f"{name} runs past the end of SRAM")
            if typ != "NOBITS" and (lma is None or not inside(lma, size, FLASH)):
                errors.append(f"{name} has no initial image in flash")
        elif not inside(addr, size, FLASH):
            errors.append(f"{name} runs past the end of flash")
    stack = secs.get(".stack")
    if stack is None or stack[1] != SRAM[0] or stack[2] != STACK_BYTES:
        errors.append(f".stack must be {STACK_BYTES} bytes at the start of SRAM")
    if ".heap" in secs:
        errors.append("the image has a heap section")
    return errors


def check_float_io(a):
    """%f formatting and scanning: the C library's double-capable variants."""
    syms = symbols(a.tools, a.elf)
    errors = []
    for fn, full, reduced in (("vfprintf", "__d_vfprintf", ("__i_vfprintf", "__f_vfprintf")),
                              ("vfscanf", "__d_vfscanf", ("__i_vfscanf", "__f_vfscanf"))):
        if fn not in syms:
            continue  # not used by the image
        if full in syms:  # picolibc
            if syms[fn][0] != syms[full][0]:
                errors.append(f"{fn} is not the double-capable {full}")
            for r in reduced:
                if r in syms and syms[r][0] == syms[fn][0]:
                    errors.append(f"{fn} is the reduced {r}")
        elif fn == "vfprintf" and "_printf_float" not in syms:  # newlib-nano
            errors.append("newlib-nano without _printf_float: %f prints nothing")
    if "vfprintf" not in syms and "vfscanf" not in syms:
        print("no formatted I/O in the image")
        sys.exit(77)
    return errors


def platform_functions(header):
    text = open(header, encoding="utf-8").read()
    text = re.sub(r"//.*", "", text)
    names = set(re.findall(r"^(?:inline\s+|constexpr\s+)?[\w:<>]+[\s*&]+(\w+)\s*\(", text, re.M))
    return names - {"if", "return", "while", "for"}


def check_auxport1(a):
    errors = []
    allowed = platform_functions(a.platform_header) | {"UARTwrite"}
    undefined = [line.split()[-1] for line in run([a.tools + "nm", "-u", a.object]).splitlines() if line.strip()]
    pretty = run([a.tools + "c++filt"] + undefined).splitlines() if undefined else []
    for raw, name in zip(undefined, pretty):
        base = re.sub(r"\(.*$", "", name)
        if base not in allowed:
            errors.append(f"auxport1.o refers to {name}: only UARTwrite and the peripheral interface may be outside it")
    defined = symbols(a.tools, a.object)
    for name in AUX1_DEFINES:
        if not any(re.sub(r"\(.*$", "", s) == name for s in defined):
            errors.append(f"auxport1.o does not define {name}")
    # Linked into the image, every reference resolves to a definition there.
    image = symbols(a.tools, a.elf, demangle=False)
    for raw, name in zip(undefined, pretty):
        if raw not in image or image[raw][1] not in "TtWw":
            errors.append(f"{name} is not defined by the firmware image")
    # And the image's AUX 1 code is this very object.
    mapped = open(a.map, encoding="utf-8", errors="replace").read()
    handler = re.search(r"\.text\.\S*AUX1_UARTIntHandler\S*\s+0x[0-9a-f]+\s+0x[0-9a-f]+\s+(\S+)", mapped)
    if not handler or not handler.group(1).endswith("auxport1.o"):
        errors.append("the image's AUX1_UARTIntHandler does not come from auxport1.o")
    if not undefined:
        errors.append("auxport1.o refers to nothing outside itself: not the AUX 1 port instance")
    return errors


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tools", default="arm-none-eabi-")
    ap.add_argument("--elf", required=True)
    ap.add_argument("--map", required=True)
    ap.add_argument("--object")
    ap.add_argument("--platform-header")
    ap.add_argument("check", choices=["vectors", "no-heap", "no-constructors", "layout", "float-io", "auxport1"])
    a = ap.parse_args()
    check = {"vectors": check_vectors, "no-heap": check_no_heap, "no-constructors": check_no_constructors,
             "layout": check_layout, "float-io": check_float_io, "auxport1": check_auxport1}[a.check]
    errors = check(a)
    for e in errors:
        print(e)
    if not errors:
        print(f"{a.check}: ok")
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
