// The ferroelectric RAM on I2C0 that keeps the run-state record: bus set-up,
// block transfers with a one-byte memory address, and the start-up probe.
#pragma once

#include <cstdint>

constexpr unsigned char FRAM_I2C_ADDR = 0x50;
constexpr uint32_t FRAM_PROBE_OK = 0xAA55AA55u;

extern unsigned char framBuf[132];

void i2c0_init(unsigned char bFast);
void i2c0_write(unsigned char uiSlave_add, unsigned char* ucData, uint16_t uiCount,
                unsigned char ucStart_add);
void i2c0_read(unsigned char uiSlave_add, unsigned char* ucRec_Data, uint16_t uiCount,
               unsigned char ucStart_add, unsigned char bDummyRead);
void fram_init();
uint32_t fram_probe();
void fram_store();
void fram_retrieve();
