# Socket layer: the SOCKS reply reader and the UDP relay header reader, fed
# with bytes as a proxy or a relay could send them.
tarnwick_add_fuzzer(socks_reply_fuzz SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/SocksReplyFuzz.cpp
                    ${PROJECT_SOURCE_DIR}/src/net/SocksCodec.cpp ${PROJECT_SOURCE_DIR}/src/net/NetUtil.cpp)
