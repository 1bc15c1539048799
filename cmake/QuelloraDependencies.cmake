# Every dependency comes from Debian's packages (scripts/deps.sh installs them).

find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(fmt REQUIRED)
find_package(nlohmann_json 3.10 REQUIRED)

pkg_check_modules(UUID REQUIRED IMPORTED_TARGET uuid)
pkg_check_modules(SYSTEMD REQUIRED IMPORTED_TARGET libsystemd)
pkg_check_modules(SNDFILE REQUIRED IMPORTED_TARGET sndfile)

if(QUELLORA_BUILD_TESTS OR QUELLORA_BUILD_BENCH)
    # The established loudness meter that Quellora's own is held against.
    pkg_check_modules(EBUR128 REQUIRED IMPORTED_TARGET libebur128)
endif()
if(QUELLORA_BUILD_TESTS)
    find_package(GTest REQUIRED)
    include(GoogleTest)
endif()
if(QUELLORA_BUILD_BENCH)
    find_package(benchmark REQUIRED)
endif()
