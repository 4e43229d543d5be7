# The Windows archive: `cpack -G ZIP` in the Windows build tree gives
# lumo-<version>-win64.zip with
#   bin/      lumo.exe, Ctrl_Lumo.dll, ctrl_lumo_c.dll and the MinGW runtime DLLs
#   include/  ctrl_lumo/lumo_net.h, lumo_tap.h, ctrl_lumo_c.h
#   lib/      the import libraries Ctrl_Lumo.lib and ctrl_lumo_c.lib
#   python/   the ctrl_lumo package (it finds bin/ctrl_lumo_c.dll by itself)
#   README-Windows.txt
install(FILES ${LUMO_MINGW_RUNTIME_DLLS} DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT library)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/windows/README-Windows.txt DESTINATION . COMPONENT library)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/capi/python/ctrl_lumo DESTINATION python COMPONENT python
    FILES_MATCHING PATTERN "*.py" PATTERN "py.typed" PATTERN "__pycache__" EXCLUDE)

set(CPACK_PACKAGE_NAME lumo)
set(CPACK_PACKAGE_VENDOR "Norvane")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_FILE_NAME lumo-${PROJECT_VERSION}-win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
