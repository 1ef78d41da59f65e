# Compile options shared by every target of ours.
set(CMAKE_CXX_STANDARD 17)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_C_STANDARD 11)

add_library(marivant_warnings INTERFACE)
target_compile_options(marivant_warnings INTERFACE -Wall -Wextra -Werror)

# What firmware code may use: no exceptions, no RTTI, in both builds.
add_library(marivant_firmware_flags INTERFACE)
target_link_libraries(marivant_firmware_flags INTERFACE marivant_warnings)
target_compile_options(marivant_firmware_flags INTERFACE
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti -fno-threadsafe-statics>
    # The measurement equations are stated step by step in single and double
    # precision; fused multiply-adds would change their results on the chip.
    -ffp-contract=off)
