# Fails when the executable imports any private-profile function from kernel32:
# every such call must go through the store (port/profile_api.h), or it would
# bypass the store's parsed copy of the file.
execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE imports RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${EXE} failed")
endif()
if(NOT imports MATCHES "CreateFileW")
  message(FATAL_ERROR "no import table read from ${EXE}")
endif()
string(REGEX MATCHALL "[A-Za-z]*PrivateProfile[A-Za-z]*" found "${imports}")
if(found)
  list(REMOVE_DUPLICATES found)
  message(FATAL_ERROR "${EXE} imports ${found}")
endif()
