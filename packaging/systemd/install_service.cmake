# Run by `cmake --install` (and cpack): writes the exporter's systemd unit,
# naming the lumo and the configuration file of this install, and installs
# both. Under the prefix /usr the unit goes to /usr/lib/systemd/system and
# the configuration to /etc; under another prefix both stay inside it.
# Given: LUMO_UNIT_TEMPLATE, LUMO_EXPORTER_CONF, LUMO_UNIT_WORK, LUMO_BINDIR_REL.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(LUMO_SYSCONFDIR /etc)
else()
    set(LUMO_SYSCONFDIR ${CMAKE_INSTALL_PREFIX}/etc)
endif()
set(LUMO_BINDIR ${CMAKE_INSTALL_PREFIX}/${LUMO_BINDIR_REL})
configure_file(${LUMO_UNIT_TEMPLATE} ${LUMO_UNIT_WORK}/lumo-exporter.service @ONLY)
file(INSTALL DESTINATION ${CMAKE_INSTALL_PREFIX}/lib/systemd/system TYPE FILE
    FILES ${LUMO_UNIT_WORK}/lumo-exporter.service)
file(INSTALL DESTINATION ${LUMO_SYSCONFDIR}/lumo TYPE FILE FILES ${LUMO_EXPORTER_CONF})
