# Socket layer: the text routines that read names and lines from outside.
tarnwick_add_fuzzer(net_text_fuzz SOURCES NetTextFuzz.cpp UNITS net/NetUtil.cpp)
