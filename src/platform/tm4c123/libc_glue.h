// What the C library needs from the reset entry before main runs.
#pragma once

// Points the C library's thread pointer at the one thread-local block
// (errno lives there with picolibc). Nothing to do with newlib.
void libc_init();
