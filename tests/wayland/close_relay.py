#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Relays one Wayland client's connection to the compositor, and asks one of
the client's toplevels to close when told to.

Headless Weston has no input devices and no request of its own that closes a
window, so this stands in for the compositor's side of a user's close: it sends
the client the same xdg_toplevel.close event a compositor sends.

Usage: close_relay.py COMPOSITOR_SOCKET LISTEN_SOCKET CLOSE_FILE
Once CLOSE_FILE exists, holding the toplevel's object id, the event is sent
once. Exits when either side hangs up.
"""

import array
import os
import selectors
import socket
import struct
import sys

CLOSE_OPCODE = 1  # xdg_toplevel events: configure 0, close 1
HEADER = struct.Struct("=II")  # object id, size << 16 | opcode
FD_SPACE = socket.CMSG_SPACE(64 * array.array("i").itemsize)


def receive(sock):
    data, ancillary, flags, _ = sock.recvmsg(65536, FD_SPACE)
    if flags & socket.MSG_CTRUNC:
        sys.exit("close_relay: file descriptors lost in transit")
    fds = array.array("i")
    for level, kind, payload in ancillary:
        if level == socket.SOL_SOCKET and kind == socket.SCM_RIGHTS:
            fds.frombytes(payload[: len(payload) - len(payload) % fds.itemsize])
    return data, list(fds)


def send(sock, data, fds):
    view = memoryview(data)
    while view:
        ancillary = [(socket.SOL_SOCKET, socket.SCM_RIGHTS, array.array("i", fds))] if fds else []
        sent = sock.sendmsg([view], ancillary)
        fds = []  # sent with the first piece
        view = view[sent:]


def whole_messages(buffer):
    """Length of the leading run of complete messages in buffer."""
    end = 0
    while end + HEADER.size <= len(buffer):
        size = HEADER.unpack_from(buffer, end)[1] >> 16
        if size < HEADER.size:
            sys.exit("close_relay: malformed message from the compositor")
        if end + size > len(buffer):
            break
        end += size
    return end


def main():
    compositor_path, listen_path, close_path = sys.argv[1:4]
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    listener.bind(listen_path)
    listener.listen(1)
    client, _ = listener.accept()
    listener.close()
    server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    server.connect(compositor_path)

    selector = selectors.DefaultSelector()
    selector.register(client, selectors.EVENT_READ)
    selector.register(server, selectors.EVENT_READ)
    # The compositor's bytes go on only in whole messages, so the close event
    # can be slipped in between two of them at any time.
    held = bytearray()
    held_fds = []
    closed = False
    while True:
        for key, _ in selector.select(timeout=0.05):
            data, fds = receive(key.fileobj)
            if not data:
                return
            if key.fileobj is client:
                sent_fds = fds
                send(server, data, fds)
            else:
                held += data
                held_fds += fds
                end = whole_messages(held)
                if not end:
                    continue
                sent_fds, held_fds = held_fds, []
                send(client, held[:end], sent_fds)
                del held[:end]
            # The receiver holds its own copies now.
            for fd in sent_fds:
                os.close(fd)
        if not closed and os.path.exists(close_path):
            with open(close_path) as f:
                toplevel = int(f.read())
            send(client, HEADER.pack(toplevel, HEADER.size << 16 | CLOSE_OPCODE), [])
            closed = True


if __name__ == "__main__":
    main()
