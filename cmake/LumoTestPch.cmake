# One precompiled header (gtest and the standard headers) shared by every
# GoogleTest program of the tree; it saves about a third of their build time.
# Programs are found by what they link, so a new test needs nothing here.
# (The Qt Test programs share one of their own, in tests/console.)

# All targets defined in `dir` and below.
function(lumo_collect_targets dir out)
    get_property(found DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    foreach(sub ${subdirs})
        lumo_collect_targets(${sub} more)
        list(APPEND found ${more})
    endforeach()
    set(${out} ${found} PARENT_SCOPE)
endfunction()

function(lumo_share_gtest_pch)
    set(stub ${CMAKE_CURRENT_BINARY_DIR}/gtest_pch_stub.cpp)
    file(CONFIGURE OUTPUT ${stub} CONTENT "// carries the precompiled header only\n")
    add_library(lumo_pch_gtest OBJECT ${stub})
    target_link_libraries(lumo_pch_gtest PRIVATE GTest::gtest lumo_warnings)
    target_precompile_headers(lumo_pch_gtest PRIVATE <gtest/gtest.h> <algorithm> <atomic> <chrono>
        <cstring> <functional> <memory> <mutex> <string> <thread> <vector>)

    lumo_collect_targets(${CMAKE_CURRENT_SOURCE_DIR} targets)
    foreach(t ${targets})
        get_target_property(type ${t} TYPE)
        get_target_property(libs ${t} LINK_LIBRARIES)
        if(type STREQUAL "EXECUTABLE" AND ("GTest::gtest_main" IN_LIST libs OR "GTest::gtest" IN_LIST libs))
            target_precompile_headers(${t} REUSE_FROM lumo_pch_gtest)
        endif()
    endforeach()
endfunction()
