# The server's reader of requests at its listening port, its option answer
# and the rules that keep a requested name beneath ROOT.
tarnwick_add_fuzzer(serve_request_fuzzer
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ServerRequestFuzz.cpp
          ${PROJECT_SOURCE_DIR}/src/serve/ServerRequest.cpp
          ${PROJECT_SOURCE_DIR}/src/serve/RequestName.cpp
          ${PROJECT_SOURCE_DIR}/src/tftp/TftpOptions.cpp
          ${PROJECT_SOURCE_DIR}/src/tftp/TftpPacket.cpp)
