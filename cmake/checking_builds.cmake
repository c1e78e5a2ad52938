# Checking builds, for finding memory, undefined-behaviour and threading faults and for fuzzing.
# Both need clang: configure with CC=clang CXX=clang++ (scripts/test-sanitize and scripts/fuzz
# do). Everything, tests included, is built instrumented; the host libraries are not.
#
#   RELAYCAST_SANITIZE=address  AddressSanitizer with UndefinedBehaviorSanitizer
#   RELAYCAST_SANITIZE=thread   ThreadSanitizer
#   RELAYCAST_FUZZ=ON           the libFuzzer targets in fuzz/ (with address checking)
#
# With address checking the sanitizer runtime is the shared one, so the plug-in file links
# without undefined symbols and can be loaded into an uninstrumented OBS that has the runtime
# preloaded (RELAYCAST_SANITIZER_RUNTIME names it).

set(RELAYCAST_SANITIZE "" CACHE STRING "Checking build: address, thread or empty for none")
set_property(CACHE RELAYCAST_SANITIZE PROPERTY STRINGS "" address thread)
option(RELAYCAST_FUZZ "Build the libFuzzer targets (clang, implies address checking)" OFF)

if(RELAYCAST_FUZZ AND RELAYCAST_SANITIZE STREQUAL "")
    set(RELAYCAST_SANITIZE address CACHE STRING "" FORCE)
endif()
if(RELAYCAST_FUZZ AND NOT RELAYCAST_SANITIZE STREQUAL "address")
    message(FATAL_ERROR "RELAYCAST_FUZZ needs RELAYCAST_SANITIZE=address")
endif()

if(NOT RELAYCAST_SANITIZE STREQUAL "")
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang" OR NOT CMAKE_C_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "Checking builds need clang: configure with CC=clang CXX=clang++")
    endif()
    if(RELAYCAST_SANITIZE STREQUAL "address")
        # Undefined behaviour stops the program like a memory fault does, so no report
        # scrolls past in a passing run.
        set(_relaycast_sanitize_flags -fsanitize=address,undefined
            -fno-sanitize-recover=undefined -fsanitize-address-use-after-scope)
        set(_relaycast_runtime_name libclang_rt.asan-x86_64.so)
    elseif(RELAYCAST_SANITIZE STREQUAL "thread")
        set(_relaycast_sanitize_flags -fsanitize=thread)
        set(_relaycast_runtime_name libclang_rt.tsan-x86_64.so)
    else()
        message(FATAL_ERROR "RELAYCAST_SANITIZE must be address, thread or empty")
    endif()
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${_relaycast_runtime_name}
        OUTPUT_VARIABLE RELAYCAST_SANITIZER_RUNTIME OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT EXISTS "${RELAYCAST_SANITIZER_RUNTIME}")
        message(FATAL_ERROR "No ${_relaycast_runtime_name} for ${CMAKE_CXX_COMPILER} "
            "(Debian: libclang-rt-<version>-dev)")
    endif()
    get_filename_component(_relaycast_runtime_dir ${RELAYCAST_SANITIZER_RUNTIME} DIRECTORY)
    add_compile_options(${_relaycast_sanitize_flags} -fno-omit-frame-pointer)
    if(RELAYCAST_FUZZ)
        add_compile_options(-fsanitize=fuzzer-no-link)
    endif()
    if(RELAYCAST_SANITIZE STREQUAL "thread")
        # clang 14's shared ThreadSanitizer runtime crashes before main on Debian 12, so the
        # programs carry the static one and the plug-in file leaves its checks to the program
        # that loads it (the module link otherwise refuses undefined symbols).
        add_link_options(${_relaycast_sanitize_flags})
        cmake_language(DEFER CALL target_link_options relaycast PRIVATE -Wl,-z,undefs)
    else()
        add_link_options(${_relaycast_sanitize_flags} -shared-libsan
            -Wl,-rpath,${_relaycast_runtime_dir})
    endif()
    message(STATUS "Relaycast checking build: ${RELAYCAST_SANITIZE} (${RELAYCAST_SANITIZER_RUNTIME})")
endif()
