# cmake -DPROGRAM=... "-DEXPECTED=name version" -P check_version.cmake
# PROGRAM --version prints EXPECTED and exits 0, with no display to connect to.
cmake_minimum_required(VERSION 3.25)
unset(ENV{DISPLAY})
unset(ENV{WAYLAND_DISPLAY})
unset(ENV{QT_QPA_PLATFORM})
execute_process(COMMAND ${PROGRAM} --version OUTPUT_VARIABLE output ERROR_VARIABLE errors
  RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT output STREQUAL "${EXPECTED}\n")
  message(FATAL_ERROR "${PROGRAM} --version: exit ${status}, printed '${output}' '${errors}', "
                      "not '${EXPECTED}'")
endif()
