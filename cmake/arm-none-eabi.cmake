# Cross toolchain for the TM4C123GH6PGE (Cortex-M4F, Thumb, hard float FPv4-SP).
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-none-eabi-gcc)
set(CMAKE_CXX_COMPILER arm-none-eabi-g++)
set(CMAKE_ASM_COMPILER arm-none-eabi-gcc)
set(CMAKE_LINKER arm-none-eabi-ld)
set(CMAKE_OBJCOPY arm-none-eabi-objcopy)
set(CMAKE_OBJDUMP arm-none-eabi-objdump)
set(CMAKE_NM arm-none-eabi-nm)
set(CMAKE_READELF arm-none-eabi-readelf)
set(CMAKE_SIZE arm-none-eabi-size)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

# C library of the image. picolibc is the product's choice: smaller, and its
# printf/scanf (with %f) never allocate. newlib-nano is kept selectable only to
# compare sizes; its float conversions allocate, which the image's no-heap
# check rejects.
set(MARIVANT_LIBC picolibc CACHE STRING "C library of the firmware image: picolibc or newlib-nano")
set_property(CACHE MARIVANT_LIBC PROPERTY STRINGS picolibc newlib-nano)

set(MARIVANT_CPU_FLAGS "-mcpu=cortex-m4 -mthumb -mfloat-abi=hard -mfpu=fpv4-sp-d16")
# Every function and object in its own section, so the linker drops what is
# never referenced; stack usage and call graph per object for tools/budgets.sh.
set(MARIVANT_CODE_FLAGS "-ffunction-sections -fdata-sections -fstack-usage -fcallgraph-info=su -g")
if(MARIVANT_LIBC STREQUAL "newlib-nano")
    set(MARIVANT_LIBC_FLAGS "--specs=nano.specs")
    # Its sbrk wants a heap start; give it one so the image links and the
    # no-heap check can name what it reaches.
    set(MARIVANT_LIBC_LINK_FLAGS "--specs=nosys.specs -u _printf_float -u _scanf_float -Wl,--defsym=end=__bss_end")
else()
    set(MARIVANT_LIBC_FLAGS "--specs=picolibc.specs")
    set(MARIVANT_LIBC_LINK_FLAGS "")
endif()

# Strict C++17 hides the C library's POSIX functions (strnlen, ...); the host
# build sees them (g++ defines _GNU_SOURCE there), so show them here too.
string(APPEND MARIVANT_LIBC_FLAGS " -D_DEFAULT_SOURCE")

set(CMAKE_C_FLAGS_INIT "${MARIVANT_CPU_FLAGS} ${MARIVANT_CODE_FLAGS} ${MARIVANT_LIBC_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${MARIVANT_CPU_FLAGS} ${MARIVANT_CODE_FLAGS} ${MARIVANT_LIBC_FLAGS}")
set(CMAKE_ASM_FLAGS_INIT "${MARIVANT_CPU_FLAGS}")
# The link line repeats the compile flags (CPU, specs); our own reset entry
# replaces the C library's start files.
set(CMAKE_EXE_LINKER_FLAGS_INIT "${MARIVANT_LIBC_LINK_FLAGS} -nostartfiles -Wl,--gc-sections")

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
