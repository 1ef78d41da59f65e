// Console helpers over the console port: formatted output, line and key
// input with and without time limits, and date and time entry and display.
#pragma once

#include <cstdint>

// Debug switch: non-zero lets dbg_printf print.
extern int dbg_flag;

// Longest text one uprintf or dbg_printf puts out.
constexpr int UPRINTF_MAX = 255;

// Formats into a 256-byte buffer (cut to 255 characters) and queues it on the
// console. Returns the length the whole text would have had.
int uprintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
// As uprintf while dbg_flag is set; otherwise prints nothing and returns 0.
int dbg_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// One console byte (0..255) within `timeout` seconds of 10 ms ticks, or -1.
int getchar_timed(int timeout);
// One line ended by Enter, waiting without limit; at most size - 1 characters
// are kept, zero-terminated. Returns the count kept.
int getUserInput(char* userInputBuffer, int userInputBufferSize);
// As getUserInput, but -1 once more than `timeLimit` clock seconds passed.
int getUserInputTimeLimit(char* userInputBuffer, int userInputBufferSize, int timeLimit);
// First character of a line ended by Enter; 0 for an empty line.
unsigned char get_key(void);
// 1 for Y/y, 0 for N/n, default_response for anything else.
int yesOrNoMenuChoice(const char* prompt, int default_response);
// 1 and all unread input discarded when a key was pressed, else 0.
unsigned char kbhit(void);

// "MM/DD/YY HH:MM:SS" of the clock, without a line end.
void printCurrentTime(void);
void print_time_t_Time(uint32_t time);
// Asks for "MM/DD/YY HH:MM:SS" until valid; 0 when the operator just presses
// Enter (keep the current time).
uint32_t getDateAndTime(void);
