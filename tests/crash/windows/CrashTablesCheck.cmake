# Runs the post-link step on a copy of a program that has no line
# information: it must fail, say why, and leave no executable behind.
#   cmake -DTOOL= -DOBJDUMP= -DSTRIP= -DINPUT= -DROOT= -DWORK= -P CrashTablesCheck.cmake
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
get_filename_component(name ${INPUT} NAME)
file(COPY ${INPUT} DESTINATION ${WORK})
execute_process(COMMAND ${TOOL} ${OBJDUMP} ${STRIP} ${WORK}/${name} ${ROOT}
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(result EQUAL 0)
  message(FATAL_ERROR "the step accepted a program without line information: ${out}${err}")
endif()
if(NOT err MATCHES "has no line information")
  message(FATAL_ERROR "the step failed without saying why: ${out}${err}")
endif()
if(EXISTS ${WORK}/${name})
  message(FATAL_ERROR "the program without tables was left for the next build to take as done")
endif()
file(REMOVE_RECURSE ${WORK})
