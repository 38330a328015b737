# Installs the native build into a scratch prefix and checks that the
# program and its man page are where `cmake --install` promises them.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD}" --prefix "${PREFIX}" RESULT_VARIABLE failed
                OUTPUT_QUIET)
if(failed)
  message(FATAL_ERROR "cmake --install failed")
endif()
foreach(path bin/tarnwick-cli share/man/man1/tarnwick-cli.1 lib/systemd/system/tarnwick-serve.service
             lib/systemd/system/tarnwick-serve.socket)
  if(NOT EXISTS "${PREFIX}/${path}")
    message(FATAL_ERROR "${path} is not installed")
  endif()
endforeach()
file(REMOVE_RECURSE "${PREFIX}")
