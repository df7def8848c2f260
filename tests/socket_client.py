#!/usr/bin/env python3
"""A raw client of the recording service's socket, as any user's program can be.

socket_client.py SOCKET REQUEST     sends REQUEST, prints the reply's first line
socket_client.py SOCKET --stall S   holds connections that never ask or never read, S seconds
socket_client.py SOCKET --flood S   opens connections as fast as it can, S seconds at most
socket_client.py SOCKET --uids N S  run as root of a user namespace: under each of its uids
                                    1..N holds 4 silent connections and asks once for an
                                    access without reading, S seconds
socket_client.py SOCKET --asking-uids N S
                                    the same, but each uid asks for accesses one after
                                    another, reading each answer, S seconds
socket_client.py SOCKET --timed N REQUEST
                                    sends REQUEST N times, one after another; prints the
                                    median and worst time to the answer, in ms
"""
import os
import socket
import sys
import time

path, what = sys.argv[1], sys.argv[2]


def connect():
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    s.connect(path)
    return s


if what == "--stall":
    held = []
    for i in range(20):
        try:
            s = connect()
            if i % 2:
                s.sendall(b"access\n")  # and never reads the reply
            held.append(s)
        except OSError:
            pass
    time.sleep(float(sys.argv[3]))
elif what in ("--uids", "--asking-uids"):
    count, seconds = int(sys.argv[3]), float(sys.argv[4])
    end = time.monotonic() + seconds

    def hold():
        held = []
        for i in range(5):
            try:
                s = connect()
                if i == 4:
                    s.sendall(b"access\n")  # and never reads the reply
                held.append(s)
            except OSError:
                pass
        time.sleep(seconds)

    def ask():
        while time.monotonic() < end:
            try:
                s = connect()
                s.sendall(b"access\n")
                s.recv(4096)
                s.close()
            except OSError:
                time.sleep(0.01)

    children = []
    for uid in range(1, count + 1):
        pid = os.fork()
        if pid == 0:
            os.setgroups([])
            os.setresgid(uid, uid, uid)
            os.setresuid(uid, uid, uid)
            (hold if what == "--uids" else ask)()
            os._exit(0)
        children.append(pid)
    for pid in children:
        os.waitpid(pid, 0)
elif what == "--timed":
    count, request = int(sys.argv[3]), sys.argv[4].encode() + b"\n"
    times = []
    for _ in range(count):
        start = time.monotonic()
        s = connect()
        s.sendall(request)
        reply = b""
        while chunk := s.recv(65536):
            reply += chunk
        times.append((time.monotonic() - start) * 1000)
        if not reply.startswith(b"ok "):
            print(f"refused: {reply!r}")
            sys.exit(1)
    times.sort()
    print(f"{times[len(times) // 2]:.1f} {times[-1]:.1f}")
elif what == "--flood":
    end = time.monotonic() + float(sys.argv[3])
    opened = failed = 0
    held = []
    while time.monotonic() < end and opened + failed < 200000:
        try:
            s = connect()
            s.setblocking(False)
            try:
                s.send(b"access\n")
            except OSError:
                pass
            held.append(s)
            opened += 1
            if len(held) > 200:
                held.pop(0).close()
        except OSError:
            failed += 1
    print(f"flood: {opened} connections opened, {failed} refused")
else:
    s = connect()
    s.sendall(what.encode() + b"\n")
    reply = b""
    while chunk := s.recv(65536):
        reply += chunk
    print(reply.split(b"\n", 1)[0].decode())
