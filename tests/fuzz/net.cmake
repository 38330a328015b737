# Socket layer: the text routines that read names and lines from outside.
tarnwick_add_fuzzer(net_text_fuzz SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/NetTextFuzz.cpp
                    ${PROJECT_SOURCE_DIR}/src/net/NetUtil.cpp)
