#include "options.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace runner {

namespace {

const char* const kUsage =
    "usage: marivant-sim [options]\n"
    "  --state DIR           persistent state directory (default ./marivant-state)\n"
    "  --rt | --no-rt        pace virtual time to the wall clock, or run as fast as possible\n"
    "  --clock \"YYYY-MM-DD HH:MM:SS\"  set the battery-backed clock before the first boot\n"
    "  --script FILE         drive the console from a script, in virtual time\n"
    "  --until SECONDS       stop after this much virtual time\n"
    "  --transcript FILE     also write everything the console sends to FILE\n"
    "  --pty                 put the console on its own pseudo-terminal\n"
    "  --scenario FILE       water temperature, salinity and pH over time\n"
    "  --card-type TYPE      sd2-block (default), sd2-byte, sd1, mmc\n"
    "  --fault NAME[=N]      fram-absent, no-card, card-never-ready, card-write-refused,\n"
    "                        card-power-cut=N, iso-dead, noniso-dead, iso-supply-failed\n"
    "  --bench-fixture       isolated board inputs are the fixture board's voltages\n"
    "  --quiet               do not copy the console to standard output\n"
    "On a terminal, Ctrl-] quits; every other key goes to the instrument.\n";

bool parse_number(const char* s, double* out)
{
    char* end = nullptr;
    *out = std::strtod(s, &end);
    return end != s && *end == '\0' && *out >= 0;
}

bool apply_fault(const std::string& f, sim::BoardConfig* b)
{
    const size_t eq = f.find('=');
    const std::string name = f.substr(0, eq);
    const std::string value = eq == std::string::npos ? "" : f.substr(eq + 1);
    if (name == "fram-absent")
        b->fram_present = false;
    else if (name == "no-card")
        b->card_present = false;
    else if (name == "card-never-ready")
        b->card_never_ready = true;
    else if (name == "card-write-refused")
        b->card_write_refused = true;
    else if (name == "card-power-cut") {
        double n;
        if (!parse_number(value.c_str(), &n) || n < 1) return false;
        b->card_power_cut_after = static_cast<uint32_t>(n);
    } else if (name == "iso-dead")
        b->iso_converter_dead = true;
    else if (name == "noniso-dead")
        b->noniso_converter_dead = true;
    else if (name == "iso-supply-failed")
        b->iso_supply_failed = true;
    else
        return false;
    return true;
}

bool apply_card_type(const std::string& t, sim::BoardConfig* b)
{
    if (t == "sd2-block")
        b->card_type = sim::CardType::SdV2Block;
    else if (t == "sd2-byte")
        b->card_type = sim::CardType::SdV2Byte;
    else if (t == "sd1")
        b->card_type = sim::CardType::SdV1;
    else if (t == "mmc")
        b->card_type = sim::CardType::Mmc;
    else
        return false;
    return true;
}

}  // namespace

bool parse_clock(const std::string& text, uint32_t* seconds)
{
    int y, mo, d, h, mi, s;
    char tail;
    if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d%c", &y, &mo, &d, &h, &mi, &s, &tail) != 6) return false;
    if (y < 1900 || y > 2035 || mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 ||
        mi > 59 || s < 0 || s > 59)
        return false;
    // Days since 1900-01-01 (civil calendar).
    const int yy = mo <= 2 ? y - 1 : y;
    const long era = yy / 400;
    const long yoe = yy - era * 400;
    const long doy = (153 * (mo + (mo > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const long days1970 = era * 146097 + doe - 719468;
    const long long t = (days1970 + 25567) * 86400LL + h * 3600LL + mi * 60LL + s;
    if (t < 0 || t > 0xFFFFFFFFLL) return false;
    *seconds = static_cast<uint32_t>(t);
    return true;
}

int parse_options(int argc, char** argv, Options* opt)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](const char* what) -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "marivant-sim: %s needs %s\n", a.c_str(), what);
                return nullptr;
            }
            return argv[++i];
        };
        const char* v = nullptr;
        double n = 0;
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--rt" || a == "--no-rt") {
            opt->realtime = a == "--rt";
            opt->realtime_set = true;
        } else if (a == "--pty") {
            opt->pty = true;
        } else if (a == "--quiet") {
            opt->quiet = true;
        } else if (a == "--bench-fixture") {
            opt->board.bench_fixture = true;
        } else if (a == "--state") {
            if (!(v = value("a directory"))) return 2;
            opt->state_dir = v;
        } else if (a == "--clock") {
            if (!(v = value("a time"))) return 2;
            if (!parse_clock(v, &opt->clock_seconds)) {
                std::fprintf(
                    stderr,
                    "marivant-sim: --clock wants \"YYYY-MM-DD HH:MM:SS\" (1900 to 2035), not \"%s\"\n", v);
                return 2;
            }
            opt->clock_set = true;
        } else if (a == "--script") {
            if (!(v = value("a file"))) return 2;
            opt->script_path = v;
            opt->has_script = true;
        } else if (a == "--until") {
            if (!(v = value("seconds"))) return 2;
            if (!parse_number(v, &n)) {
                std::fprintf(stderr, "marivant-sim: --until wants seconds, not \"%s\"\n", v);
                return 2;
            }
            opt->until = static_cast<sim::Nanos>(n * static_cast<double>(sim::kSecond));
        } else if (a == "--transcript") {
            if (!(v = value("a file"))) return 2;
            opt->transcript_path = v;
        } else if (a == "--scenario") {
            if (!(v = value("a file"))) return 2;
            opt->scenario_path = v;
        } else if (a == "--card-type") {
            if (!(v = value("a card type"))) return 2;
            if (!apply_card_type(v, &opt->board)) {
                std::fprintf(stderr, "marivant-sim: unknown card type \"%s\"\n", v);
                return 2;
            }
        } else if (a == "--fault") {
            if (!(v = value("a fault name"))) return 2;
            if (!apply_fault(v, &opt->board)) {
                std::fprintf(stderr, "marivant-sim: unknown fault \"%s\"\n", v);
                return 2;
            }
        } else {
            std::fprintf(stderr, "marivant-sim: unknown option \"%s\"\n%s", a.c_str(), kUsage);
            return 2;
        }
    }
    return -1;
}

}  // namespace runner
