# Where every file a person or the device runs lives, relative to the install
# prefix. The build tree uses the same layout under the build folder, so the
# relative lookups of pelorin-sim (and of anything else that finds a sibling)
# work in both.
include(GNUInstallDirs)

set(PELORIN_BINDIR ${CMAKE_INSTALL_BINDIR})
set(PELORIN_LIBEXECDIR ${CMAKE_INSTALL_LIBEXECDIR}/pelorin)  # hosts, bootstrap stand-in
set(PELORIN_PKGLIBDIR lib/pelorin)                             # the platform library
set(PELORIN_TWEAKDIR ${PELORIN_PKGLIBDIR}/tweaks)             # NAME.so + NAME.plist
set(PELORIN_SWITCHDIR ${PELORIN_PKGLIBDIR}/switches)          # NAME.bundle/
set(PELORIN_DATADIR ${CMAKE_INSTALL_DATADIR}/pelorin)          # samples, page files

foreach(kind BINDIR LIBEXECDIR PKGLIBDIR TWEAKDIR SWITCHDIR DATADIR)
  set(PELORIN_BUILD_${kind} ${CMAKE_BINARY_DIR}/${PELORIN_${kind}})
endforeach()

# The run path from a folder of the layout to the platform library.
function(pelorin_rpath_from folder out)
  file(RELATIVE_PATH relative /prefix/${folder} /prefix/${PELORIN_PKGLIBDIR})
  if(relative STREQUAL "")
    set(${out} "$ORIGIN" PARENT_SCOPE)
  else()
    set(${out} "$ORIGIN/${relative}" PARENT_SCOPE)
  endif()
endfunction()

# Puts each target's output into `folder` of the layout, with a run path
# relative to itself, in the build tree exactly as once installed.
function(pelorin_place folder)
  pelorin_rpath_from(${folder} rpath)
  foreach(target ${ARGN})
    set_target_properties(${target} PROPERTIES
      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/${folder}
      LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/${folder}
      BUILD_WITH_INSTALL_RPATH ON
      INSTALL_RPATH "${rpath}")
  endforeach()
endfunction()

# The project's version, for every program's --version: "pelorin/version.h"
# in the targets that pelorin_version_header() names.
configure_file(${CMAKE_CURRENT_LIST_DIR}/version.h.in
               ${CMAKE_BINARY_DIR}/generated/pelorin/version.h @ONLY)
function(pelorin_version_header)
  foreach(target ${ARGN})
    target_include_directories(${target} PRIVATE ${CMAKE_BINARY_DIR}/generated)
  endforeach()
endfunction()
