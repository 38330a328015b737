# Readers of bytes that arrive from a TFTP peer: packet readers, the device's
# error text on its way to the log.
tarnwick_add_fuzzer(tftp_packet_fuzzer
  SOURCES TftpPacketFuzz.cpp
  UNITS tftp/TftpPacket.cpp ${fuzz_text_units})

# The command line's engine: OACK reader and judge, and both directions of a
# transfer fed a sequence of arbitrary datagrams.
tarnwick_add_fuzzer(tftp_client_transfer_fuzzer
  SOURCES ClientTransferFuzz.cpp TransferFuzzParts.h
  UNITS tftp/ClientTransfer.cpp ${fuzz_transfer_units})

# The server's side of a transfer, both directions, with and without an
# OACK, fed datagrams, repeated requests and time-outs.
tarnwick_add_fuzzer(tftp_server_transfer_fuzzer
  SOURCES ServerTransferFuzz.cpp TransferFuzzParts.h
  UNITS tftp/ServerTransfer.cpp ${fuzz_transfer_units})
