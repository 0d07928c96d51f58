# Install rules: every runtime file goes into its folder of the layout
# (PelorinLayout.cmake), in the build tree and under the install prefix alike.
# `cmake --install BUILD --prefix P` (and `make install PREFIX=P`) installs
# into P; nothing installed names the build folder.

set(PELORIN_COMMANDS pelorinctl pelorin-rules pelorin-switches pelorin-gv-service)
set(PELORIN_HOSTS pelorin-daemon-host pelorin-springboard-host pelorin-messages-host
                  pelorin-mail-host)
set(PELORIN_TWEAKS Quenlow Hestrel Ombrin Pelorin7)

pelorin_version_header(${PELORIN_COMMANDS} pelorin_sim_host)
pelorin_place(${PELORIN_BINDIR} ${PELORIN_COMMANDS})
pelorin_place(${PELORIN_LIBEXECDIR} ${PELORIN_HOSTS} rocketbootstrap)
pelorin_place(${PELORIN_PKGLIBDIR} pelorin_platform)
pelorin_place(${PELORIN_TWEAKDIR} ${PELORIN_TWEAKS})
pelorin_place(${PELORIN_SWITCHDIR}/Dorvessa.bundle Dorvessa)
# Pelorin7 finds Hestrel.so beside itself.
pelorin_rpath_from(${PELORIN_TWEAKDIR} tweak_rpath)
set_target_properties(Pelorin7 PROPERTIES INSTALL_RPATH "$ORIGIN;${tweak_rpath}")

# Libraries are loaded, never run: not executable.
set(pelorin_library_mode PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(TARGETS ${PELORIN_COMMANDS} RUNTIME DESTINATION ${PELORIN_BINDIR})
install(TARGETS ${PELORIN_HOSTS} RUNTIME DESTINATION ${PELORIN_LIBEXECDIR})
install(TARGETS rocketbootstrap LIBRARY DESTINATION ${PELORIN_LIBEXECDIR} NAMELINK_SKIP
        ${pelorin_library_mode})
install(TARGETS pelorin_platform LIBRARY DESTINATION ${PELORIN_PKGLIBDIR} NAMELINK_SKIP
        ${pelorin_library_mode})
install(TARGETS ${PELORIN_TWEAKS} LIBRARY DESTINATION ${PELORIN_TWEAKDIR} ${pelorin_library_mode})
install(DIRECTORY ${PELORIN_BUILD_TWEAKDIR}/ DESTINATION ${PELORIN_TWEAKDIR}
        FILES_MATCHING PATTERN "*.plist")
install(TARGETS Dorvessa LIBRARY DESTINATION ${PELORIN_SWITCHDIR}/Dorvessa.bundle
        ${pelorin_library_mode})
install(FILES ${PELORIN_BUILD_SWITCHDIR}/Dorvessa.bundle/Info.plist
        DESTINATION ${PELORIN_SWITCHDIR}/Dorvessa.bundle)

# pelorin-sim finds everything else relative to its own location.
file(RELATIVE_PATH PELORIN_SIM_TO_LIBEXEC /p/${PELORIN_BINDIR} /p/${PELORIN_LIBEXECDIR})
file(RELATIVE_PATH PELORIN_SIM_TO_TWEAKS /p/${PELORIN_BINDIR} /p/${PELORIN_TWEAKDIR})
file(RELATIVE_PATH PELORIN_SIM_TO_SWITCHES /p/${PELORIN_BINDIR} /p/${PELORIN_SWITCHDIR})
file(RELATIVE_PATH PELORIN_SIM_TO_DATA /p/${PELORIN_BINDIR} /p/${PELORIN_DATADIR})
configure_file(sim/pelorin-sim.in ${PELORIN_BUILD_BINDIR}/pelorin-sim @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE)
install(PROGRAMS ${PELORIN_BUILD_BINDIR}/pelorin-sim DESTINATION ${PELORIN_BINDIR})

# What the device and the demo read: the sample mails and the demo's rules.
file(GLOB pelorin_samples ${CMAKE_SOURCE_DIR}/sim/samples/*.eml)
file(COPY ${pelorin_samples} DESTINATION ${PELORIN_BUILD_DATADIR}/samples)
file(COPY tools/demo/sample-rules.plist DESTINATION ${PELORIN_BUILD_DATADIR})
install(DIRECTORY ${PELORIN_BUILD_DATADIR}/ DESTINATION ${PELORIN_DATADIR})

set(pelorin_docdir ${CMAKE_INSTALL_DATADIR}/doc/pelorin)
install(FILES README.md DESTINATION ${pelorin_docdir})
foreach(part sim service bench)
  install(FILES ${part}/README.md DESTINATION ${pelorin_docdir} RENAME README.${part}.md)
endforeach()

include(PelorinManPages)
install(FILES tools/completion/pelorinctl tools/completion/pelorin-sim
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

# Without tests, the build compiles only what is installed.
if(NOT PELORIN_TESTS)
  foreach(support pelorin_platform_testing pelorin_gv_service_testing
                  pelorin_quenlow_device_testing pelorin_rules_terminal_testing SimTestTweak
                  bus_peer loader_probe_A loader_probe_B loader_probe_C)
    if(TARGET ${support})
      set_target_properties(${support} PROPERTIES EXCLUDE_FROM_ALL ON)
    endif()
  endforeach()
else()
  if(TARGET sim_tests)
    pelorin_version_header(sim_tests)
  endif()
endif()
if(PELORIN_TESTS AND NOT PELORIN_FUZZ AND NOT PELORIN_SANITIZE)
  # An install into a temporary folder: every file where the layout says, and
  # none that names the build folder.
  add_test(NAME InstallLayout.DestdirInstall
           COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-install.sh ${CMAKE_BINARY_DIR})
endif()
