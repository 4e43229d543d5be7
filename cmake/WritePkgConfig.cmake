# Runs at install time (install(CODE) in LumoInstall.cmake): writes a
# pkg-config file whose directories are those of this install's prefix, so that
# `cmake --install --prefix P` and the Debian packages (prefix /usr) both get
# the right paths. Expects LUMO_PC_TEMPLATE, LUMO_PC_NAME, LUMO_PC_LIBDIR,
# LUMO_PC_INCLUDEDIR (relative to the prefix, or absolute) and LUMO_PC_VERSION.
set(prefix "${CMAKE_INSTALL_PREFIX}")
set(version "${LUMO_PC_VERSION}")
foreach(kind libdir includedir)
    string(TOUPPER "${kind}" upper)
    set(dir "${LUMO_PC_${upper}}")
    if(IS_ABSOLUTE "${dir}")
        set(${kind} "${dir}")
    else()
        set(${kind} "\${prefix}/${dir}")
    endif()
endforeach()
if(IS_ABSOLUTE "${LUMO_PC_LIBDIR}")
    set(pc_dir "$ENV{DESTDIR}${LUMO_PC_LIBDIR}/pkgconfig")
else()
    set(pc_dir "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${LUMO_PC_LIBDIR}/pkgconfig")
endif()
message(STATUS "Installing: ${pc_dir}/${LUMO_PC_NAME}.pc")
configure_file("${LUMO_PC_TEMPLATE}" "${pc_dir}/${LUMO_PC_NAME}.pc" @ONLY)
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${pc_dir}/${LUMO_PC_NAME}.pc")
