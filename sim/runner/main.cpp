// marivant-sim: the instrument's firmware on the simulated board.
//
// Each boot of the instrument runs in a fresh process forked from this one,
// which never runs firmware code: every firmware static starts at its initial
// value, exactly as after a reset. What survives a boot lives in the state
// directory (EEPROM, FRAM, clock, card) and in the shared World (virtual
// time, the console line, the script's progress).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "board.h"
#include "config.h"
#include "environment.h"
#include "hibernate.h"
#include "options.h"
#include "persistent.h"
#include "script.h"
#include "uart.h"
#include "vectors.h"
#include "world.h"

namespace runner {
namespace {

constexpr uint8_t kQuitKey = 0x1D;  // Ctrl-]

Options g_opt;
World* g_world = nullptr;
std::vector<ScriptCommand> g_script;
sim::Persistent g_persist;
int g_in_fd = -1;  // console input from the host side, -1 when none
int g_out_fd = 1;  // console output to the host side
int g_transcript_fd = -1;
bool g_raw_terminal = false;
termios g_saved_termios;

// Wall-clock pacing: virtual time `g_pace_virt` corresponds to wall time `g_pace_wall`.
Nanos g_pace_virt = 0;
Nanos g_pace_wall = 0;

Nanos wall_now()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<Nanos>(ts.tv_sec) * sim::kSecond + static_cast<Nanos>(ts.tv_nsec);
}

void write_all(int fd, const char* p, size_t n)
{
    while (n) {
        const ssize_t w = write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return;
        p += w;
        n -= static_cast<size_t>(w);
    }
}

// ---------------------------------------------------------------------------
// Host side of the console

void finish(int code)
{
    g_world->exit_code = code;
    g_world->stop = Stop::Exit;
}

// Reads what the terminal or pipe has, without waiting longer than `timeout_ms`.
void poll_input(int timeout_ms, Nanos arrival)
{
    if (g_in_fd < 0 || g_world->input_closed) {
        if (timeout_ms > 0) {
            timespec ts{timeout_ms / 1000, (timeout_ms % 1000) * 1000000L};
            nanosleep(&ts, nullptr);
        }
        return;
    }
    pollfd p{g_in_fd, POLLIN, 0};
    const int r = poll(&p, 1, timeout_ms);
    if (r <= 0) return;
    uint8_t buf[256];
    const ssize_t n = read(g_in_fd, buf, sizeof(buf));
    if (n <= 0) {
        // Pseudo-terminals report a hang-up while no program holds the other side.
        if (!g_opt.pty) g_world->input_closed = true;
        return;
    }
    for (ssize_t i = 0; i < n; ++i) {
        if (g_opt.interactive && buf[i] == kQuitKey) {
            finish(0);
            return;
        }
    }
    g_world->host.push(buf, static_cast<size_t>(n), arrival);
}

// Waits in real time until virtual time `target` is due, taking keys meanwhile.
void pace_to(Nanos target)
{
    if (!g_opt.realtime) {
        if (g_in_fd >= 0 && !g_world->input_closed) poll_input(0, g_world->now);
        return;
    }
    for (;;) {
        const Nanos wall_due = g_pace_wall + (target - g_pace_virt);
        const Nanos wall = wall_now();
        if (wall >= wall_due || g_world->stop == Stop::Exit) return;
        const Nanos left = wall_due - wall;
        const int ms = static_cast<int>(left / sim::kMilli) + 1;
        const size_t before = g_world->host.count;
        const Nanos virt_now = g_pace_virt + (wall_now() - g_pace_wall);
        poll_input(ms > 100 ? 100 : ms, virt_now);
        if (g_world->host.count != before) return;  // a key: let the board see it
    }
}

void console_byte_out(uint8_t b)
{
    const char c = static_cast<char>(b);
    g_world->out.append(c);
    if (!g_opt.quiet) write_all(g_out_fd, &c, 1);
    if (g_transcript_fd >= 0) write_all(g_transcript_fd, &c, 1);
}

// The terminal side of UART0 in a running boot.
class ConsolePeer : public sim::SerialPeer, public sim::Device {
public:
    explicit ConsolePeer(sim::Board& b) : board_(b) {}
    void receive(uint8_t byte, Nanos) override { console_byte_out(byte); }

    Nanos next_event() const override { return g_world->host.count ? g_world->host.next : sim::kNever; }
    void run_until(Nanos now) override
    {
        HostLine& h = g_world->host;
        sim::Uart& u = board_.uart(0);
        while (h.count && h.next <= now) {
            u.line_receive(h.pop());
            h.next = h.count ? h.next + u.char_time() : sim::kNever;
        }
    }

private:
    sim::Board& board_;
};

// The script as a device: its waits and deadlines are events of the board.
class ScriptDevice : public sim::Device {
public:
    Nanos next_event() const override { return next_; }
    void run_until(Nanos now) override { next_ = script_step(g_script, *g_world, now); }
    void poke(Nanos now) { next_ = script_step(g_script, *g_world, now); }

private:
    Nanos next_ = 0;
};

ScriptDevice* g_script_device = nullptr;

// ---------------------------------------------------------------------------
// One boot

void end_boot_if_due(Nanos now)
{
    g_world->now = now;
    if (g_script_device) g_script_device->poke(now);
    if (g_opt.has_script && g_world->script.failed) finish(1);
    if (g_opt.has_script && g_world->script.done && g_world->stop == Stop::None) finish(0);
    if (g_opt.until != sim::kNever && now >= g_opt.until) finish(0);
    if (g_world->stop != Stop::None) _exit(0);
}

void on_hibernate()
{
    g_world->host_baud = sim::board().uart(0).baud();
    g_world->stop = Stop::Hibernate;
    _exit(0);
}

void board_pace(Nanos now, Nanos target)
{
    g_world->now = now;
    pace_to(target);
    if (g_world->stop != Stop::None) _exit(0);
}

[[noreturn]] void run_boot()
{
    sim::BoardConfig config = g_opt.board;
    sim::Board board(g_persist, config, g_world->now);
    sim::set_board(&board);
    sim_install_vectors(board);
    ConsolePeer console(board);
    board.uart(0).attach(&console);
    board.add_device(&console);
    ScriptDevice script;
    if (g_opt.has_script) {
        g_script_device = &script;
        board.add_device(&script);
    }
    board.hooks.after_advance = end_boot_if_due;
    board.hooks.hibernate = on_hibernate;
    board.hooks.pace = board_pace;

    sim_reset_entry();
    // The firmware's main never returns on the instrument.
    fprintf(stderr, "marivant-sim: the firmware returned from main\n");
    finish(3);
    _exit(0);
}

// ---------------------------------------------------------------------------
// Hibernation, in this process: time jumps to the first wake.

// Virtual time of the next thing that happens while the chip is off.
Nanos next_hibernation_event(Nanos script_next)
{
    const sim::HibState& h = *g_persist.hib;
    Nanos t = sim::kNever;
    if (h.wake_sources & sim::Hibernate::kWakeRtc) t = sim::rtc_time_of(h, h.match0);
    if (g_world->host.count && g_world->host.next < t) t = g_world->host.next;
    if (script_next < t) t = script_next;
    if (g_opt.until < t) t = g_opt.until;
    return t;
}

// Returns true when the chip wakes, false when the run ends.
bool hibernate_until_wake()
{
    sim::HibState& h = *g_persist.hib;
    for (;;) {
        Nanos now = g_world->now;
        const Nanos script_next = g_opt.has_script ? script_step(g_script, *g_world, now) : sim::kNever;
        if (g_opt.has_script && g_world->script.failed) return finish(1), false;
        if (g_opt.has_script && g_world->script.done) return finish(0), false;
        if (g_opt.until != sim::kNever && now >= g_opt.until) return finish(0), false;
        if (g_world->stop == Stop::Exit) return false;

        Nanos t = next_hibernation_event(script_next);
        const bool input_possible = g_in_fd >= 0 && !g_world->input_closed;
        if (t == sim::kNever && !input_possible) {
            fprintf(stderr, "marivant-sim: the instrument hibernates with no wake source left\n");
            return finish(0), false;
        }
        if (g_opt.realtime || input_possible) {
            // Take keys until the next event is due (or for ever when none is).
            const Nanos target = t == sim::kNever ? now + sim::kSecond : t;
            const size_t before = g_world->host.count;
            pace_to(target);
            if (g_world->stop == Stop::Exit) return false;
            if (g_world->host.count != before) {
                if (g_opt.realtime) {
                    const Nanos virt = g_pace_virt + (wall_now() - g_pace_wall);
                    g_world->now = virt > now ? virt : now;
                }
                continue;
            }
            if (t == sim::kNever) {
                g_world->now = target;
                continue;
            }
        }
        const Nanos rtc_due =
            (h.wake_sources & sim::Hibernate::kWakeRtc) ? sim::rtc_time_of(h, h.match0) : sim::kNever;
        if (t > now) g_world->now = now = t;  // time never runs backwards
        sim::rtc_sync(h, now);

        // Console activity asserts the wake pin; the byte itself is lost,
        // as are the bytes that follow it while the chip is still off.
        if (g_world->host.count && g_world->host.next <= now) {
            g_world->host.pop();
            g_world->host.next = g_world->host.count ? now + sim::char_time(g_world->host_baud) : sim::kNever;
            if (h.wake_sources & sim::Hibernate::kWakePin) {
                h.raw_status |= sim::Hibernate::kPinWake;
                return true;
            }
            continue;
        }
        if (rtc_due <= now) {
            h.raw_status |= sim::Hibernate::kRtcMatch0;
            return true;
        }
    }
}

}  // namespace
}  // namespace runner

namespace runner {
namespace {

// Maps a file of the state directory, creating it with `fresh` contents.
void* map_state_file(const std::string& path, size_t size, bool* created)
{
    int fd = open(path.c_str(), O_RDWR);
    *created = false;
    if (fd < 0 && errno == ENOENT) {
        fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0644);
        *created = true;
    }
    if (fd < 0) return nullptr;
    struct stat st;
    if (fstat(fd, &st) != 0 ||
        (static_cast<size_t>(st.st_size) != size && ftruncate(fd, static_cast<off_t>(size)) != 0)) {
        close(fd);
        return nullptr;
    }
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    return p == MAP_FAILED ? nullptr : p;
}

bool open_state(const std::string& dir)
{
    if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
        fprintf(stderr, "marivant-sim: cannot create state directory %s: %s\n", dir.c_str(), strerror(errno));
        return false;
    }
    bool new_eeprom, new_fram, new_clock;
    g_persist.eeprom =
        static_cast<uint8_t*>(map_state_file(dir + "/eeprom.bin", sim::kEepromBytes, &new_eeprom));
    g_persist.fram = static_cast<uint8_t*>(map_state_file(dir + "/fram.bin", sim::kFramBytes, &new_fram));
    g_persist.hib =
        static_cast<sim::HibState*>(map_state_file(dir + "/clock.bin", sizeof(sim::HibState), &new_clock));
    if (!g_persist.eeprom || !g_persist.fram || !g_persist.hib) {
        fprintf(stderr, "marivant-sim: cannot open the state files in %s\n", dir.c_str());
        return false;
    }
    // A new part is factory-fresh: blank memories, a stopped clock.
    if (new_eeprom) memset(g_persist.eeprom, 0xFF, sim::kEepromBytes);
    if (new_fram) memset(g_persist.fram, 0xFF, sim::kFramBytes);
    if (new_clock || g_persist.hib->magic != sim::kHibMagic) {
        memset(g_persist.hib, 0, sizeof(sim::HibState));
        g_persist.hib->magic = sim::kHibMagic;
    }
    // Virtual time starts again at 0 in every run; the count carries on.
    g_persist.hib->rtc_anchor = 0;
    return true;
}

bool load_script(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        fprintf(stderr, "marivant-sim: cannot read script %s\n", path.c_str());
        return false;
    }
    std::stringstream ss;
    ss << in.rdbuf();
    std::string error;
    if (!parse_script(ss.str(), &g_script, &error)) {
        fprintf(stderr, "marivant-sim: %s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    return true;
}

void restore_terminal()
{
    if (g_raw_terminal) tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_termios);
    g_raw_terminal = false;
}

void raw_terminal()
{
    if (tcgetattr(STDIN_FILENO, &g_saved_termios) != 0) return;
    termios raw = g_saved_termios;
    cfmakeraw(&raw);
    raw.c_oflag |= OPOST | ONLCR;  // keep our own messages readable
    raw.c_oflag &= ~static_cast<tcflag_t>(ONLCR);
    tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    g_raw_terminal = true;
    atexit(restore_terminal);
}

bool open_pty()
{
    const int fd = posix_openpt(O_RDWR | O_NOCTTY);
    if (fd < 0 || grantpt(fd) != 0 || unlockpt(fd) != 0) return false;
    const char* name = ptsname(fd);
    if (!name) return false;
    // The line is raw: bytes pass unchanged in both directions. The slave
    // stays open here (never read), so that the master does not report a
    // hang-up while no terminal program is connected.
    const int slave = open(name, O_RDWR | O_NOCTTY);
    if (slave >= 0) {
        termios t;
        if (tcgetattr(slave, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(slave, TCSANOW, &t);
        }
    }
    g_in_fd = g_out_fd = fd;
    fprintf(stdout, "marivant-sim: console on %s\n", name);
    fflush(stdout);
    return true;
}

void print_failure_report()
{
    const ScriptState& s = g_world->script;
    if (s.pc < g_script.size()) {
        const ScriptCommand& c = g_script[s.pc];
        fprintf(stderr, "\nmarivant-sim: script line %d: expect \"%s\" not seen within %.3f s\n", c.line,
                c.text.c_str(), static_cast<double>(c.duration) / sim::kSecond);
    }
    // The last 40 lines of console output.
    const OutputWindow& o = g_world->out;
    size_t start = o.len;
    int lines = 0;
    while (start > 0 && lines <= 40) {
        --start;
        if (o.buf[start] == '\n') ++lines;
    }
    if (o.buf[start] == '\n') ++start;
    fprintf(stderr, "--- last console output ---\n");
    fwrite(o.buf + start, 1, o.len - start, stderr);
    fprintf(stderr, "\n---\n");
}

void setup_world()
{
    void* p = mmap(nullptr, sizeof(World), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) {
        perror("marivant-sim: mmap");
        exit(3);
    }
    g_world = static_cast<World*>(p);
    memset(g_world, 0, sizeof(World));
    g_world->host.clear();
    g_world->host_baud = 115200;
}

// Runs one boot in a child process; returns false when the run is over.
bool boot_once()
{
    fflush(stdout);
    fflush(stderr);
    g_world->stop = Stop::None;
    const pid_t pid = fork();
    if (pid < 0) {
        perror("marivant-sim: fork");
        finish(3);
        return false;
    }
    if (pid == 0) {
        // A boot never outlives the simulator that started it.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() == 1) _exit(0);
        run_boot();
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) != 0)) {
        fprintf(stderr, "\nmarivant-sim: the instrument's process ended abnormally (%s %d)\n",
                WIFSIGNALED(status) ? "signal" : "status",
                WIFSIGNALED(status) ? WTERMSIG(status) : WEXITSTATUS(status));
        finish(3);
        return false;
    }
    return g_world->stop == Stop::Hibernate;
}

int run()
{
    if (g_opt.interactive && g_persist.hib->hibernating)
        fprintf(stderr, "marivant-sim: the instrument is hibernating; a key wakes it. Ctrl-] quits.\r\n");
    for (;;) {
        if (g_persist.hib->hibernating) {
            if (g_opt.interactive) fprintf(stderr, "\r\n[marivant-sim: hibernating]\r\n");
            g_world->stop = Stop::None;
            if (!hibernate_until_wake()) break;
            g_persist.hib->hibernating = 0;
            if (g_opt.interactive) {
                const bool pin = g_persist.hib->raw_status & sim::Hibernate::kPinWake;
                fprintf(stderr, "[marivant-sim: woken by %s]\r\n", pin ? "a key" : "the clock");
            }
        }
        if (!boot_once()) break;
    }
    sim::rtc_sync(*g_persist.hib, g_world->now);
    if (g_world->script.failed) print_failure_report();
    return g_world->exit_code;
}

}  // namespace
}  // namespace runner

int main(int argc, char** argv)
{
    using namespace runner;
    const int code = parse_options(argc, argv, &g_opt);
    if (code >= 0) return code;
    // A person or a terminal program on the other end wants real time; a
    // script wants the answer fast.
    if (!g_opt.realtime_set) g_opt.realtime = !g_opt.has_script && (g_opt.pty || isatty(STDIN_FILENO));

    setup_world();
    if (g_opt.has_script && !load_script(g_opt.script_path)) return 2;
    if (!open_state(g_opt.state_dir)) return 2;
    if (g_opt.clock_set) {
        g_persist.hib->rtc_seconds = g_opt.clock_seconds;
        g_persist.hib->rtc_anchor = 0;
    }
    static std::string card_path = g_opt.state_dir + "/sdcard.img";
    g_opt.board.card_image = card_path.c_str();
    if (!g_opt.scenario_path.empty()) {
        std::string error;
        if (!sim::check_scenario_file(g_opt.scenario_path.c_str(), &error)) {
            fprintf(stderr, "marivant-sim: scenario %s: %s\n", g_opt.scenario_path.c_str(), error.c_str());
            return 2;
        }
        g_opt.board.scenario = g_opt.scenario_path.c_str();
    }

    if (!g_opt.transcript_path.empty()) {
        g_transcript_fd = open(g_opt.transcript_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (g_transcript_fd < 0) {
            fprintf(stderr, "marivant-sim: cannot write %s\n", g_opt.transcript_path.c_str());
            return 2;
        }
    }
    if (g_opt.pty) {
        if (!open_pty()) {
            fprintf(stderr, "marivant-sim: cannot open a pseudo-terminal\n");
            return 2;
        }
    } else if (!g_opt.has_script) {
        g_in_fd = STDIN_FILENO;
        if (isatty(STDIN_FILENO)) {
            g_opt.interactive = true;
            raw_terminal();
            fprintf(stderr, "marivant-sim: state in %s; Ctrl-] quits.\r\n", g_opt.state_dir.c_str());
        }
    }
    signal(SIGPIPE, SIG_IGN);
    g_pace_virt = 0;
    g_pace_wall = wall_now();
    const int rc = run();
    restore_terminal();
    return rc;
}
