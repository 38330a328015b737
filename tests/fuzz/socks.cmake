# Socket layer: the SOCKS reply reader and the UDP relay header reader, fed
# with bytes as a proxy or a relay could send them.
tarnwick_add_fuzzer(socks_reply_fuzz SOURCES SocksReplyFuzz.cpp UNITS net/SocksCodec.cpp net/NetUtil.cpp)
