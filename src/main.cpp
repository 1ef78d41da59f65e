// Start-up dispatch and the operator's main menu. Every wake from
// hibernation is a reset, so this runs from the top each time and decides
// from the stored run state what to do.
#include "main.h"

#include <cstdint>

#include "IO.h"
#include "Init.h"
#include "Sleep.h"
#include "System.h"
#include "platform.h"
#include "uartstdio.h"

int dbg_flag = 0;

namespace {

const char* const VERSION_TEXT = "v3.3.1 NORV v2";
const char* const NONVOL_TEXT = "Nonvol mem: i2c Ferroelectric RAM";
constexpr uint16_t deployDelay = 30;  // main menu idle timeout, seconds

void print_volatile_record()
{
    uprintf("\nsys_data_chg.state = %u\n", static_cast<unsigned>(sys_data_chg.state));
    uprintf("\nsys_data_chg.nextWakeUp = %u\n", static_cast<unsigned>(sys_data_chg.nextWakeUp));
    uprintf("\nsys_data_chg.next_gdata_fptr = %u\n", static_cast<unsigned>(sys_data_chg.next_gdata_fptr));
    uprintf("\nsys_data_chg.current_sample = %u\n", static_cast<unsigned>(sys_data_chg.current_sample));
    uprintf("\nsys_data_chg.AD24_std = %f\n", static_cast<double>(sys_data_chg.AD24_std));
    uprintf("\nsys_data_chg.samp_state = %u\n", static_cast<unsigned>(sys_data_chg.samp_state));
    uprintf("\nsys_data_chg.chksum = 0x%08x\n", static_cast<unsigned>(sys_data_chg.chksum));
}

void print_help()
{
    uprintf("\n\nVersion -- %s, %s \n ", VERSION_TEXT, NONVOL_TEXT);
    uprintf(
        "\nNORV Power Consumption per Sample = ~0.2 Joules per sample:  12v, 1.2sec, ~14.5mA => "
        "12 * 14.5 * (1.2 / 3600) * 3.6 = ~0.2 Joules\n\n");
    uprintf("\n\n--------- Configuration --------------\n");
    uprintf("\nConfiguration checklist: (use Main Menu 1--Configure)\n");
    uprintf("\n1 -- Set Clock");
    uprintf("\n2 -- Change File Name");
    uprintf("\n3 -- Set Deployment Parameters");
    uprintf("\n        - Sample aligned to hour? (Y/N) [Y]?");
    uprintf("\n        - Enter sample period [20] sec:   Polled Mode: configure with a period of 0 seconds");
    uprintf("\n        - Enter pump on time [0] sec:");
    uprintf("\n        - Enter low battery_voltage (10.5 V for Marivant, 5.5 V for NORV) [5.5 V]:");
    uprintf("\n4 -- Enter pH Sensor Calibration Coefficients");
    uprintf("\n7 -- Config Data Fields");
    uprintf("\n");
    // The console ring holds 1024 bytes: let the first half drain.
    delay_ms(300);
    uprintf("\n\n------ Deployment Mode commands ------\n");
    uprintf("\nany character to wake, then issue command:\n");
    uprintf("\nstop  -- stop sampling, exit deployment mode");
    uprintf("\ngdata -- get data since last command");
    uprintf("\nts    -- take sample with 1.2 sec response time");
    uprintf("\nss    -- start sample followed by 'sl' command to send last sample, times out after 8 sec");
    uprintf("\ngh    -- get header");
    uprintf("\n");
    uprintf("\n");
}

void print_menu()
{
    uprintf("\n\n\nMain Menu -- %s -- Will sleep in %u seconds", VERSION_TEXT,
            static_cast<unsigned>(deployDelay));
    uprintf("\n1 -- Configure");
    uprintf("\n2 -- Deploy");
    uprintf("\n3 -- Test");
    uprintf("\n4 -- Sleep");
    uprintf("\n5 -- Files");
    uprintf("\nH -- Help");
    uprintf("\nEnter Selection: ");
}

void debug_reload_records(bool reset_first)
{
    if (reset_first) {
        uprintf("\n\ninitSysDataVolatileVariables()\n");
        initSysDataVolatileVariables();
        print_volatile_record();
    }
    uprintf("\n\nretrieveSysDataVariables()\n");
    retrieveSysDataVariables();
    print_volatile_record();
}

void run_selection(unsigned char key)
{
    const bool debug = dbg_flag == 1;
    switch (key) {
        case '1':
            configuration();
            break;
        case '2':
            deploy(START);
            break;
        case '3':
            test();
            break;
        case '4':
            sleep(IDLE, 0);
            break;
        case '5':
            viewFiles();
            break;
        case 'H':
        case 'h':
            print_help();
            break;
        case '6':
            if (debug) state_dump();
            break;
        case '7':
            if (debug) debug_reload_records(true);
            break;
        case '8':
            if (debug) debug_reload_records(false);
            break;
        case 'a':
            if (debug) {
                uprintf("\nled green toggle\n");
                led_green_toggle();
            }
            break;
        case 'b':
            if (debug) {
                uprintf("\nled red toggle\n");
                led_red_toggle();
            }
            break;
        default:
            break;
    }
}

// The idle timeout: hibernate when idle, otherwise carry on with the deployment.
void menu_timeout()
{
    if (sys_data.state == IDLE) {
        dbg_printf("\n***** SLEEP *****\n");
        sleep(IDLE, 0);
    }
    if (sys_data.state == DEPLOYED) {
        dbg_printf("\n***** D E P L O Y (was deployed, stay deployed) *****\n");
        deploy(DEPLOYED);
    } else {
        dbg_printf("\n***** D E P L O Y  (and write header) *****\n");
        deploy(START);
    }
}

}  // namespace

int main(void)
{
    Init();
    if (sys_data.state == DEPLOYED) deploy(DEPLOYED);
    if (sys_data.state == COMMAND) deploy(COMMAND);

    uprintf("\n*****Press enter to bring up main menu*****\n");
    for (;;) {
        UARTFlushRx();
        const uint32_t deadline = hib_rtc_get() + deployDelay;
        while (UARTRxBytesAvail() == 0) {
            if (hib_rtc_get() >= deadline) menu_timeout();
            platform_idle();
        }
        const unsigned char key = get_key();
        print_menu();
        run_selection(key);
    }
}

// ---------------------------------------------------------------------------
// Operations whose menus and sequences come with their own modules. Until
// then they return at once, and a deployment wake goes straight back to sleep.

void deploy(deploy_state state)
{
    if (state == START) return;
    sleep(static_cast<deploy_state>(sys_data.state), sys_data.state == DEPLOYED ? sys_data.nextWakeUp : 0);
}

void state_dump() {}
void configuration() {}
void test() {}
void viewFiles() {}
