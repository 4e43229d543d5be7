# Platform code lives in files of its own, one per system: posix_<name>.cpp
# on Linux, win32_<name>.cpp beside it on Windows, both behind one header
# (posix_<name>.h, which includes no system header). A target lists its
# posix_ files as usual and then calls
#   lumo_platform_files(<target>)
# which, on Windows, builds win32_<name>.cpp in place of every posix_<name>.cpp
# of the target. A posix_ file without its win32_ partner stops the Windows
# configure with the file's name.
function(lumo_platform_files target)
    if(NOT WIN32)
        return()
    endif()
    get_target_property(sources ${target} SOURCES)
    get_target_property(dir ${target} SOURCE_DIR)
    set(chosen "")
    foreach(file IN LISTS sources)
        get_filename_component(name ${file} NAME)
        if(name MATCHES "^posix_(.*)\\.cpp$")
            get_filename_component(folder ${file} DIRECTORY)
            if(folder)
                set(partner ${folder}/win32_${CMAKE_MATCH_1}.cpp)
            else()
                set(partner win32_${CMAKE_MATCH_1}.cpp)
            endif()
            if(NOT IS_ABSOLUTE ${partner})
                set(partner ${dir}/${partner})
            endif()
            if(NOT EXISTS ${partner})
                message(FATAL_ERROR "${target}: ${file} has no Windows partner ${partner}")
            endif()
            list(APPEND chosen ${partner})
        else()
            list(APPEND chosen ${file})
        endif()
    endforeach()
    set_property(TARGET ${target} PROPERTY SOURCES ${chosen})
endfunction()

# The system libraries that the platform files call.
if(WIN32)
    # Winsock 2; WaitOnAddress and WakeByAddressAll; window messages and boxes.
    set(LUMO_PLATFORM_LIBS ws2_32 synchronization user32)
else()
    set(LUMO_PLATFORM_LIBS util) # openpty
endif()

# lumo_windows_library_names(<target>): <target>.dll with the import library
# <target>.lib, the names Windows programs look for (MinGW's ld finds
# <name>.lib for -l<name> too), instead of lib<target>.dll and .dll.a.
function(lumo_windows_library_names target)
    set_target_properties(${target} PROPERTIES PREFIX "" IMPORT_PREFIX "" IMPORT_SUFFIX ".lib")
endfunction()

if(WIN32)
    # Windows 8 or later: WaitOnAddress; inet_pton.
    add_compile_definitions(_WIN32_WINNT=0x0602 WINVER=0x0602 WIN32_LEAN_AND_MEAN NOMINMAX)
endif()

if(WIN32)
    # Programs and DLLs side by side in bin/, where Windows (and Wine) looks
    # for a program's DLLs, with the MinGW runtime DLLs they need beside them.
    set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
    set(LUMO_MINGW_RUNTIME_DLLS "")
    foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
        execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll} OUTPUT_VARIABLE found
            OUTPUT_STRIP_TRAILING_WHITESPACE)
        get_filename_component(found ${found} REALPATH)
        if(NOT EXISTS ${found})
            message(FATAL_ERROR "${CMAKE_CXX_COMPILER} has no ${dll}")
        endif()
        list(APPEND LUMO_MINGW_RUNTIME_DLLS ${found})
    endforeach()
    file(COPY ${LUMO_MINGW_RUNTIME_DLLS} DESTINATION ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
    # The copies without their debugging sections (libstdc++ shrinks from 23 MB to 2).
    list(TRANSFORM LUMO_MINGW_RUNTIME_DLLS REPLACE ".*/" "${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/")
    if(CMAKE_STRIP)
        execute_process(COMMAND ${CMAKE_STRIP} --strip-debug ${LUMO_MINGW_RUNTIME_DLLS})
    endif()
endif()
