# Target build: the firmware image marivant-firmware.elf (.bin, .hex, .map)
# and auxport1.o, the relocatable object of the AUX 1 port instance.
#
# Also run as a script (cmake -P) by the image's post-build step to refuse an
# image from which a heap allocator is reachable:
#   cmake -DNM=<nm> -DELF=<elf> -P firmware_image.cmake

if(CMAKE_SCRIPT_MODE_FILE)
    execute_process(COMMAND ${NM} ${ELF} OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "no-heap check: ${NM} ${ELF} failed")
    endif()
    set(found "")
    foreach(name malloc calloc realloc free sbrk _sbrk _sbrk_r _malloc_r _calloc_r _realloc_r _free_r
                 _Znwj _Znaj _ZdlPv _ZdaPv)
        if(symbols MATCHES "[0-9a-f]+ [TtWw] ${name}\n")
            list(APPEND found ${name})
        endif()
    endforeach()
    if(found)
        message(FATAL_ERROR "${ELF}: heap functions reachable from the image: ${found}")
    endif()
    return()
endif()

set(TM4C_DIR ${CMAKE_SOURCE_DIR}/src/platform/tm4c123)
set(MARIVANT_LINKER_SCRIPT ${TM4C_DIR}/tm4c123gh6pge.ld)
set(MARIVANT_STARTUP ${CMAKE_SOURCE_DIR}/src/tm4c123gh6pge_startup_ccs.cpp)
set(AUX1_SOURCE ${CMAKE_SOURCE_DIR}/src/Aux1.cpp)

# The peripheral interface on the chip's registers.
file(GLOB TM4C_BACKEND CONFIGURE_DEPENDS ${TM4C_DIR}/*.cpp)
add_library(tm4c123_backend OBJECT ${TM4C_BACKEND})
target_include_directories(tm4c123_backend PUBLIC ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/src/platform)
target_link_libraries(tm4c123_backend PUBLIC marivant_firmware_flags)

# The AUX 1 port instance is built once: auxport1.o is made from it, and the
# image links auxport1.o itself, so both carry the same code.
if(NOT EXISTS ${AUX1_SOURCE})
    message(FATAL_ERROR "src/Aux1.cpp (the AUX 1 port instance) is missing: auxport1.o and the image need it")
endif()
list(REMOVE_ITEM MARIVANT_MODULES ${AUX1_SOURCE})
add_library(aux1_port OBJECT ${AUX1_SOURCE})
target_link_libraries(aux1_port PRIVATE tm4c123_backend)

set(AUXPORT1 ${CMAKE_BINARY_DIR}/auxport1.o)
add_custom_command(OUTPUT ${AUXPORT1}
    COMMAND ${CMAKE_LINKER} -r -o ${AUXPORT1} $<TARGET_OBJECTS:aux1_port>
    DEPENDS $<TARGET_OBJECTS:aux1_port>
    COMMAND_EXPAND_LISTS
    COMMENT "Linking relocatable object auxport1.o")
add_custom_target(auxport1 ALL DEPENDS ${AUXPORT1})

add_library(firmware_modules OBJECT ${MARIVANT_MODULES} ${MARIVANT_MAIN} ${MARIVANT_STARTUP})
target_link_libraries(firmware_modules PRIVATE tm4c123_backend fat)

set_source_files_properties(${AUXPORT1} PROPERTIES EXTERNAL_OBJECT TRUE GENERATED TRUE)
add_executable(marivant-firmware
    $<TARGET_OBJECTS:firmware_modules> $<TARGET_OBJECTS:tm4c123_backend> ${AUXPORT1})
add_dependencies(marivant-firmware auxport1)
set_target_properties(marivant-firmware PROPERTIES SUFFIX ".elf" LINK_DEPENDS ${MARIVANT_LINKER_SCRIPT})
target_link_libraries(marivant-firmware PRIVATE fat marivant_firmware_flags)
target_link_options(marivant-firmware PRIVATE
    -T${MARIVANT_LINKER_SCRIPT}
    -Wl,-Map=${CMAKE_BINARY_DIR}/marivant-firmware.map,--cref
    -Wl,--print-memory-usage)

set(IMAGE ${CMAKE_BINARY_DIR}/marivant-firmware)
add_custom_command(TARGET marivant-firmware POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DELF=${IMAGE}.elf -P ${CMAKE_CURRENT_LIST_FILE}
    COMMAND ${CMAKE_OBJCOPY} -O binary ${IMAGE}.elf ${IMAGE}.bin
    COMMAND ${CMAKE_OBJCOPY} -O ihex ${IMAGE}.elf ${IMAGE}.hex
    BYPRODUCTS ${IMAGE}.bin ${IMAGE}.hex ${IMAGE}.map
    COMMENT "Checking for a heap, writing marivant-firmware.bin and .hex")

# Checks of the built image (ctest --preset tm4c123).
enable_testing()
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(IMAGE_CHECK ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/target/image_checks.py
    --tools arm-none-eabi- --elf ${IMAGE}.elf --map ${IMAGE}.map)
add_test(NAME image.vector_table COMMAND ${IMAGE_CHECK} vectors)
add_test(NAME image.no_heap COMMAND ${IMAGE_CHECK} no-heap)
add_test(NAME image.no_static_constructors COMMAND ${IMAGE_CHECK} no-constructors)
add_test(NAME image.memory_layout COMMAND ${IMAGE_CHECK} layout)
add_test(NAME image.float_formatting COMMAND ${IMAGE_CHECK} float-io)
set_tests_properties(image.float_formatting PROPERTIES SKIP_RETURN_CODE 77)
add_test(NAME auxport1.references COMMAND ${IMAGE_CHECK} auxport1
    --object ${AUXPORT1} --platform-header ${CMAKE_SOURCE_DIR}/src/platform/platform.h)
add_test(NAME image.stack_tool COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/target/stack_tool_test.py
    --tool ${CMAKE_SOURCE_DIR}/tools/stack_usage.py --build ${CMAKE_BINARY_DIR})
