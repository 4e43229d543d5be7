# cmake -DNM=... -DLIBRARY=... -DEXPECTED=... -DVERSION_NODE=... -P check_exports.cmake
# The set of unique demangled names that the shared library defines in its
# dynamic symbol table must equal the expected list (constructors and
# destructors appear twice, as complete and base object variants), each
# bound to the one version node VERSION_NODE (nm shows NAME@@NODE, and the
# node itself as an absolute symbol).
execute_process(COMMAND ${NM} -D -C --defined-only ${LIBRARY}
    OUTPUT_VARIABLE listing RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${LIBRARY}: ${err}")
endif()
string(REPLACE "\n" ";" lines "${listing}")
set(found "")
set(nodes "")
set(unversioned "")
foreach(line IN LISTS lines)
    if(line MATCHES "^[0-9a-fA-F]* *A (.+)$")
        list(APPEND nodes "${CMAKE_MATCH_1}")
    elseif(line MATCHES "^[0-9a-fA-F]* *[A-Za-z] (.+)@@${VERSION_NODE}$")
        list(APPEND found "${CMAKE_MATCH_1}")
    elseif(line MATCHES "^[0-9a-fA-F]* *[A-Za-z] (.+)$")
        list(APPEND unversioned "${CMAKE_MATCH_1}")
    endif()
endforeach()
if(NOT nodes STREQUAL "${VERSION_NODE}" OR unversioned)
    string(REPLACE ";" "\n  " unversioned_text "${unversioned}")
    message(FATAL_ERROR "expected every name in the version node ${VERSION_NODE}; version nodes: ${nodes}\n"
                        "names outside it:\n  ${unversioned_text}")
endif()
list(REMOVE_DUPLICATES found)
list(SORT found)

file(STRINGS ${EXPECTED} expected)
list(REMOVE_DUPLICATES expected)
list(SORT expected)

set(extra ${found})
list(REMOVE_ITEM extra ${expected})
set(missing ${expected})
if(found)
    list(REMOVE_ITEM missing ${found})
endif()
list(LENGTH found count)
if(extra OR missing)
    string(REPLACE ";" "\n  " extra_text "${extra}")
    string(REPLACE ";" "\n  " missing_text "${missing}")
    message(FATAL_ERROR "export set differs (${count} names)\nunexpected:\n  ${extra_text}\nmissing:\n  ${missing_text}")
endif()
message(STATUS "${count} exported names, as expected")
