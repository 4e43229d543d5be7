"""The least a program needs to do lumo run's work over TCP, on a plain
socket: connect to port 20036, take the 7-byte greeting, ask the mode and
take its 13-byte reply, then N commands "za I", each a Z frame read to the
line feed of its answer, and close. Used by bench_quick_links as the
reference a whole lumo process is put beside.

usage: socket_loop.py ADDRESS N"""

import socket
import sys


def exactly(sock, count):
    data = b""
    while len(data) < count:
        more = sock.recv(count - len(data))
        if not more:
            sys.exit("the module closed the link")
        data += more
    return data


address, n = sys.argv[1], int(sys.argv[2])
with socket.create_connection((address, 20036), timeout=10) as sock:
    module = exactly(sock, 7)[0] & 15
    query = (module << 4) | 0x0F
    sock.sendall(bytes([0x55, 0xAA, query, 0xFF - query, 0x01, 0xFE, 0x6D, 0x00]))
    exactly(sock, 13)
    text = (module << 4) | 0x08
    for i in range(n):
        command = b"za %d" % i
        length = len(command) + 2
        sock.sendall(bytes([0x55, 0xAA, text, 0xFF - text, length, 0xFF - length, 0x07]) + command + b"\0\0")
        answer = b""
        while not answer.endswith(b"\n"):
            more = sock.recv(4096)
            if not more:
                sys.exit("the module closed the link")
            answer += more
        if not answer.startswith(b"OK: command " + command):
            sys.exit(f"unexpected answer {answer!r}")
