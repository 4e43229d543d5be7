# Run by cpack once every package's files are staged (CPACK_PRE_BUILD_SCRIPTS):
# removes the .comment and .note sections, which only name the compiler, from
# every ELF file, as Debian's dh_strip does. CPack's own strip keeps them.
file(GLOB_RECURSE files LIST_DIRECTORIES false "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(file IN LISTS files)
    if(IS_SYMLINK ${file})
        continue()
    endif()
    file(READ ${file} magic LIMIT 4 HEX)
    if(magic STREQUAL "7f454c46")
        execute_process(COMMAND ${CPACK_LUMO_OBJCOPY} --remove-section=.comment --remove-section=.note ${file}
            COMMAND_ERROR_IS_FATAL ANY)
    endif()
endforeach()
