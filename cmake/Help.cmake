# The help file kvl.chm, compiled at build time from the HTML pages in data/help with chmcmd
# (Free Pascal's CHM compiler, Debian package fp-utils) and placed beside the program.
#
# Run as a script (cmake -DCHM_FILE=... -P Help.cmake) this file checks that a compiled help
# file really is a CHM file: it must start with the signature "ITSF".

if(CMAKE_SCRIPT_MODE_FILE)
  if(NOT EXISTS "${CHM_FILE}")
    message(FATAL_ERROR "The help compiler wrote no ${CHM_FILE}")
  endif()
  file(READ "${CHM_FILE}" signature LIMIT 4 HEX)
  if(NOT signature STREQUAL "49545346")  # "ITSF"
    message(FATAL_ERROR "${CHM_FILE} is not a CHM file (it does not start with ITSF)")
  endif()
  return()
endif()

find_program(KORVELIN_CHMCMD chmcmd)
if(NOT KORVELIN_CHMCMD)
  message(FATAL_ERROR
    "chmcmd was not found. It compiles the help file kvl.chm from data/help. "
    "Install the Debian package fp-utils (scripts/deps.sh installs everything the build needs).")
endif()

file(GLOB KORVELIN_HELP_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/data/help/*)
set(KORVELIN_HELP_STAGE ${CMAKE_BINARY_DIR}/help-stage)

# The pages are compiled in a staging folder so that nothing is written into the source tree;
# the window icon is shared with the program rather than kept twice.
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/kvl.chm
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${KORVELIN_HELP_STAGE}
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${CMAKE_SOURCE_DIR}/data/help ${KORVELIN_HELP_STAGE}
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/data/korvelin.png ${KORVELIN_HELP_STAGE}/korvelin.png
  COMMAND ${CMAKE_COMMAND} -E chdir ${KORVELIN_HELP_STAGE} ${KORVELIN_CHMCMD} --verbosity 0 kvl.hhp
  COMMAND ${CMAKE_COMMAND} -DCHM_FILE=${KORVELIN_HELP_STAGE}/kvl.chm -P ${CMAKE_CURRENT_LIST_FILE}
  COMMAND ${CMAKE_COMMAND} -E copy ${KORVELIN_HELP_STAGE}/kvl.chm ${CMAKE_BINARY_DIR}/kvl.chm
  DEPENDS ${KORVELIN_HELP_SOURCES} ${CMAKE_SOURCE_DIR}/data/korvelin.png ${CMAKE_CURRENT_LIST_FILE}
  COMMENT "Compiling the help file kvl.chm"
  VERBATIM)
add_custom_target(korvelin_help DEPENDS ${CMAKE_BINARY_DIR}/kvl.chm)
add_dependencies(korvelin korvelin_help)
