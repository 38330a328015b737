# The server's reader of requests at its listening port, its option answer
# and the rules that keep a requested name beneath ROOT.
tarnwick_add_fuzzer(serve_request_fuzzer
  SOURCES ServerRequestFuzz.cpp
  UNITS serve/ServerRequest.cpp serve/RequestName.cpp tftp/TftpOptions.cpp tftp/TftpPacket.cpp)
