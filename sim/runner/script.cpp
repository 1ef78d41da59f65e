#include "script.h"

#include <cstdlib>
#include <cstring>
#include <sstream>

namespace runner {

namespace {

int hex_digit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool parse_seconds(const std::string& s, Nanos* out)
{
    char* end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    if (end == s.c_str() || *end != '\0' || !(v >= 0) || v > 1e9) return false;
    *out = static_cast<Nanos>(v * static_cast<double>(sim::kSecond) + 0.5);
    return true;
}

std::string trim(const std::string& s)
{
    const size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return "";
    const size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

}  // namespace

bool parse_quoted(const std::string& s, size_t* pos, std::string* out)
{
    size_t i = *pos;
    if (i >= s.size() || s[i] != '"') return false;
    ++i;
    out->clear();
    while (i < s.size() && s[i] != '"') {
        char c = s[i++];
        if (c != '\\') {
            out->push_back(c);
            continue;
        }
        if (i >= s.size()) return false;
        const char e = s[i++];
        switch (e) {
            case 'r':
                out->push_back('\r');
                break;
            case 'n':
                out->push_back('\n');
                break;
            case 't':
                out->push_back('\t');
                break;
            case '\\':
                out->push_back('\\');
                break;
            case '"':
                out->push_back('"');
                break;
            case 'x': {
                const int h = i < s.size() ? hex_digit(s[i]) : -1;
                const int l = i + 1 < s.size() ? hex_digit(s[i + 1]) : -1;
                if (h < 0 || l < 0) return false;
                out->push_back(static_cast<char>(h * 16 + l));
                i += 2;
                break;
            }
            default:
                return false;
        }
    }
    if (i >= s.size()) return false;
    *pos = i + 1;
    return true;
}

bool parse_script(const std::string& source, std::vector<ScriptCommand>* out, std::string* error)
{
    std::istringstream in(source);
    std::string raw;
    int line = 0;
    while (std::getline(in, raw)) {
        ++line;
        const std::string l = trim(raw);
        if (l.empty() || l[0] == '#') continue;
        const size_t sp = l.find_first_of(" \t");
        const std::string verb = l.substr(0, sp);
        std::string rest = sp == std::string::npos ? "" : trim(l.substr(sp));
        ScriptCommand c;
        c.line = line;
        bool ok = true;
        if (verb == "send" || verb == "expect") {
            size_t pos = 0;
            ok = parse_quoted(rest, &pos, &c.text);
            const std::string tail = ok ? trim(rest.substr(pos)) : "";
            if (verb == "send") {
                c.kind = ScriptCommand::Send;
                ok = ok && tail.empty();
            } else {
                c.kind = ScriptCommand::Expect;
                c.duration = kDefaultExpectLimit;
                ok = ok && !c.text.empty() && (tail.empty() || parse_seconds(tail, &c.duration));
            }
        } else if (verb == "wait") {
            c.kind = ScriptCommand::Wait;
            ok = parse_seconds(rest, &c.duration);
        } else {
            ok = false;
        }
        if (!ok) {
            *error = "line " + std::to_string(line) + ": cannot read \"" + l + "\"";
            return false;
        }
        out->push_back(c);
    }
    return true;
}

namespace {

// Finds `text` in the output after the last match; consumes through it.
// Only output that arrived since the last look is searched again.
bool match_output(OutputWindow& o, const std::string& text)
{
    if (o.match_at > o.len) o.match_at = o.len;
    size_t from = o.match_at;
    if (o.searched > o.len) o.searched = 0;
    if (o.searched >= text.size() && o.searched - text.size() + 1 > from) from = o.searched - text.size() + 1;
    o.searched = o.len;
    for (size_t i = from; i + text.size() <= o.len; ++i)
        if (std::memcmp(o.buf + i, text.data(), text.size()) == 0) {
            o.consume_through(i + text.size());
            return true;
        }
    return false;
}

}  // namespace

Nanos script_step(const std::vector<ScriptCommand>& script, World& w, Nanos now)
{
    ScriptState& s = w.script;
    while (!s.done && !s.failed) {
        if (s.pc >= script.size()) {
            s.done = true;
            break;
        }
        const ScriptCommand& c = script[s.pc];
        if (c.kind == ScriptCommand::Send) {
            w.host.push(reinterpret_cast<const uint8_t*>(c.text.data()), c.text.size(), now);
            ++s.pc;
            continue;
        }
        if (!s.waiting) {
            s.waiting = true;
            s.until = now + c.duration;
            w.out.searched = 0;
        }
        if (c.kind == ScriptCommand::Wait) {
            if (now < s.until) return s.until;
        } else if (w.out.searched == w.out.len && w.out.searched != 0 && now <= s.until) {
            return s.until + 1;  // nothing new to look at
        } else if (!match_output(w.out, c.text)) {
            if (now <= s.until) return s.until + 1;
            s.failed = true;
            break;
        }
        s.waiting = false;
        ++s.pc;
    }
    return sim::kNever;
}

size_t HostLine::push(const uint8_t* data, size_t n, Nanos earliest)
{
    size_t i = 0;
    for (; i < n && count < kCapacity; ++i) buf[(head + count++) % kCapacity] = data[i];
    if (i && (next == sim::kNever || next < earliest)) next = earliest;
    return i;
}

uint8_t HostLine::pop()
{
    const uint8_t b = buf[head];
    head = (head + 1) % kCapacity;
    --count;
    return b;
}

void OutputWindow::append(char c)
{
    if (len == kCapacity) {
        // Keep the newer half; the unmatched part moves with it.
        const size_t drop = kCapacity / 2;
        std::memmove(buf, buf + drop, kCapacity - drop);
        len -= drop;
        match_at = match_at > drop ? match_at - drop : 0;
        searched = searched > drop ? searched - drop : 0;
    }
    buf[len++] = c;
}

}  // namespace runner
