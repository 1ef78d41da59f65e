#include "fake_hw.h"

#include "hw.h"

namespace fake {

namespace {
Chip g_chip;
}

Chip& chip()
{
    return g_chip;
}
void reset()
{
    g_chip = Chip{};
}

std::string Chip::written_bytes(uint32_t addr) const
{
    std::string s;
    for (const Access& a : log)
        if (a.write && a.addr == addr) s.push_back(static_cast<char>(a.value & 0xFF));
    return s;
}

std::vector<uint32_t> Chip::writes_to(uint32_t addr) const
{
    std::vector<uint32_t> v;
    for (const Access& a : log)
        if (a.write && a.addr == addr) v.push_back(a.value);
    return v;
}

size_t Chip::reads_of(uint32_t addr) const
{
    size_t n = 0;
    for (const Access& a : log)
        if (!a.write && a.addr == addr) ++n;
    return n;
}

size_t Chip::first_write(uint32_t addr, size_t from) const
{
    for (size_t i = from; i < log.size(); ++i)
        if (log[i].write && log[i].addr == addr) return i;
    return npos;
}

std::function<uint32_t(uint32_t)> after_reads(int n, uint32_t busy, uint32_t ready)
{
    auto left = std::make_shared<int>(n);
    return [left, busy, ready](uint32_t) { return (*left)-- > 0 ? busy : ready; };
}

}  // namespace fake

namespace hw {

uint32_t read(uint32_t addr)
{
    fake::Chip& c = fake::chip();
    uint32_t v = c.regs[addr];
    auto hook = c.on_read.find(addr);
    if (hook != c.on_read.end()) v = hook->second(v);
    c.log.push_back({false, addr, v});
    return v;
}

void write(uint32_t addr, uint32_t value)
{
    fake::Chip& c = fake::chip();
    c.regs[addr] = value;
    c.log.push_back({true, addr, value});
    if (c.on_write) c.on_write(addr, value);
}

bool primask()
{
    return fake::chip().primask;
}
void cpsid()
{
    fake::chip().primask = true;
}
void cpsie()
{
    fake::chip().primask = false;
}
void barrier() {}
void delay_loop(uint32_t count)
{
    fake::chip().delays.push_back(count);
}

}  // namespace hw
