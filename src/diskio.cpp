// SD and MMC cards in SPI mode. Every byte is one blocking exchange on SSI0;
// every wait on the card is bounded by the two 10 ms count-downs that
// disk_timerproc runs from the SysTick interrupt.
#include "diskio.h"

#include <cstring>
#include <initializer_list>

#include "IO.h"
#include "Sleep.h"
#include "platform.h"

namespace {

constexpr uint32_t SD_SSI = SSI0_BASE;
constexpr uint8_t PCTL_SSI0 = 2;  // port A pins 2 to 5
constexpr uint32_t INIT_RATE_HZ = 400000;
constexpr uint32_t MAX_RATE_HZ = 12500000;
constexpr uint32_t PERIPH_READY_POLLS = 1000;
constexpr UINT SECTOR_BYTES = 512;
// Highest sector a byte-addressed card can reach with a 32-bit address.
constexpr DWORD BYTE_ADDRESS_LAST_SECTOR = 0xFFFFFFFFu / SECTOR_BYTES;

// Card type bits.
constexpr BYTE CT_MMC = 0x01;
constexpr BYTE CT_SD = 0x02;
constexpr BYTE CT_BLOCK = 0x04;

// Command bytes: 0x40 + index.
constexpr BYTE CMD0 = 0x40 + 0;    // go idle
constexpr BYTE CMD1 = 0x40 + 1;    // MMC initialise
constexpr BYTE CMD8 = 0x40 + 8;    // interface condition
constexpr BYTE CMD9 = 0x40 + 9;    // read CSD
constexpr BYTE CMD10 = 0x40 + 10;  // read CID
constexpr BYTE CMD12 = 0x40 + 12;  // stop transmission
constexpr BYTE CMD16 = 0x40 + 16;  // set block length
constexpr BYTE CMD17 = 0x40 + 17;  // read one block
constexpr BYTE CMD18 = 0x40 + 18;  // read blocks
constexpr BYTE CMD23 = 0x40 + 23;  // (after CMD55) blocks to pre-erase
constexpr BYTE CMD24 = 0x40 + 24;  // write one block
constexpr BYTE CMD25 = 0x40 + 25;  // write blocks
constexpr BYTE CMD41 = 0x40 + 41;  // (after CMD55) SD initialise
constexpr BYTE CMD55 = 0x40 + 55;  // application command prefix
constexpr BYTE CMD58 = 0x40 + 58;  // read OCR

constexpr DWORD CMD8_ARG = 0x1AA;        // 2.7-3.6 V, check pattern 0xAA
constexpr DWORD ACMD41_HCS = 1UL << 30;  // host supports high capacity
constexpr BYTE CRC_CMD0 = 0x95;
constexpr BYTE CRC_CMD8 = 0x87;

constexpr BYTE TOKEN_BLOCK = 0xFE;  // single block, and every block read
constexpr BYTE TOKEN_MULTI = 0xFC;  // each block of a multi-block write
constexpr BYTE TOKEN_STOP = 0xFD;   // end of a multi-block write
constexpr BYTE DATA_ACCEPTED = 0x05;

constexpr BYTE TICKS_INIT = 100;   // 1 s
constexpr BYTE TICKS_TOKEN = 100;  // 1 s
constexpr BYTE TICKS_READY = 50;   // 500 ms

volatile DSTATUS Stat = STA_NOINIT;
BYTE CardType;
volatile BYTE Timer1, Timer2;
BYTE PowerFlag = 0;

uint8_t pin_mask(Signal s)
{
    return pin_def(s).mask();
}

void SELECT()
{
    pin_write(Signal::SdCs, false);
}
void DESELECT()
{
    pin_write(Signal::SdCs, true);
}

void xmit_spi(BYTE dat)
{
    uint32_t rcvdat;
    ssi_put(SD_SSI, dat);
    ssi_get(SD_SSI, &rcvdat);  // the byte clocked in meanwhile is dropped
}

BYTE rcvr_spi()
{
    uint32_t rcvdat;
    ssi_put(SD_SSI, 0xFF);
    ssi_get(SD_SSI, &rcvdat);
    return static_cast<BYTE>(rcvdat);
}

void rcvr_spi_m(BYTE* dst)
{
    *dst = rcvr_spi();
}

// 0xFF when the card released its busy signal within 500 ms.
BYTE wait_ready()
{
    Timer2 = TICKS_READY;
    rcvr_spi();
    BYTE res;
    for (;;) {
        res = rcvr_spi();
        if (res == 0xFF || Timer2 == 0) break;
        platform_idle();
    }
    if (res != 0xFF) uprintf("SD card not ready within 500 ms\n");
    return res;
}

// At least 74 clocks with chip select and data line high put a fresh card
// into its native mode, ready for CMD0.
void send_initial_clock_train()
{
    DESELECT();
    pin_output(Signal::SdMosi, true);
    for (int i = 0; i < 10; ++i) rcvr_spi();
    gpio_peripheral_pins(pin_def(Signal::SdMosi).port, pin_mask(Signal::SdMosi), PinKind::Ssi);
}

void configure_ssi(uint32_t rate)
{
    ssi_disable(SD_SSI);  // the rate and format change only while disabled
    ssi_config_master(SD_SSI, sysctl_clock_get(), SsiMode::Mode0, rate, 8);
    ssi_enable(SD_SSI);
}

void wait_periph_ready(Periph p)
{
    for (uint32_t n = 0; n < PERIPH_READY_POLLS; ++n)
        if (sysctl_periph_ready(p)) return;
}

void power_on()
{
    sysctl_periph_enable(Periph::SSI0);
    sysctl_periph_enable(Periph::GPIOA);
    wait_periph_ready(Periph::SSI0);

    const GpioPort port = pin_def(Signal::SdClk).port;
    const uint8_t ssi_pins = pin_mask(Signal::SdClk) | pin_mask(Signal::SdMiso) | pin_mask(Signal::SdMosi);
    for (Signal s : {Signal::SdClk, Signal::SdMiso, Signal::SdMosi})
        gpio_pin_function(port, pin_def(s).pin, PCTL_SSI0);
    gpio_peripheral_pins(port, ssi_pins, PinKind::Ssi);
    pin_output(Signal::SdCs, true);
    gpio_pad(port, pin_mask(Signal::SdClk) | pin_mask(Signal::SdMosi) | pin_mask(Signal::SdCs), 4,
             PadType::PushPull);
    gpio_pad(port, pin_mask(Signal::SdMiso), 4, PadType::PullUp);

    configure_ssi(INIT_RATE_HZ);
    send_initial_clock_train();
    PowerFlag = 1;
}

void set_max_speed()
{
    uint32_t rate = sysctl_clock_get() / 2;
    if (rate > MAX_RATE_HZ) rate = MAX_RATE_HZ;
    configure_ssi(rate);
}

void power_off()
{
    PowerFlag = 0;
}
BYTE chk_power()
{
    return PowerFlag;
}

// Command frame and its R1 response; 0xFF when the card stayed busy or gave no answer.
BYTE send_cmd(BYTE cmd, DWORD arg)
{
    if (wait_ready() != 0xFF) return 0xFF;
    xmit_spi(cmd);
    xmit_spi(static_cast<BYTE>(arg >> 24));
    xmit_spi(static_cast<BYTE>(arg >> 16));
    xmit_spi(static_cast<BYTE>(arg >> 8));
    xmit_spi(static_cast<BYTE>(arg));
    // Only CMD0 (still in native mode) and CMD8 are CRC-checked in SPI mode.
    BYTE crc = 0xFF;
    if (cmd == CMD0) crc = CRC_CMD0;
    if (cmd == CMD8) crc = CRC_CMD8;
    xmit_spi(crc);
    if (cmd == CMD12) rcvr_spi();  // stuff byte
    BYTE res;
    BYTE n = 10;
    do {
        res = rcvr_spi();
    } while ((res & 0x80) && --n);
    return res;
}

// Ends a multi-block read; sent while the card is still streaming data, so
// without the wait for ready.
BYTE send_cmd12()
{
    xmit_spi(CMD12);
    for (int i = 0; i < 5; ++i) xmit_spi(0x00);
    BYTE res = 0xFF;
    for (int i = 0; i < 10; ++i) {
        const BYTE val = rcvr_spi();
        if (val != 0xFF) res = val;
    }
    return res;
}

bool rcvr_datablock(BYTE* buff, UINT btr)
{
    Timer1 = TICKS_TOKEN;
    BYTE token;
    for (;;) {
        token = rcvr_spi();
        if (token != 0xFF || Timer1 == 0) break;
        platform_idle();
    }
    if (token == 0xFF) uprintf("SD card sent no data within 1 s\n");
    if (token != TOKEN_BLOCK) return false;
    do {
        rcvr_spi_m(buff++);
        rcvr_spi_m(buff++);
    } while (btr -= 2);
    rcvr_spi();  // CRC, not checked
    rcvr_spi();
    return true;
}

bool xmit_datablock(const BYTE* buff, BYTE token)
{
    if (wait_ready() != 0xFF) return false;
    xmit_spi(token);
    if (token != TOKEN_STOP) {
        UINT wc = SECTOR_BYTES / 2;
        do {
            xmit_spi(*buff++);
            xmit_spi(*buff++);
        } while (--wc);
        xmit_spi(0xFF);  // CRC, not checked by the card in SPI mode
        xmit_spi(0xFF);
        const BYTE resp = rcvr_spi();
        if ((resp & 0x1F) != DATA_ACCEPTED) return false;
    }
    return true;
}

void end_transfer()
{
    DESELECT();
    rcvr_spi();  // the card releases its data line on the next clock
}

// The initialisation loop asks until the card reports ready or Timer1 runs
// out: CMD1 for an MMC, else CMD55 + ACMD41 with `acmd41_arg`.
bool poll_until_ready(bool mmc, DWORD acmd41_arg)
{
    for (;;) {
        if (mmc) {
            if (send_cmd(CMD1, 0) == 0) return true;
        } else if (send_cmd(CMD55, 0) <= 1 && send_cmd(CMD41, acmd41_arg) == 0) {
            return true;
        }
        if (Timer1 == 0) break;
        platform_idle();
    }
    uprintf("SD card initialisation timed out\n");
    return false;
}

// SD version 2: the card echoed CMD8's voltage and pattern bytes.
BYTE init_sd_v2()
{
    BYTE ocr[4];
    for (BYTE& b : ocr) b = rcvr_spi();
    if (ocr[2] != 0x01 || ocr[3] != 0xAA) return 0;
    if (!poll_until_ready(false, ACMD41_HCS)) return 0;
    if (send_cmd(CMD58, 0) != 0) return 0;
    for (BYTE& b : ocr) b = rcvr_spi();
    return (ocr[0] & 0x40) ? CT_SD | CT_BLOCK : CT_SD;
}

// SD version 1 or MMC: CMD8 was refused.
BYTE init_sd_v1_or_mmc()
{
    const BYTE ty = (send_cmd(CMD55, 0) <= 1 && send_cmd(CMD41, 0) <= 1) ? CT_SD : CT_MMC;
    if (!poll_until_ready(ty == CT_MMC, 0)) return 0;
    if (send_cmd(CMD16, SECTOR_BYTES) != 0) return 0;
    return ty;
}

BYTE identify_card()
{
    if (send_cmd(CMD0, 0) != 1) return 0;
    Timer1 = TICKS_INIT;
    return send_cmd(CMD8, CMD8_ARG) == 1 ? init_sd_v2() : init_sd_v1_or_mmc();
}

// Sector number as the card wants it: byte address unless block-addressed.
// False when a byte address would not fit in 32 bits.
bool card_address(LBA_t sector, DWORD* addr)
{
    if (CardType & CT_BLOCK) {
        *addr = sector;
        return true;
    }
    if (sector > BYTE_ADDRESS_LAST_SECTOR) return false;
    *addr = sector * SECTOR_BYTES;
    return true;
}

DWORD sectors_from_csd(const BYTE* csd)
{
    if ((csd[0] >> 6) == 1) {
        // CSD version 2: C_SIZE (22 bits) counts 512 KiB units.
        const DWORD csize =
            csd[9] + (static_cast<DWORD>(csd[8]) << 8) + (static_cast<DWORD>(csd[7] & 0x3F) << 16) + 1;
        return csize << 10;
    }
    const BYTE n = static_cast<BYTE>((csd[5] & 15) + ((csd[10] & 128) >> 7) + ((csd[9] & 3) << 1) + 2);
    const WORD csize = static_cast<WORD>((csd[8] >> 6) + (static_cast<WORD>(csd[7]) << 2) +
                                         (static_cast<WORD>(csd[6] & 3) << 10) + 1);
    if (n < 9) return 0;  // block length below 512 bytes: no valid card
    return static_cast<DWORD>(csize) << (n - 9);
}

DRESULT ioctl_power(BYTE* ptr)
{
    if (ptr == nullptr) return RES_PARERR;
    switch (ptr[0]) {
        case 0:
            if (chk_power()) power_off();
            return RES_OK;
        case 1:
            power_on();
            return RES_OK;
        case 2:
            ptr[1] = chk_power();
            return RES_OK;
        default:
            return RES_PARERR;
    }
}

// The codes that talk to the card; it is selected around them.
DRESULT ioctl_card(BYTE ctrl, BYTE* ptr)
{
    BYTE csd[16];
    switch (ctrl) {
        case CTRL_SYNC:
            return wait_ready() == 0xFF ? RES_OK : RES_ERROR;
        case GET_SECTOR_COUNT:
            if (send_cmd(CMD9, 0) != 0 || !rcvr_datablock(csd, 16)) return RES_ERROR;
            {
                const LBA_t count = sectors_from_csd(csd);
                if (count == 0) return RES_ERROR;
                memcpy(ptr, &count, sizeof count);
            }
            return RES_OK;
        case GET_SECTOR_SIZE: {
            const WORD size = SECTOR_BYTES;
            memcpy(ptr, &size, sizeof size);
            return RES_OK;
        }
        case MMC_GET_CSD:
            return send_cmd(CMD9, 0) == 0 && rcvr_datablock(ptr, 16) ? RES_OK : RES_ERROR;
        case MMC_GET_CID:
            return send_cmd(CMD10, 0) == 0 && rcvr_datablock(ptr, 16) ? RES_OK : RES_ERROR;
        case MMC_GET_OCR:
            if (send_cmd(CMD58, 0) != 0) return RES_ERROR;
            for (int i = 0; i < 4; ++i) ptr[i] = rcvr_spi();
            return RES_OK;
        default:
            return RES_PARERR;
    }
}

}  // namespace

DSTATUS disk_initialize(BYTE drv)
{
    if (drv) return STA_NOINIT;
    if (Stat & STA_NODISK) return Stat;

    power_on();
    send_initial_clock_train();
    SELECT();
    const BYTE ty = identify_card();
    CardType = ty;
    end_transfer();

    if (ty) {
        Stat = Stat & static_cast<BYTE>(~STA_NOINIT);
        set_max_speed();
    } else {
        // A card that fails again after a reset or exchange is not ready any more.
        Stat = Stat | STA_NOINIT;
        power_off();
    }
    return Stat;
}

DSTATUS disk_status(BYTE drv)
{
    if (drv) return STA_NOINIT;
    return Stat;
}

DRESULT disk_read(BYTE drv, BYTE* buff, LBA_t sector, UINT count)
{
    if (drv || !count || buff == nullptr) return RES_PARERR;
    if (Stat & STA_NOINIT) return RES_NOTRDY;
    DWORD addr;
    if (!card_address(sector, &addr)) return RES_PARERR;

    SELECT();
    if (count == 1) {
        if (send_cmd(CMD17, addr) == 0 && rcvr_datablock(buff, SECTOR_BYTES)) count = 0;
    } else if (send_cmd(CMD18, addr) == 0) {
        do {
            if (!rcvr_datablock(buff, SECTOR_BYTES)) break;
            buff += SECTOR_BYTES;
        } while (--count);
        send_cmd12();
    }
    end_transfer();
    return count ? RES_ERROR : RES_OK;
}

DRESULT disk_write(BYTE drv, const BYTE* buff, LBA_t sector, UINT count)
{
    if (drv || !count || buff == nullptr) return RES_PARERR;
    if (Stat & STA_NOINIT) return RES_NOTRDY;
    if (Stat & STA_PROTECT) return RES_WRPRT;
    DWORD addr;
    if (!card_address(sector, &addr)) return RES_PARERR;

    SELECT();
    if (count == 1) {
        if (send_cmd(CMD24, addr) == 0 && xmit_datablock(buff, TOKEN_BLOCK)) count = 0;
    } else {
        if (CardType & CT_SD) {
            // Pre-erase hint; the write goes ahead whatever the card says.
            send_cmd(CMD55, 0);
            send_cmd(CMD23, count);
        }
        if (send_cmd(CMD25, addr) == 0) {
            do {
                if (!xmit_datablock(buff, TOKEN_MULTI)) break;
                buff += SECTOR_BYTES;
            } while (--count);
            if (!xmit_datablock(nullptr, TOKEN_STOP)) count = 1;
        }
    }
    end_transfer();
    return count ? RES_ERROR : RES_OK;
}

DRESULT disk_ioctl(BYTE drv, BYTE ctrl, void* buff)
{
    if (drv) return RES_PARERR;
    BYTE* ptr = static_cast<BYTE*>(buff);
    if (ctrl == CTRL_POWER) return ioctl_power(ptr);
    if (Stat & STA_NOINIT) return RES_NOTRDY;
    const bool needs_buffer = ctrl != CTRL_SYNC;
    if (needs_buffer && ptr == nullptr) return RES_PARERR;

    SELECT();
    const DRESULT res = ioctl_card(ctrl, ptr);
    end_transfer();
    return res;
}

void disk_timerproc(void)
{
    BYTE n = Timer1;
    if (n) Timer1 = --n;
    n = Timer2;
    if (n) Timer2 = --n;
}

// File time stamps are in universal time: the clock's wall-clock time
// shifted by the fixed zone offset.
DWORD get_fattime(void)
{
    const uint64_t utc = static_cast<uint64_t>(hib_rtc_get()) + UTC_OFFSET_SECONDS;
    CalendarTime t;
    int year_shift = 0;
    if (utc > 0xFFFFFFFFu) {
        // Past the 32-bit count (February 2036): the same date four years
        // earlier, 1461 days, has the same month and day.
        clock_to_calendar(static_cast<uint32_t>(utc - 1461ull * 86400), &t);
        year_shift = 4;
    } else {
        clock_to_calendar(static_cast<uint32_t>(utc), &t);
    }
    const int year = t.year + 1900 + year_shift;
    // FAT dates start in 1980: an unset clock (1900) gets the earliest stamp.
    if (year < 1980) return (DWORD{1} << 21) | (DWORD{1} << 16);
    return (static_cast<DWORD>(year - 1980) << 25) | (static_cast<DWORD>(t.mon + 1) << 21) |
           (static_cast<DWORD>(t.mday) << 16) | (static_cast<DWORD>(t.hour) << 11) |
           (static_cast<DWORD>(t.min) << 5) | (static_cast<DWORD>(t.sec) >> 1);
}
