# `cpack -G DEB` in a build tree: one Debian package per install component
# (cmake/LumoInstall.cmake), installed under /usr.
#   libctrl-lumo1     library      libCtrl_Lumo.so.1 (named after its SONAME)
#   libctrl-lumo-c1   clibrary     libctrl_lumo_c.so.1 (the C interface)
#   python3-ctrl-lumo python       the Python package ctrl_lumo over the C interface
#   libctrl-lumo-dev  development  headers, both .so links, CMake package, ctrl-lumo.pc, ctrl-lumo-c.pc
#   cmdora            console      Cmdora, lumo-module-sim, lumo-trace-viewer and their files
# A program added with lumo_install_program() lands in cmdora by itself; a new
# component needs a line in LUMO_PACKAGES and its name and description below.
# Each package carries a machine-readable copyright file and a changelog, and
# is free of lintian errors and warnings (packaging/lintian.md).

set(LUMO_PACKAGES library clibrary python development)
if(LUMO_BUILD_CONSOLE)
    list(APPEND LUMO_PACKAGES console)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME cmdora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# The packaging's own revision, the n of 1.1.0-n: one more for a new build of
# the same version, back to 1 with a new version.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(LUMO_DEB_VERSION ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})
set(CPACK_PACKAGE_CONTACT "Cmdora maintainers <cmdora@example.org>")
# Staged with DESTDIR under the prefix /usr, so that files written at install
# time (the pkg-config file) name /usr, whatever prefix the tree was configured with.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# What CPack leaves undone for Debian: the pre-build script removes the
# .comment and .note sections from the staged programs and libraries (as
# dh_strip does); the post-build script has the libraries' packages refresh
# the loader's cache by the ldconfig trigger instead of scripts that call it.
set(CPACK_LUMO_OBJCOPY ${CMAKE_OBJCOPY})
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/LumoDebStrip.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/LumoDebTriggers.cmake)
set(CPACK_COMPONENTS_ALL ${LUMO_PACKAGES})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON) # Depends from the ELF files (dpkg-shlibdeps)
# A shlibs file and the ldconfig trigger for the package that holds a shared library.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME libctrl-lumo1)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
string(CONCAT CPACK_COMPONENT_LIBRARY_DESCRIPTION
    "device link to the modules of a video-wall controller\n"
    "libCtrl_Lumo.so exports the class CLumo_Net, which opens a serial port,\n"
    "a TCP link or UDP to one module of a video-wall controller, sends\n"
    "frames, waits for acknowledgements and queries the module.")

set(CPACK_DEBIAN_CLIBRARY_PACKAGE_NAME libctrl-lumo-c1)
set(CPACK_DEBIAN_CLIBRARY_PACKAGE_SECTION libs)
string(CONCAT CPACK_COMPONENT_CLIBRARY_DESCRIPTION
    "C interface to the modules of a video-wall controller\n"
    "libctrl_lumo_c.so opens a TCP, UDP or serial link to one module of a\n"
    "video-wall controller and sends commands as the Cmdora console does,\n"
    "for programs in C and languages with a C foreign-function interface.")

set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-ctrl-lumo)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3 (>= 3.9)")
# postinst byte-compiles the modules and prerm removes the compiled files.
set(deb_dir ${PROJECT_BINARY_DIR}/deb)
set(LUMO_DEB_PACKAGE ${CPACK_DEBIAN_PYTHON_PACKAGE_NAME})
if(IS_ABSOLUTE ${LUMO_PYTHON_DIR})
    set(LUMO_PYTHON_PACKAGE_DIR ${LUMO_PYTHON_DIR}/ctrl_lumo)
else()
    set(LUMO_PYTHON_PACKAGE_DIR ${CPACK_PACKAGING_INSTALL_PREFIX}/${LUMO_PYTHON_DIR}/ctrl_lumo)
endif()
configure_file(${PROJECT_SOURCE_DIR}/packaging/deb/python-postinst.in ${deb_dir}/python/postinst @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/packaging/deb/python-prerm.in ${deb_dir}/python/prerm @ONLY)
set(CPACK_DEBIAN_PYTHON_PACKAGE_CONTROL_EXTRA ${deb_dir}/python/postinst ${deb_dir}/python/prerm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON) # maintainer scripts 0755, the rest 0644
set(CPACK_COMPONENT_PYTHON_DEPENDS clibrary)
string(CONCAT CPACK_COMPONENT_PYTHON_DESCRIPTION
    "Python access to the modules of a video-wall controller\n"
    "The package ctrl_lumo sends commands to one module over TCP, UDP or a\n"
    "serial port and returns its answers, through libctrl_lumo_c.so; made\n"
    "for module tests written with pytest.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libctrl-lumo-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS library clibrary)
string(CONCAT CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
    "device link to video-wall controller modules (development files)\n"
    "The headers, the CMake package (find_package(CtrlLumo) gives the targets\n"
    "CtrlLumo::Ctrl_Lumo and CtrlLumo::ctrl_lumo_c) and the pkg-config files\n"
    "ctrl-lumo.pc and ctrl-lumo-c.pc for programs built on libCtrl_Lumo.so\n"
    "or on its C interface libctrl_lumo_c.so.")

set(CPACK_DEBIAN_CONSOLE_PACKAGE_NAME cmdora)
set(CPACK_DEBIAN_CONSOLE_PACKAGE_SECTION electronics)
# The exporter's configuration is the administrator's once installed.
file(WRITE ${deb_dir}/console/conffiles "/etc/lumo/exporter.conf\n")
set(CPACK_DEBIAN_CONSOLE_PACKAGE_CONTROL_EXTRA ${deb_dir}/console/conffiles)
string(CONCAT CPACK_COMPONENT_CONSOLE_DESCRIPTION
    "engineering console for the modules of a video-wall controller\n"
    "Cmdora sends typed commands to one module over a serial port, TCP or UDP\n"
    "and shows its answers. With it come lumo-module-sim, a simulated module\n"
    "on a loopback address, and lumo-trace-viewer, which shows the commands\n"
    "the console sends. lumo speaks to modules from scripts, watches them and\n"
    "serves their state to Prometheus (lumo-exporter.service, not enabled).")

# /usr/share/doc/<package>/copyright and changelog.Debian.gz in every package,
# and lintian's overrides (packaging/lintian.md); only a component install,
# as cpack makes, takes them (EXCLUDE_FROM_ALL).
set(license_file ${PROJECT_SOURCE_DIR}/packaging/licenses/${LUMO_LICENSE}.txt)
if(NOT EXISTS ${license_file})
    message(FATAL_ERROR "The licence ${LUMO_LICENSE} (LUMO_LICENSE) has no text: write ${license_file}")
endif()
# In a copyright file the text's lines are indented, and an empty line is " .".
file(READ ${license_file} text)
string(STRIP "${text}" text)
string(REPLACE "\n" "\n " text " ${text}")
string(REGEX REPLACE "\n \n" "\n .\n" text "${text}")
string(REGEX REPLACE "\n \n" "\n .\n" LUMO_LICENSE_TEXT "${text}") # again for a run of empty lines
execute_process(COMMAND date -u -R -d "${LUMO_RELEASE_DATE} 12:00"
    OUTPUT_VARIABLE LUMO_DEB_DATE OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
find_program(LUMO_GZIP gzip REQUIRED)
configure_file(${PROJECT_SOURCE_DIR}/packaging/deb/copyright.in ${deb_dir}/copyright @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/packaging/deb/changelog.in ${deb_dir}/changelog @ONLY)
execute_process(COMMAND ${LUMO_GZIP} -9nc ${deb_dir}/changelog OUTPUT_FILE ${deb_dir}/changelog.Debian.gz
    COMMAND_ERROR_IS_FATAL ANY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${license_file})
foreach(component IN LISTS LUMO_PACKAGES)
    string(TOUPPER ${component} upper)
    install(FILES ${deb_dir}/copyright ${deb_dir}/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${CPACK_DEBIAN_${upper}_PACKAGE_NAME}
        COMPONENT ${component} EXCLUDE_FROM_ALL)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/deb/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME ${CPACK_DEBIAN_${upper}_PACKAGE_NAME}
        COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()

include(CPack)
