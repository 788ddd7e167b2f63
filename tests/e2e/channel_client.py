#!/usr/bin/env python3
"""A control-channel client written with Python's socket module, so that the
driver's abstract Unix-domain socket is checked by a peer that shares no code
with it. NAME is the channel's "@name".

usage: channel_client.py NAME send TEXT          reply, then whether the socket closed
       channel_client.py NAME sendclose TEXT     write and close at once
       channel_client.py NAME silent MS          connect, never write, hold MS or
                                                 until the driver drops it
       channel_client.py NAME noread TEXT MS     write, never read, hold MS
       channel_client.py NAME zero-then TEXT     a zero-length message, then TEXT
TEXT may use \\n, \\r and \\xNN escapes; "@N" repeats 'x' N times.
"""
import socket
import sys
import time


def text_arg(s):
    if s.startswith("@"):
        return b"x" * int(s[1:])
    return s.encode("latin-1").decode("unicode_escape").encode("latin-1")


def connect(path):
    sock = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
    sock.settimeout(5)
    # "@name" is the driver's abstract socket name.
    sock.connect("\0" + path[1:] if path.startswith("@") else path)
    return sock


def recv_reply(sock, timeout):
    sock.settimeout(timeout)
    try:
        return sock.recv(4096)
    except socket.timeout:
        return None


def report(reply, closed=None):
    print("reply:" + ("<none>" if reply is None else reply.decode("latin-1")))
    if closed is not None:
        print("closed:" + ("yes" if closed else "no"))


def main():
    path, mode = sys.argv[1], sys.argv[2]
    sock = connect(path)
    if mode == "send":
        sock.send(text_arg(sys.argv[3]))
        reply = recv_reply(sock, 5)
        after = recv_reply(sock, 2)
        report(reply, after == b"")
    elif mode == "sendclose":
        sock.send(text_arg(sys.argv[3]))
        sock.close()
        print("sent")
    elif mode == "silent":
        print("connected", flush=True)
        start = time.monotonic()
        if recv_reply(sock, int(sys.argv[3]) / 1000) == b"":
            print("dropped after %d ms" % ((time.monotonic() - start) * 1000))
    elif mode == "noread":
        sock.send(text_arg(sys.argv[3]))
        print("sent", flush=True)
        time.sleep(int(sys.argv[4]) / 1000)
    elif mode == "zero-then":
        sock.send(b"")
        first = recv_reply(sock, 0.5)
        report(first)
        sock.send(text_arg(sys.argv[3]))
        report(recv_reply(sock, 5))
    else:
        sys.exit("unknown mode " + mode)


if __name__ == "__main__":
    main()
