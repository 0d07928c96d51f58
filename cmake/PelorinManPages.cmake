# Man pages, written in scdoc (tools/man/NAME.SECTION.scd) and compiled at
# build time into share/man/manSECTION/ of the build tree, then installed.
find_program(PELORIN_SCDOC scdoc)
if(NOT PELORIN_SCDOC)
  message(WARNING "scdoc not found: the man pages are not built (scripts/install-deps.sh)")
  return()
endif()

file(GLOB pelorin_man_sources ${CMAKE_SOURCE_DIR}/tools/man/*.scd)
set(pelorin_man_pages)
foreach(source ${pelorin_man_sources})
  get_filename_component(page ${source} NAME_WLE)  # NAME.SECTION
  string(REGEX REPLACE "^.*\\.([0-9])$" "\\1" section ${page})
  set(output ${CMAKE_BINARY_DIR}/${CMAKE_INSTALL_MANDIR}/man${section}/${page})
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/${CMAKE_INSTALL_MANDIR}/man${section}
    COMMAND sh -c "sed 's/@VERSION@/${PROJECT_VERSION}/g' '${source}' | '${PELORIN_SCDOC}' > '${output}'"
    DEPENDS ${source}
    COMMENT "Man page ${page}"
    VERBATIM)
  list(APPEND pelorin_man_pages ${output})
  install(FILES ${output} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endforeach()
add_custom_target(man_pages ALL DEPENDS ${pelorin_man_pages})
