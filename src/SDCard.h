// File services on the SD card: the volume's FatFs objects, its registration
// at start-up, formatted writes into an open file and the names of FatFs
// result codes for messages.
#pragma once

#include "fat/ff.h"

// Work area of the card's volume and the file shell's objects.
extern FATFS g_sFatFs;
extern DIR g_sDirObject;
extern FILINFO g_sFileInfo;
extern FIL g_sFileObject;

// Longest text one sd_fprintf writes.
constexpr int SD_FPRINTF_MAX = 255;

// Name of a FatFs result ("FR_OK", ...), or "UNKNOWN ERROR CODE".
const char* StringFromFresult(FRESULT fresult);
// Routes SSI0 to the card's pins and registers the volume (delayed mount:
// the card is first touched by the first file operation).
void Init_SDCard(void);
// Formats into a 256-byte buffer (cut to 255 characters) and writes it at
// the file's position. Returns the bytes written; prints "f_write error"
// on a FatFs error.
int sd_fprintf(FIL* fil, const char* format, ...) __attribute__((format(printf, 2, 3)));
