#!/usr/bin/env python3
"""Worst-case stack depth of the firmware image.

The call graph is read from the linked image itself (objdump): every direct
call and tail call the final code makes, library code included. Frame sizes
come from the compiler: the .ci files that -fcallgraph-info=su writes next to
each object (the same figures as -fstack-usage's .su files). Functions the
compiler did not describe (C library, compiler runtime) are sized from their
own prologue and every later stack adjustment, added up, which can only
overstate them.

Worst case = deepest path from the reset entry + one exception frame + the
deepest interrupt handler path. All handlers run at the same priority, so
they never nest with each other.

Indirect calls are resolved conservatively: to every function whose address
appears in the image's code or data (the vector table excepted), unless the
table INDIRECT_TARGETS below names the targets of that caller. Recursion has
no static bound: it is reported and fails the budget unless RECURSION_BOUNDS
gives its depth.

Usage: stack_usage.py --elf IMAGE.elf --map IMAGE.map --build BUILD_DIR
                      [--stack 4096] [--tools arm-none-eabi-] [--verbose]
Exit status: 0 within budget, 1 over budget or unbounded, 2 on a usage or
tool error.
"""

import argparse
import os
import re
import subprocess
import sys
from collections import defaultdict

# Exception entry with the FPU in use: 26 words (8 basic + 18 FP) plus the
# word of padding that keeps the frame 8-byte aligned.
EXCEPTION_FRAME = 26 * 4 + 4

# Callers whose indirect calls are known: regex of the caller -> regexes of
# the possible targets. The C library's formatted I/O calls the put/get
# function of its FILE: the string streams of snprintf/sscanf and our console
# stream.
INDIRECT_TARGETS = {
    # The reset entry calls only the static constructors, and the image has
    # none (tests/target checks .init_array is empty).
    r"ResetISR": [],
    r"^(__[dfil]_)?v?f?(printf|scanf)$|^__[dfil]_vf(printf|scanf)$|^vf(printf|scanf)$":
        [r"^__file_str_(put|get)", r"console_putc", r"no_getc"],
    r"^(fputc|putc|fputs|puts|putchar|fgetc|getc|getchar|ungetc|fflush)$":
        [r"^__file_str_(put|get)", r"console_putc", r"no_getc"],
}

# Functions allowed to recurse, with the deepest nesting they can reach
# (mangled or demangled name -> depth).
RECURSION_BOUNDS = {}


def recursion_bound(f):
    """Nesting depth allowed for f (by mangled or demangled name), or None."""
    for key in [f.pretty, *f.aliases]:
        if key in RECURSION_BOUNDS:
            return RECURSION_BOUNDS[key]
    return None


def run(cmd):
    try:
        return subprocess.run(cmd, check=True, capture_output=True, text=True).stdout
    except (OSError, subprocess.CalledProcessError) as e:
        sys.exit(f"stack_usage: {' '.join(cmd)} failed: {e}")


class Function:
    def __init__(self, addr, name, size):
        self.addr = addr
        self.name = name
        self.size = size
        self.aliases = [name]
        self.pretty = name
        self.frame = 0
        self.frame_source = "prologue"
        self.dynamic = False
        self.calls = set()      # addresses of called functions
        self.indirect = 0       # count of indirect call sites
        self.object = None


def load_functions(tools, elf):
    """Function symbols of the image by address (aliases share an entry)."""
    funcs = {}
    sym = re.compile(r"^\s*\d+:\s+([0-9a-f]+)\s+(\d+)\s+FUNC\s+\S+\s+\S+\s+\d+\s+(\S+)")
    for line in run([tools + "readelf", "-sW", elf]).splitlines():
        m = sym.match(line)
        if not m:
            continue
        addr, size, name = int(m.group(1), 16) & ~1, int(m.group(2)), m.group(3)
        if addr in funcs:
            if name not in funcs[addr].aliases:
                funcs[addr].aliases.append(name)
        else:
            funcs[addr] = Function(addr, name, size)
    names = [f.name for f in funcs.values()]
    pretty = run([tools + "c++filt"] + names).splitlines() if names else []
    for f, p in zip(funcs.values(), pretty):
        f.pretty = p
    return funcs


def regs_in(text):
    """Number of registers in a register list such as {r4, r5, lr} or {d8-d9}."""
    count = 0
    for item in text.strip("{} ").split(","):
        item = item.strip()
        m = re.match(r"([rsd])(\d+)-[rsd]?(\d+)", item)
        count += (int(m.group(3)) - int(m.group(2)) + 1) if m else (1 if item else 0)
    return count


def reg_width(text):
    return 8 if re.search(r"\bd\d", text) else 4


def parse_disassembly(tools, elf, funcs):
    starts = sorted(funcs)
    by_addr = funcs

    def owner(addr):
        # The function containing addr (binary search over starts).
        lo, hi = 0, len(starts) - 1
        best = None
        while lo <= hi:
            mid = (lo + hi) // 2
            if starts[mid] <= addr:
                best = starts[mid]
                lo = mid + 1
            else:
                hi = mid - 1
        if best is not None and addr < best + max(by_addr[best].size, 2):
            return best
        return None

    current = None
    header = re.compile(r"^([0-9a-f]+) <(.+)>:$")
    insn = re.compile(r"^\s*([0-9a-f]+):\s+(\S+)\s*(.*)$")
    for line in run([tools + "objdump", "-d", "--no-show-raw-insn", elf]).splitlines():
        h = header.match(line)
        if h:
            current = by_addr.get(int(h.group(1), 16))
            continue
        m = insn.match(line)
        if not m or current is None:
            continue
        op, args = m.group(2), m.group(3).split("@")[0].strip()
        if op.startswith("."):
            continue
        base = re.sub(r"(\.[nw])$", "", op)
        # Stack growth.
        if base in ("push", "stmdb") and (base == "push" or args.startswith("sp!")):
            current.frame_guess = getattr(current, "frame_guess", 0) + 4 * regs_in(args.split(",", 1)[-1] if base == "stmdb" else args)
        elif base in ("vpush", "vstmdb") and (base == "vpush" or args.startswith("sp!")):
            lst = args.split(",", 1)[-1] if base == "vstmdb" else args
            current.frame_guess = getattr(current, "frame_guess", 0) + reg_width(lst) * regs_in(lst)
        elif base in ("sub", "subw") and re.match(r"sp,\s*(sp,\s*)?#", args):
            current.frame_guess = getattr(current, "frame_guess", 0) + int(re.search(r"#(\d+)", args).group(1))
        elif base in ("sub", "subw") and re.match(r"sp,\s*(sp,\s*)?r", args):
            current.dynamic_guess = True
        elif base.startswith("str") and re.search(r"\[sp,\s*#-(\d+)\]!", args):
            current.frame_guess = getattr(current, "frame_guess", 0) + int(re.search(r"#-(\d+)", args).group(1))
        # Calls.
        target = re.match(r"([0-9a-f]+) <", args)
        if base in ("bl", "blx") and target:
            callee = owner(int(target.group(1), 16))
            if callee is not None:
                current.calls.add(callee)
        elif base in ("blx",) or (base == "bx" and args != "lr"):
            current.indirect += 1
        elif re.match(r"^b(eq|ne|cs|hs|cc|lo|mi|pl|vs|vc|hi|ls|ge|lt|gt|le|al)?$", base) and target:
            callee = owner(int(target.group(1), 16))
            if callee is not None and callee != current.addr:
                current.calls.add(callee)  # tail call or shared code


def parse_map(path):
    """Input sections of the image: (start, end, object file)."""
    sections = []
    pending = None
    for line in open(path, encoding="utf-8", errors="replace"):
        if line.startswith(" .") and len(line.split()) == 1:
            pending = line.strip()
            continue
        m = re.match(r"^ (\.\S+)?\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$", line)
        if m and (m.group(1) or pending):
            start, size = int(m.group(2), 16), int(m.group(3), 16)
            if size:
                sections.append((start, start + size, m.group(4).strip()))
        pending = None
    sections.sort()
    return sections


def parse_ci(build):
    """Frame sizes the compiler reported: name -> [(object stem, bytes, dynamic)]."""
    frames = defaultdict(list)
    node = re.compile(r'node: \{ title: "([^"]+)" label: "[^"]*\\n(\d+) bytes \(([^)]*)\)"')
    for root, _, files in os.walk(build):
        for f in files:
            if not f.endswith(".ci"):
                continue
            path = os.path.join(root, f)
            stem = os.path.splitext(path)[0]
            for m in node.finditer(open(path, encoding="utf-8", errors="replace").read()):
                # Functions of internal linkage carry their source file: "file:name".
                name = m.group(1).rsplit(":", 1)[-1]
                frames[name].append((stem, int(m.group(2)), m.group(3) != "static"))
    return frames


def assign_frames(funcs, sections, frames):
    starts = [s[0] for s in sections]
    import bisect
    for f in funcs.values():
        i = bisect.bisect_right(starts, f.addr) - 1
        if 0 <= i and f.addr < sections[i][1]:
            f.object = sections[i][2]
        candidates = []
        for name in f.aliases:
            candidates += frames.get(name, [])
        if f.object and len(candidates) > 1:
            obj_stem = os.path.splitext(f.object)[0]
            same = [c for c in candidates if c[0].endswith(os.path.basename(obj_stem))]
            candidates = same or candidates
        if candidates:
            f.frame = max(c[1] for c in candidates)
            f.dynamic = any(c[2] for c in candidates)
            f.frame_source = "compiler"
        else:
            f.frame = getattr(f, "frame_guess", 0)
            f.dynamic = getattr(f, "dynamic_guess", False)


def address_taken(tools, elf, funcs):
    """Functions whose address (with the Thumb bit) is stored in code or data."""
    taken = set()
    section = None
    for line in run([tools + "objdump", "-s", elf]).splitlines():
        m = re.match(r"^Contents of section (\S+):", line)
        if m:
            section = m.group(1)
            continue
        if section in (None, ".isr_vector") or section.startswith((".debug", ".comment", ".ARM")):
            continue
        m = re.match(r"^ ([0-9a-f]+) ((?:[0-9a-f]{2,8} ?){1,4})", line)
        if not m:
            continue
        addr = int(m.group(1), 16)
        data = bytes.fromhex(m.group(2).replace(" ", ""))
        # Stored pointers are word aligned (tables, structures, literal pools).
        for off in range(0, len(data) - 3):
            if (addr + off) % 4:
                continue
            word = int.from_bytes(data[off:off + 4], "little")
            if word & 1 and (word & ~1) in funcs:
                taken.add(word & ~1)
    return taken


def vector_roots(tools, elf, funcs):
    out = run([tools + "objdump", "-s", "-j", ".isr_vector", elf])
    words = []
    for line in out.splitlines():
        m = re.match(r"^ ([0-9a-f]+) ((?:[0-9a-f]{8} ?){1,4})", line)
        if m:
            for g in m.group(2).split():
                words.append(int.from_bytes(bytes.fromhex(g), "little"))
    if len(words) < 2:
        sys.exit("stack_usage: no vector table in the image")
    reset = words[1] & ~1
    handlers = sorted({w & ~1 for w in words[2:] if w and (w & ~1) in funcs})
    return reset, handlers, words[0]


class Analysis:
    def __init__(self, funcs, taken):
        self.funcs = funcs
        self.taken = taken
        self.memo = {}
        self.recursion = set()
        self.indirect_sites = []
        self.resolved_indirect = {}

    def indirect_targets(self, f):
        if f.addr in self.resolved_indirect:
            return self.resolved_indirect[f.addr]
        targets = None
        for caller_re, target_res in INDIRECT_TARGETS.items():
            if any(re.search(caller_re, n) for n in f.aliases):
                targets = {a for a, g in self.funcs.items()
                           if any(re.search(t, n) for t in target_res for n in g.aliases)}
                how = "known targets"
                break
        if targets is None:
            targets = set(self.taken)
            how = "any address-taken function"
        self.indirect_sites.append((f.name, f.indirect, how, len(targets)))
        self.resolved_indirect[f.addr] = targets
        return targets

    def depth(self, addr, stack=()):
        """(bytes, path) of the deepest call chain from addr."""
        if addr in self.memo:
            return self.memo[addr]
        f = self.funcs[addr]
        if addr in stack:
            self.recursion.add(f)
            return 0, []
        callees = set(f.calls)
        if f.indirect:
            callees |= self.indirect_targets(f)
        best, best_path = 0, []
        for c in callees:
            d, p = self.depth(c, stack + (addr,))
            if d > best:
                best, best_path = d, p
        bound = recursion_bound(f) or 1
        result = (f.frame * bound + best, [f] + best_path)
        # A result inside a cycle depends on the entry point: keep it only
        # when no cycle was cut below.
        if not any(n.addr in stack for n in best_path):
            self.memo[addr] = result
        return result


def describe(path):
    return " > ".join(f"{f.pretty}({f.frame}{'*' if f.frame_source != 'compiler' else ''})" for f in path)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--elf", required=True)
    ap.add_argument("--map", required=True)
    ap.add_argument("--build", required=True, help="build directory holding the .ci files")
    ap.add_argument("--stack", type=int, default=4096)
    ap.add_argument("--tools", default="arm-none-eabi-")
    ap.add_argument("--verbose", action="store_true")
    args = ap.parse_args()

    funcs = load_functions(args.tools, args.elf)
    parse_disassembly(args.tools, args.elf, funcs)
    assign_frames(funcs, parse_map(args.map), parse_ci(args.build))
    taken = address_taken(args.tools, args.elf, funcs)
    reset, handlers, _ = vector_roots(args.tools, args.elf, funcs)
    # The reset entry, main and the handlers are entered by the hardware or by
    # name, never through a pointer; a table word that happens to equal one
    # of them would otherwise invent recursion.
    taken -= {reset, *handlers}
    taken -= {a for a, f in funcs.items() if "main" in f.aliases}

    a = Analysis(funcs, taken)
    fg, fg_path = a.depth(reset)
    worst_handler, worst_path = 0, []
    for h in handlers:
        d, p = a.depth(h)
        if d > worst_handler:
            worst_handler, worst_path = d, p
    total = fg + EXCEPTION_FRAME + worst_handler

    print(f"stack: {total} of {args.stack} bytes worst case "
          f"= foreground {fg} + exception frame {EXCEPTION_FRAME} + handler {worst_handler}")
    print(f"  foreground: {describe(fg_path)}")
    print(f"  handler:    {describe(worst_path)}")
    print("  (* = sized from the machine code: no compiler stack figure)")
    dynamic = sorted(f.name for f in funcs.values() if f.dynamic)
    if dynamic:
        print(f"  dynamic frames (counted at their static part): {', '.join(dynamic)}")
    for name, sites, how, n in sorted(a.indirect_sites):
        name = next((f.pretty for f in funcs.values() if f.name == name), name)
        print(f"  indirect calls: {name} ({sites} site{'s' if sites > 1 else ''}) -> {how} ({n})")
    if args.verbose:
        print("  address-taken: " + ", ".join(sorted(funcs[t].pretty for t in taken)))

    failed = False
    unbounded = sorted(f.pretty for f in a.recursion if not recursion_bound(f))
    if unbounded:
        print(f"  RECURSION without a bound (counted once): {', '.join(unbounded)}")
        failed = True
    if total > args.stack:
        print(f"  OVER BUDGET by {total - args.stack} bytes")
        failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
