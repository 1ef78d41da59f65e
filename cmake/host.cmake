# Host build: the firmware on the simulated board, the virtual instrument and
# every test.
option(MARIVANT_SANITIZE "Build with AddressSanitizer and UBSan" OFF)
if(MARIVANT_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()

# The simulated board: chip peripheral models, outside devices, environment.
file(GLOB SIM_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/sim/*.cpp)
add_library(sim_board STATIC ${SIM_SOURCES})
target_include_directories(sim_board PUBLIC ${CMAKE_SOURCE_DIR}/sim ${CMAKE_SOURCE_DIR}/src/platform)
target_link_libraries(sim_board PUBLIC marivant_warnings)

# Every firmware module on the sim backend of the peripheral interface. The
# firmware's main is renamed so that the runner can be the process's main;
# the simulated chip enters it from its reset entry.
file(GLOB SIM_BACKEND CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/platform/sim/*.cpp)
add_library(firmware STATIC ${MARIVANT_MODULES} ${MARIVANT_MAIN} ${SIM_BACKEND})
target_include_directories(firmware PUBLIC ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/src/platform
                                            ${CMAKE_SOURCE_DIR}/src/platform/sim)
target_link_libraries(firmware PUBLIC fat sim_board PRIVATE marivant_firmware_flags)
set_source_files_properties(${MARIVANT_MAIN} PROPERTIES COMPILE_DEFINITIONS main=marivant_main)

# The runner: command line, scripts, boots in fresh processes, hibernation.
file(GLOB RUNNER_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/sim/runner/*.cpp)
list(FILTER RUNNER_SOURCES EXCLUDE REGEX "/main\\.cpp$")
add_library(sim_runner STATIC ${RUNNER_SOURCES})
target_include_directories(sim_runner PUBLIC ${CMAKE_SOURCE_DIR}/sim/runner)
target_link_libraries(sim_runner PUBLIC sim_board marivant_warnings)
add_executable(marivant-sim ${CMAKE_SOURCE_DIR}/sim/runner/main.cpp)
target_link_libraries(marivant-sim PRIVATE sim_runner firmware sim_board marivant_warnings)

enable_testing()
find_package(GTest REQUIRED)

# marivant_add_gtest(name sources...): one GoogleTest program, linked with the
# firmware modules and the simulated board, registered with CTest.
function(marivant_add_gtest name)
    add_executable(${name} ${ARGN})
    target_link_libraries(${name} PRIVATE firmware sim_board GTest::gtest GTest::gtest_main marivant_warnings)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
    include(GoogleTest)
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                         PROPERTIES ENVIRONMENT "MARIVANT_SIM=$<TARGET_FILE:marivant-sim>;MARIVANT_BUILD=${CMAKE_BINARY_DIR}")
endfunction()

file(GLOB TEST_DIRS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/*/CMakeLists.txt)
foreach(test_cmake ${TEST_DIRS})
    get_filename_component(dir ${test_cmake} DIRECTORY)
    add_subdirectory(${dir})
endforeach()
file(GLOB TOOL_DIRS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/*/CMakeLists.txt)
foreach(tool_cmake ${TOOL_DIRS})
    get_filename_component(dir ${tool_cmake} DIRECTORY)
    add_subdirectory(${dir})
endforeach()
