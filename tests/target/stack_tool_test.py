#!/usr/bin/env python3
"""Test of tools/stack_usage.py on small images of known shape, built here
with the firmware's compiler, flags and linker script.

The expected depths are summed from the compiler's own .su files along the
paths the fixture is written to have; the tool must find the same worst
case, resolve the indirect call to both table entries, fail on unbounded
recursion and on a frame larger than the stack.
"""

import argparse
import os
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
LINKER_SCRIPT = os.path.join(ROOT, "src", "platform", "tm4c123", "tm4c123gh6pge.ld")
EXCEPTION_FRAME = 108

FIXTURE = r'''
#include <cstdint>
extern "C" uint32_t __stack_top[];
volatile int sink;

__attribute__((noinline)) void leaf(volatile char* p) { p[0] = 1; sink = p[0]; }
__attribute__((noinline)) void mid() { volatile char buf[100]; buf[1] = 2; leaf(buf); sink = buf[2]; }
__attribute__((noinline)) void deep() { volatile char buf[300]; buf[1] = 2; mid(); sink = buf[3]; }
__attribute__((noinline)) void shallow() { volatile char b[8]; b[1] = 2; leaf(b); sink = b[2]; }

using Fn = void (*)();
__attribute__((used)) Fn const g_table[] = {deep, shallow};
__attribute__((noinline)) void dispatch(int i) { volatile char b[24]; b[0] = 1; g_table[i & 1](); sink = b[0]; }

#ifdef RECURSE
__attribute__((noinline)) void rec(int n) { volatile char b[16]; b[0] = 1; if (n > 0) rec(n - 1); sink = b[0]; }
#endif

void ResetISR()
{
    dispatch(sink);
#ifdef RECURSE
    rec(sink);
#endif
#ifdef HUGE_FRAME
    volatile char big[5000];
    leaf(big);
    sink = big[4];
#endif
    for (;;) {
    }
}

__attribute__((noinline)) void Spin() { for (;;) { } }
void Handler() { volatile char b[40]; b[0] = 1; shallow(); sink = b[0]; }

union V { void (*f)(); const void* p; uintptr_t z;
          constexpr V() : z(0) {} constexpr V(void (*h)()) : f(h) {} constexpr V(const uint32_t* s) : p(s) {}
          constexpr V(int) : z(0) {} };
extern const V g_vec[155];
__attribute__((section(".isr_vector"), used)) const V g_vec[155] = {__stack_top, ResetISR, Spin, Spin, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, Handler, Handler};
'''


def build(tools, workdir, defines):
    src = os.path.join(workdir, "fixture.cpp")
    with open(src, "w") as f:
        f.write(FIXTURE)
    obj = os.path.join(workdir, "fixture.o")
    elf = os.path.join(workdir, "fixture.elf")
    mapf = os.path.join(workdir, "fixture.map")
    flags = ["-mcpu=cortex-m4", "-mthumb", "-mfloat-abi=hard", "-mfpu=fpv4-sp-d16", "-Os",
             "-ffunction-sections", "-fdata-sections", "-fstack-usage", "-fcallgraph-info=su",
             "-fno-exceptions", "-fno-rtti", "--specs=picolibc.specs", "-std=c++17"]
    subprocess.run([tools + "g++", *flags, *defines, "-c", src, "-o", obj], check=True, cwd=workdir)
    subprocess.run([tools + "g++", *flags, "-nostartfiles", "-Wl,--gc-sections", "-T" + LINKER_SCRIPT,
                    "-Wl,-Map=" + mapf, obj, "-o", elf], check=True, cwd=workdir)
    return elf, mapf


def su_frames(workdir):
    frames = {}
    for line in open(os.path.join(workdir, "fixture.su")):
        loc, size, _ = line.rstrip("\n").split("\t")
        name = re.search(r":(?:\d+:){2}(.*)$", loc).group(1)
        frames[re.sub(r"^\w+\s+", "", name)] = int(size)  # drop the return type
    return frames


def analyse(tool, tools, workdir, elf, mapf):
    r = subprocess.run([sys.executable, tool, "--elf", elf, "--map", mapf, "--build", workdir,
                        "--tools", tools], capture_output=True, text=True)
    return r.returncode, r.stdout + r.stderr


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", required=True)
    ap.add_argument("--build", required=True)
    ap.add_argument("--tools", default="arm-none-eabi-")
    a = ap.parse_args()
    failures = []

    def expect(cond, what, output):
        if not cond:
            failures.append(f"{what}\n--- tool output ---\n{output}")

    with tempfile.TemporaryDirectory(dir=os.path.abspath(a.build)) as work:
        elf, mapf = build(a.tools, work, [])
        f = su_frames(work)
        chain_deep = f["deep()"] + f["mid()"] + f["leaf(volatile char*)"]
        chain_shallow = f["shallow()"] + f["leaf(volatile char*)"]
        foreground = f["ResetISR()"] + f["dispatch(int)"] + max(chain_deep, chain_shallow)
        handler = f["Handler()"] + chain_shallow
        want = foreground + EXCEPTION_FRAME + handler
        rc, out = analyse(a.tool, a.tools, work, elf, mapf)
        expect(rc == 0, f"in-budget image: exit {rc}, expected 0", out)
        m = re.search(r"stack: (\d+) of 4096", out)
        expect(m and int(m.group(1)) == want,
               f"worst case {m.group(1) if m else '?'} bytes, expected {want} (from the .su files)", out)
        expect("deep()" in out.split("foreground:")[1].split("\n")[0],
               "the deepest foreground path must run through the indirect call to deep()", out)
        expect(re.search(r"indirect calls: dispatch\(int\) .*any address-taken function \(2\)", out),
               "the indirect call must be reported and resolved to the two table entries", out)

    with tempfile.TemporaryDirectory(dir=os.path.abspath(a.build)) as work:
        elf, mapf = build(a.tools, work, ["-DRECURSE"])
        rc, out = analyse(a.tool, a.tools, work, elf, mapf)
        expect(rc == 1 and "RECURSION without a bound" in out and "rec(int)" in out,
               "recursion must be reported and fail the budget", out)

    with tempfile.TemporaryDirectory(dir=os.path.abspath(a.build)) as work:
        elf, mapf = build(a.tools, work, ["-DHUGE_FRAME"])
        rc, out = analyse(a.tool, a.tools, work, elf, mapf)
        expect(rc == 1 and "OVER BUDGET" in out, "a 5000-byte frame must exceed the 4096-byte stack", out)

    for f in failures:
        print("FAIL:", f)
    if not failures:
        print("stack tool: ok")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
