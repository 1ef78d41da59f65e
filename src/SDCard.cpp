#include "SDCard.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "IO.h"
#include "platform.h"

FATFS g_sFatFs;
DIR g_sDirObject;
FILINFO g_sFileInfo;
FIL g_sFileObject;

namespace {

constexpr uint8_t PCTL_SSI0 = 2;
constexpr uint32_t SD_START_RATE_HZ = 1000000;
constexpr int SSI_FIFO_DEPTH = 8;

struct tFresultString {
    FRESULT fresult;
    const char* pcResultStr;
};

// Searched in this order; codes missing here are reported as unknown.
constexpr tFresultString g_sFresultStrings[] = {
    {FR_OK, "FR_OK"},
    {FR_NOT_READY, "FR_NOT_READY"},
    {FR_NO_FILE, "FR_NO_FILE"},
    {FR_NO_PATH, "FR_NO_PATH"},
    {FR_INVALID_NAME, "FR_INVALID_NAME"},
    {FR_INVALID_DRIVE, "FR_INVALID_DRIVE"},
    {FR_DENIED, "FR_DENIED"},
    {FR_EXIST, "FR_EXIST"},
    {FR_WRITE_PROTECTED, "FR_WRITE_PROTECTED"},
    {FR_NOT_ENABLED, "FR_NOT_ENABLED"},
    {FR_NO_FILESYSTEM, "FR_NO_FILESYSTEM"},
    {FR_INVALID_OBJECT, "FR_INVALID_OBJECT"},
    {FR_MKFS_ABORTED, "FR_MKFS_ABORTED"},
};

}  // namespace

const char* StringFromFresult(FRESULT fresult)
{
    const unsigned code = static_cast<unsigned>(fresult) & 0xFFu;
    for (const tFresultString& entry : g_sFresultStrings)
        if (static_cast<unsigned>(entry.fresult) == code) return entry.pcResultStr;
    return "UNKNOWN ERROR CODE";
}

void Init_SDCard(void)
{
    sysctl_periph_enable(Periph::SSI0);
    sysctl_periph_enable(Periph::GPIOA);
    const GpioPort port = pin_def(Signal::SdClk).port;
    uint8_t pins = 0;
    for (Signal s : {Signal::SdClk, Signal::SdCs, Signal::SdMiso, Signal::SdMosi}) {
        gpio_pin_function(port, pin_def(s).pin, PCTL_SSI0);
        pins |= pin_def(s).mask();
    }
    gpio_peripheral_pins(port, pins, PinKind::Ssi);
    ssi_config_master(SSI0_BASE, sysctl_clock_get(), SsiMode::Mode0, SD_START_RATE_HZ, 8);
    ssi_enable(SSI0_BASE);
    // Drop whatever an earlier user left in the receive FIFO.
    uint32_t junk;
    int drained = 0;
    while (drained < SSI_FIFO_DEPTH && ssi_get_nb(SSI0_BASE, &junk)) ++drained;

    const FRESULT res = f_mount(&g_sFatFs, "", 0);
    if (res != FR_OK) uprintf("f_mount error: %s\n", StringFromFresult(res));
}

int sd_fprintf(FIL* fil, const char* format, ...)
{
    char buf[SD_FPRINTF_MAX + 1];
    va_list ap;
    va_start(ap, format);
    const int n = vsnprintf(buf, sizeof buf, format, ap);
    va_end(ap);
    if (n < 0) buf[0] = '\0';

    UINT written = 0;
    const FRESULT res = f_write(fil, buf, static_cast<UINT>(strlen(buf)), &written);
    if (res != FR_OK) uprintf("f_write error: %s\n", StringFromFresult(res));
    return static_cast<int>(written);
}
