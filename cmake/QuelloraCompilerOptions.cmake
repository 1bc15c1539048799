# Warnings, sanitizers and the per-library helper shared by every target.

add_library(quellora_options INTERFACE)
target_compile_options(quellora_options INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual
    -Wimplicit-fallthrough -Wdouble-promotion -Wcast-qual -Wformat=2)
# GCC 12 at -O2 and above warns about overlapping copies inside libstdc++'s
# own string concatenation (GCC bug 105329): noise that would fail release builds.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(quellora_options INTERFACE -Wno-restrict)
endif()
# Every library is also linked into the tray module, so all code is
# position-independent; nothing of ours is ever interposed, so the compiler may
# still inline and bind calls as it would in an executable.
target_compile_options(quellora_options INTERFACE -fno-semantic-interposition)
if(QUELLORA_WARNINGS_AS_ERRORS)
    target_compile_options(quellora_options INTERFACE -Werror)
endif()

# Optimised builds, which packages are made from, get the hardening Debian
# builds its own packages with (dpkg-buildflags): checked string and memory
# functions, stack protection, relocations resolved at start and then made
# read-only. Fortification needs the optimiser; the sanitizers bring their
# own checks.
if(QUELLORA_SANITIZE STREQUAL "")
    set(optimised "$<NOT:$<CONFIG:Debug>>")
    target_compile_options(quellora_options INTERFACE
        "$<${optimised}:-fstack-protector-strong;-D_FORTIFY_SOURCE=2>")
    target_link_options(quellora_options INTERFACE "$<${optimised}:LINKER:-z,relro,-z,now>")
endif()

if(QUELLORA_SANITIZE STREQUAL "address")
    target_compile_options(quellora_options INTERFACE
        -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(quellora_options INTERFACE -fsanitize=address,undefined)
elseif(QUELLORA_SANITIZE STREQUAL "thread")
    target_compile_options(quellora_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(quellora_options INTERFACE -fsanitize=thread)
elseif(QUELLORA_SANITIZE STREQUAL "fuzzer")
    # clang: every library instrumented for coverage-guided fuzzing and checked
    # by AddressSanitizer and UBSan; the fuzz targets add libFuzzer's main.
    target_compile_options(quellora_options INTERFACE
        -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
        -fno-sanitize-recover=undefined)
    target_link_options(quellora_options INTERFACE -fsanitize=address,undefined)
elseif(NOT QUELLORA_SANITIZE STREQUAL "")
    message(FATAL_ERROR "QUELLORA_SANITIZE must be empty, 'address', 'thread' or 'fuzzer'")
endif()

# quellora_add_library(NAME SOURCES... [DEPENDS libs...] [PRIVATE_DEPENDS libs...]):
# one static library per source folder, its headers included as
# "folder/file.h" from src/, position-independent for the tray module.
function(quellora_add_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS;PRIVATE_DEPENDS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    set_target_properties(${name} PROPERTIES POSITION_INDEPENDENT_CODE ON)
    target_include_directories(${name} PUBLIC "${PROJECT_SOURCE_DIR}/src")
    target_link_libraries(${name} PUBLIC ${ARG_DEPENDS} PRIVATE ${ARG_PRIVATE_DEPENDS} quellora_options)
endfunction()
