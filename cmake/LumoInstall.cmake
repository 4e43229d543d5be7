# What `cmake --install` puts where, and which Debian package takes it.
#
# Every installed file belongs to one install component, and each component
# is one package (cmake/LumoPackaging.cmake):
#   library      libctrl-lumo1     libCtrl_Lumo.so.1
#   clibrary     libctrl-lumo-c1   libctrl_lumo_c.so.1, the C interface
#   python       python3-ctrl-lumo the ctrl_lumo package over the C interface
#   development  libctrl-lumo-dev  headers, the .so links, CMake package, pkg-config files
#   console      cmdora            the programs, their man pages and shell completion, desktop
#                                  file, icons, metainfo
#
# A new program is one line after its add_executable:
#   lumo_install_program(<target>)            # component console
# plus its man page source packaging/man/<target>.1.scd. A new shared library:
#   lumo_install_library(<target> SOVERSION <n> HEADERS <public headers>)
# exports it as CtrlLumo::<target> from find_package(CtrlLumo).

# Debian keeps libraries in its multiarch folder (lib/x86_64-linux-gnu) under
# any prefix, and its own builds name it; so do we, unless a libdir is given.
# (GNUInstallDirs picks it by itself only for the prefix /usr.)
if(NOT DEFINED CMAKE_INSTALL_LIBDIR AND CMAKE_LIBRARY_ARCHITECTURE AND EXISTS /etc/debian_version)
    set(CMAKE_INSTALL_LIBDIR "lib/${CMAKE_LIBRARY_ARCHITECTURE}" CACHE PATH "Object code libraries")
endif()
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# The one version of the tree, for programs: #include "lumo_version.h" gives LUMO_VERSION.
configure_file(${PROJECT_SOURCE_DIR}/cmake/lumo_version.h.in ${PROJECT_BINARY_DIR}/generated/lumo_version.h @ONLY)
add_library(lumo_version INTERFACE)
target_include_directories(lumo_version INTERFACE ${PROJECT_BINARY_DIR}/generated)

# Man pages are written for scdoc and turned into gzipped roff by the build.
# (Windows has no man: its zip carries README-Windows.txt instead.)
if(WIN32)
    set(LUMO_MAN_PAGES_DEFAULT OFF)
else()
    set(LUMO_MAN_PAGES_DEFAULT ON)
endif()
option(LUMO_MAN_PAGES "Build and install a man page for every program" ${LUMO_MAN_PAGES_DEFAULT})
if(LUMO_MAN_PAGES)
    find_program(LUMO_SCDOC scdoc)
    find_program(LUMO_GZIP gzip)
    if(NOT LUMO_SCDOC OR NOT LUMO_GZIP)
        message(FATAL_ERROR "scdoc and gzip are needed for the man pages: run scripts/install-deps.sh "
                            "(or configure with -DLUMO_MAN_PAGES=OFF)")
    endif()
    # scdoc dates a page by SOURCE_DATE_EPOCH, else by today: a package build
    # sets it; otherwise the release date stands.
    if(DEFINED ENV{SOURCE_DATE_EPOCH})
        set(LUMO_MAN_EPOCH $ENV{SOURCE_DATE_EPOCH})
    else()
        execute_process(COMMAND date -u -d "${LUMO_RELEASE_DATE} 12:00" +%s
            OUTPUT_VARIABLE LUMO_MAN_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    endif()
endif()

set(LUMO_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/CtrlLumo)

# lumo_add_man_page(<name> <component>): packaging/man/<name>.1.scd (where
# @PROJECT_VERSION@ stands for the version) becomes share/man/man1/<name>.1.gz.
function(lumo_add_man_page name component)
    if(NOT LUMO_MAN_PAGES)
        return()
    endif()
    set(source ${PROJECT_SOURCE_DIR}/packaging/man/${name}.1.scd)
    if(NOT EXISTS ${source})
        message(FATAL_ERROR "${name} is installed without a man page: write ${source}")
    endif()
    set(scd ${PROJECT_BINARY_DIR}/man/${name}.1.scd)
    set(page ${PROJECT_BINARY_DIR}/man/${name}.1)
    configure_file(${source} ${scd} @ONLY)
    add_custom_command(OUTPUT ${page}.gz
        COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${LUMO_MAN_EPOCH}
                sh -c "\"$0\" <\"$1\" >\"$2\"" ${LUMO_SCDOC} ${scd} ${page}
        COMMAND ${LUMO_GZIP} -9nf ${page}
        DEPENDS ${scd}
        COMMENT "Man page ${name}(1)"
        VERBATIM)
    add_custom_target(man_${name} ALL DEPENDS ${page}.gz)
    install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
endfunction()

# lumo_install_program(<target> [COMPONENT <component>]): the program goes to
# bin with its man page; it gets LUMO_VERSION for --version. The install tests
# run --help and --version of every program listed here.
function(lumo_install_program target)
    cmake_parse_arguments(arg "" "COMPONENT" "" ${ARGN})
    if(NOT arg_COMPONENT)
        set(arg_COMPONENT console)
    endif()
    target_link_libraries(${target} PRIVATE lumo_version)
    install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${arg_COMPONENT})
    lumo_add_man_page(${target} ${arg_COMPONENT})
    set_property(GLOBAL APPEND PROPERTY LUMO_PROGRAMS ${target})
endfunction()

# lumo_install_completion(<program> BASH <file> ZSH <file>): shell completion
# where Debian's bash-completion loads it on demand
# (share/bash-completion/completions/<program>) and zsh's vendor functions
# beside it (share/zsh/vendor-completions/_<program>), in the cmdora package.
function(lumo_install_completion program)
    if(WIN32)
        return() # neither shell is where Windows users type
    endif()
    cmake_parse_arguments(arg "" "BASH;ZSH" "" ${ARGN})
    install(FILES ${arg_BASH} DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME ${program} COMPONENT console)
    install(FILES ${arg_ZSH} DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions
        RENAME _${program} COMPONENT console)
endfunction()

# lumo_install_library(<target> SOVERSION <n> [HEADERS <files>...] [COMPONENT <component>]):
# lib<name>.so.<version> and its SONAME link in the library component, the
# .so link and the headers (under include/ctrl_lumo/) in development, the
# target exported as CtrlLumo::<target>.
function(lumo_install_library target)
    cmake_parse_arguments(arg "" "SOVERSION;COMPONENT" "HEADERS" ${ARGN})
    if(NOT arg_COMPONENT)
        set(arg_COMPONENT library)
    endif()
    set_target_properties(${target} PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${arg_SOVERSION})
    # On Windows the DLL goes to bin beside the programs, its import library to lib.
    install(TARGETS ${target} EXPORT CtrlLumoTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT ${arg_COMPONENT} NAMELINK_COMPONENT development
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${arg_COMPONENT}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
    if(arg_HEADERS)
        install(FILES ${arg_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/ctrl_lumo COMPONENT development)
    endif()
endfunction()

# The CMake package and the pkg-config file of the libraries; called once at
# the end of the top-level CMakeLists.txt, after every lumo_install_library.
function(lumo_install_library_package)
    install(EXPORT CtrlLumoTargets NAMESPACE CtrlLumo:: DESTINATION ${LUMO_CMAKE_PACKAGE_DIR}
        COMPONENT development)
    configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/CtrlLumoConfig.cmake.in
        ${PROJECT_BINARY_DIR}/CtrlLumoConfig.cmake INSTALL_DESTINATION ${LUMO_CMAKE_PACKAGE_DIR})
    write_basic_package_version_file(${PROJECT_BINARY_DIR}/CtrlLumoConfigVersion.cmake
        VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
    install(FILES ${PROJECT_BINARY_DIR}/CtrlLumoConfig.cmake ${PROJECT_BINARY_DIR}/CtrlLumoConfigVersion.cmake
        DESTINATION ${LUMO_CMAKE_PACKAGE_DIR} COMPONENT development)

    lumo_install_pkg_config(ctrl-lumo ${PROJECT_SOURCE_DIR}/cmake/ctrl-lumo.pc.in)
endfunction()

# lumo_install_pkg_config(<name> <template>): lib/pkgconfig/<name>.pc in the
# development component. pkg-config names absolute directories: the file is
# written when the install runs, under that install's prefix
# (cmake/WritePkgConfig.cmake fills @prefix@, @libdir@, @includedir@, @version@).
function(lumo_install_pkg_config name template)
    install(CODE "
        set(LUMO_PC_TEMPLATE \"${template}\")
        set(LUMO_PC_NAME ${name})
        set(LUMO_PC_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
        set(LUMO_PC_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
        set(LUMO_PC_VERSION \"${PROJECT_VERSION}\")
        include(\"${PROJECT_SOURCE_DIR}/cmake/WritePkgConfig.cmake\")
    " COMPONENT development)
endfunction()
