# Run at install time: writes the user unit QUELLORA_UNIT from
# QUELLORA_UNIT_TEMPLATE for the executable at QUELLORA_UNIT_EXECUTABLE.
# ExecStart holds the path in double quotes, with "%" doubled so that systemd
# takes none of it for a specifier. systemd refuses to start a program whose
# path holds a quote, a backslash or a control character, so such a prefix
# is refused here, before anything depends on the unit.
if(QUELLORA_UNIT_EXECUTABLE MATCHES "[\"'\\\\\t\r\n]")
    message(FATAL_ERROR "systemd cannot start a program whose path holds a quote, a backslash "
        "or a control character: ${QUELLORA_UNIT_EXECUTABLE}; choose another install prefix")
endif()
string(REPLACE "%" "%%" escaped "${QUELLORA_UNIT_EXECUTABLE}")
set(QUELLORA_QUOTED_EXECUTABLE "\"${escaped}\"")
message(STATUS "Installing: ${QUELLORA_UNIT}")
configure_file("${QUELLORA_UNIT_TEMPLATE}" "${QUELLORA_UNIT}" @ONLY)
