# Readers of bytes that arrive from a TFTP peer: packet readers, the device's
# error text on its way to the log.
tarnwick_add_fuzzer(tftp_packet_fuzzer
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/TftpPacketFuzz.cpp
          ${PROJECT_SOURCE_DIR}/src/tftp/TftpPacket.cpp
          ${PROJECT_SOURCE_DIR}/src/app/TransferNames.cpp
          ${PROJECT_SOURCE_DIR}/src/base/Exception.cpp
          ${PROJECT_SOURCE_DIR}/src/base/TextCodec.cpp
          ${PROJECT_SOURCE_DIR}/src/base/TextCodec_posix.cpp)

# The command line's engine: OACK reader and judge, and both directions of a
# transfer fed a sequence of arbitrary datagrams.
tarnwick_add_fuzzer(tftp_client_transfer_fuzzer
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ClientTransferFuzz.cpp
          ${PROJECT_SOURCE_DIR}/src/tftp/ClientTransfer.cpp
          ${PROJECT_SOURCE_DIR}/src/tftp/ReceiveRole.cpp
          ${PROJECT_SOURCE_DIR}/src/tftp/SendRole.cpp
          ${PROJECT_SOURCE_DIR}/src/tftp/TransferRoles.cpp
          ${PROJECT_SOURCE_DIR}/src/tftp/RetransmitTimer.cpp
          ${PROJECT_SOURCE_DIR}/src/tftp/TftpOptions.cpp
          ${PROJECT_SOURCE_DIR}/src/tftp/TftpPacket.cpp
          ${PROJECT_SOURCE_DIR}/src/tftp/EndpointText.cpp)

# The server's side of a transfer, both directions, with and without an
# OACK, fed datagrams, repeated requests and time-outs.
tarnwick_add_fuzzer(tftp_server_transfer_fuzzer
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ServerTransferFuzz.cpp
          ${PROJECT_SOURCE_DIR}/src/tftp/ServerTransfer.cpp
          ${PROJECT_SOURCE_DIR}/src/tftp/TransferRoles.cpp
          ${PROJECT_SOURCE_DIR}/src/tftp/ReceiveRole.cpp
          ${PROJECT_SOURCE_DIR}/src/tftp/SendRole.cpp
          ${PROJECT_SOURCE_DIR}/src/tftp/RetransmitTimer.cpp
          ${PROJECT_SOURCE_DIR}/src/tftp/TftpOptions.cpp
          ${PROJECT_SOURCE_DIR}/src/tftp/TftpPacket.cpp
          ${PROJECT_SOURCE_DIR}/src/tftp/EndpointText.cpp)
