# cmake -DNM=... -DLIBRARY=... -DEXPECTED=... -P check_exports.cmake
# The set of unique demangled names that the shared library defines in its
# dynamic symbol table must equal the expected list (constructors and
# destructors appear twice, as complete and base object variants).
execute_process(COMMAND ${NM} -D -C --defined-only ${LIBRARY}
    OUTPUT_VARIABLE listing RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${LIBRARY}: ${err}")
endif()
string(REPLACE "\n" ";" lines "${listing}")
set(found "")
foreach(line IN LISTS lines)
    if(line MATCHES "^[0-9a-fA-F]* *[A-Za-z] (.+)$")
        list(APPEND found "${CMAKE_MATCH_1}")
    endif()
endforeach()
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
