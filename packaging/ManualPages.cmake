# Manual pages, section 1. Those of the command-line programs are made from their --help
# by help2man at build time, with man/<program>.h2m adding what --help does not carry
# (files, environment, examples), so a page never tells of an option its program lost.
# The window has no --help: man/tarnik.1.in is written by hand and the window-arguments
# test holds it to the arguments the window takes.
find_program(TARNIK_HELP2MAN help2man)
if(NOT TARNIK_HELP2MAN)
  message(WARNING "help2man not found: the manual pages are not built (apt install help2man)")
  return()
endif()

set(man_dir ${CMAKE_CURRENT_BINARY_DIR}/man)
file(MAKE_DIRECTORY ${man_dir})
set(pages)

set(tarnik-cli_name "program units with firmware images over a serial port")
set(tarnik-image_name "show and make Tarnik firmware images")
set(tarnik-sim_name "emulate a unit's bootloader on a pseudo-terminal")
foreach(program tarnik-cli tarnik-image tarnik-sim)
  if(NOT TARGET ${program})
    continue()
  endif()
  set(include ${CMAKE_CURRENT_SOURCE_DIR}/man/${program}.h2m)
  # The programs run with an empty settings folder and port list of their own: making a
  # page must neither read the builder's settings nor list the machine's ports.
  add_custom_command(OUTPUT ${man_dir}/${program}.1
    COMMAND ${CMAKE_COMMAND} -E env XDG_CONFIG_HOME=${man_dir}/config TARNIK_SERIAL_PORTS=
            ${TARNIK_HELP2MAN} --no-info --section=1 --version-string=${PROJECT_VERSION}
            --name=${${program}_name} --include=${include} --output=${man_dir}/${program}.1
            $<TARGET_FILE:${program}>
    DEPENDS ${program} ${include}
    COMMENT "Manual page ${program}(1)"
    VERBATIM)
  list(APPEND pages ${program})
endforeach()
if(TARGET tarnik)
  configure_file(man/tarnik.1.in ${man_dir}/tarnik.1 @ONLY)
  list(APPEND pages tarnik)
endif()

set(compressed)
foreach(page ${pages})
  add_custom_command(OUTPUT ${man_dir}/${page}.1.gz
    COMMAND gzip -9nc ${man_dir}/${page}.1 > ${man_dir}/${page}.1.gz
    DEPENDS ${man_dir}/${page}.1
    VERBATIM)
  list(APPEND compressed ${man_dir}/${page}.1.gz)
endforeach()
add_custom_target(tarnik-man ALL DEPENDS ${compressed})
install(FILES ${compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
