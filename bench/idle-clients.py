#!/usr/bin/env python3
"""Idle transfers for the serve benchmarks: N clients on 127.0.0.1 each ask
for FILE with the timeout option at 255 s, answer the OACK with ACK 0 and
then stay silent, so the server holds N running transfers that wait on
their clients (a slow device holding its window). Prints "ready N" once
every OACK was answered (a request unanswered for 2 s is sent again); exits when standard input closes or after
SECONDS. Usage: idle-clients.py PORT N FILE SECONDS"""
import select
import socket
import sys
import time


def main():
    port, count, name, seconds = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3], float(sys.argv[4])
    request = b"\0\1" + name.encode() + b"\0octet\0timeout\0" + b"255\0"
    clients = []
    for _ in range(count):
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.bind(("127.0.0.1", 0))
        s.setblocking(False)
        s.sendto(request, ("127.0.0.1", port))
        clients.append(s)
    waiting = {s.fileno(): s for s in clients}
    poll = select.poll()
    for fd in waiting:
        poll.register(fd, select.POLLIN)
    deadline = time.time() + 120
    resend = time.time() + 2
    while waiting and time.time() < deadline:
        if time.time() >= resend:
            # A burst of requests overflows the server's receive buffer:
            # the unanswered ask again (a duplicate is no second transfer).
            for s in waiting.values():
                s.sendto(request, ("127.0.0.1", port))
            resend = time.time() + 2
        for fd, _ in poll.poll(1000):
            s = waiting.get(fd)
            if s is None:
                continue
            data, sender = s.recvfrom(65536)
            if data[:2] == b"\0\6":  # the OACK: ACK 0 to the transfer's port, then silence
                s.sendto(b"\0\4\0\0", sender)
                poll.unregister(fd)
                del waiting[fd]
    print("ready", count - len(waiting), flush=True)
    select.select([sys.stdin], [], [], seconds)


if __name__ == "__main__":
    main()
