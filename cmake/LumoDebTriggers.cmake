# Run by cpack once the packages are written (CPACK_POST_BUILD_SCRIPTS).
# CPack gives a package that installs a library under /usr/lib a postinst and
# a postrm that call ldconfig; Debian refreshes the loader's cache by the
# ldconfig trigger instead. Each such package is rebuilt without those two
# scripts (our libraries' packages have no others) and with the trigger.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
    execute_process(COMMAND dpkg-deb --info ${package} postinst
        OUTPUT_VARIABLE postinst RESULT_VARIABLE no_postinst ERROR_QUIET)
    if(no_postinst OR NOT postinst MATCHES "\n[ \t]*ldconfig\n")
        continue()
    endif()
    get_filename_component(name ${package} NAME_WLE)
    set(tree ${CPACK_TOPLEVEL_DIRECTORY}/ldconfig-trigger/${name})
    file(REMOVE_RECURSE ${tree})
    file(MAKE_DIRECTORY ${CPACK_TOPLEVEL_DIRECTORY}/ldconfig-trigger)
    execute_process(COMMAND dpkg-deb --raw-extract ${package} ${tree} COMMAND_ERROR_IS_FATAL ANY)
    file(REMOVE ${tree}/DEBIAN/postinst ${tree}/DEBIAN/postrm)
    file(WRITE ${tree}/DEBIAN/triggers "activate-noawait ldconfig\n")
    execute_process(COMMAND dpkg-deb --root-owner-group --build ${tree} ${package}
        OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
    file(REMOVE_RECURSE ${tree})
endforeach()
