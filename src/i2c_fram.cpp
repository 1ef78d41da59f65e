#include "i2c_fram.h"

#include <cstring>

#include "IO.h"
#include "System.h"
#include "platform.h"

unsigned char framBuf[132];

namespace {

// One byte takes 22.5 us at 400 kHz; a master still busy after this many
// polls has a stuck bus. The bound keeps a dead FRAM from hanging start-up.
constexpr uint32_t I2C_BUSY_POLLS = 20000;
bool g_busTimedOut = false;

void wait_master_idle()
{
    for (uint32_t n = 0; n < I2C_BUSY_POLLS; ++n)
        if (!i2c_master_busy(I2C0_BASE)) return;
    g_busTimedOut = true;
}

void send_memory_offset(unsigned char slave, unsigned char offset, uint32_t cmd)
{
    i2c_master_slave_addr(I2C0_BASE, slave, false);
    i2c_master_data_put(I2C0_BASE, offset);
    i2c_master_control(I2C0_BASE, cmd);
    wait_master_idle();
}

// Interrupts are masked for the whole transfer; the previous mask is kept.
struct MaskedSection {
    bool wasMasked = int_master_disable();
    ~MaskedSection()
    {
        if (!wasMasked) int_master_enable();
    }
};

}  // namespace

void i2c0_init(unsigned char bFast)
{
    sysctl_periph_enable(Periph::I2C0);
    sysctl_periph_reset(Periph::I2C0);
    const PinDef& scl = pin_def(Signal::FramScl);
    const PinDef& sda = pin_def(Signal::FramSda);
    gpio_pin_function(scl.port, scl.pin, 3);  // I2C0SCL
    gpio_pin_function(sda.port, sda.pin, 3);  // I2C0SDA
    gpio_peripheral_pins(scl.port, scl.mask(), PinKind::I2cScl);
    gpio_peripheral_pins(sda.port, sda.mask(), PinKind::I2cSda);
    gpio_pad(scl.port, scl.mask(), 2, PadType::PushPull);
    gpio_pad(sda.port, sda.mask(), 2, PadType::OpenDrain);
    i2c_master_init(I2C0_BASE, sysctl_clock_get(), bFast == 1);
    i2c_master_enable(I2C0_BASE);
}

void i2c0_write(unsigned char uiSlave_add, unsigned char* ucData, uint16_t uiCount, unsigned char ucStart_add)
{
    MaskedSection masked;
    if (uiCount == 0) {
        send_memory_offset(uiSlave_add, ucStart_add, I2C_CMD_SINGLE_SEND);
        return;
    }
    send_memory_offset(uiSlave_add, ucStart_add, I2C_CMD_BURST_SEND_START);
    for (uint16_t i = 0; i < uiCount; ++i) {
        i2c_master_data_put(I2C0_BASE, ucData[i]);
        const bool last = (i + 1 == uiCount);
        i2c_master_control(I2C0_BASE, last ? I2C_CMD_BURST_SEND_FINISH : I2C_CMD_BURST_SEND_CONT);
        wait_master_idle();
    }
}

void i2c0_read(unsigned char uiSlave_add, unsigned char* ucRec_Data, uint16_t uiCount,
               unsigned char ucStart_add, unsigned char bDummyRead)
{
    if (uiCount == 0) return;
    MaskedSection masked;
    send_memory_offset(uiSlave_add, ucStart_add, I2C_CMD_BURST_SEND_START);
    i2c_master_slave_addr(I2C0_BASE, uiSlave_add, true);
    if (bDummyRead) (void)i2c_master_data_get(I2C0_BASE);
    if (uiCount == 1) {
        i2c_master_control(I2C0_BASE, I2C_CMD_SINGLE_RECEIVE);
        wait_master_idle();
        ucRec_Data[0] = static_cast<unsigned char>(i2c_master_data_get(I2C0_BASE));
        return;
    }
    for (uint16_t i = 0; i < uiCount; ++i) {
        uint32_t cmd = I2C_CMD_BURST_RECEIVE_CONT;
        if (i == 0) cmd = I2C_CMD_BURST_RECEIVE_START;
        if (i + 1 == uiCount) cmd = I2C_CMD_BURST_RECEIVE_FINISH;
        i2c_master_control(I2C0_BASE, cmd);
        wait_master_idle();
        ucRec_Data[i] = static_cast<unsigned char>(i2c_master_data_get(I2C0_BASE));
    }
}

uint32_t fram_probe()
{
    static constexpr unsigned char pattern[4] = {0x55, 0xAA, 0x55, 0xAA};
    std::memcpy(framBuf, pattern, sizeof(pattern));
    i2c0_write(FRAM_I2C_ADDR, framBuf, 4, 0);
    std::memset(framBuf, 0, 4);
    i2c0_read(FRAM_I2C_ADDR, framBuf, 4, 0, 1);
    return std::memcmp(framBuf, pattern, sizeof(pattern)) == 0 ? FRAM_PROBE_OK : 0;
}

void fram_init()
{
    g_busTimedOut = false;
    i2c0_init(1);
    if (fram_probe() != FRAM_PROBE_OK) uprintf("\nERROR: FRAM fails probe - switch to HIB module\n");
    if (g_busTimedOut) uprintf("\nERROR: FRAM I2C bus stuck busy\n");
}

void fram_store()
{
    i2c0_write(FRAM_I2C_ADDR, reinterpret_cast<unsigned char*>(&sys_data_chg), sizeof(sys_data_chg),
               SYS_DATA_FRAM_OFFSET);
}

void fram_retrieve()
{
    i2c0_read(FRAM_I2C_ADDR, reinterpret_cast<unsigned char*>(&sys_data_chg), sizeof(sys_data_chg),
              SYS_DATA_FRAM_OFFSET, 1);
}
