#!/usr/bin/env python3
"""A link with a fixed one-way delay between two network namespaces.

For kernels without sch_netem (and without iptables for an NFQUEUE stand-in):
each namespace gets a tap device, and this program carries every Ethernet
frame from one tap to the other, DELAY ms after it was read, in order:

    ip -n A tuntap add dev ta mode tap; ip -n B tuntap add dev tb mode tap
    delay_link.py --a A:ta --b B:tb --delay-ms 1 --ready FILE

It writes "ready" to FILE once both taps are attached, and on SIGTERM (or
after --lifetime seconds) writes the frames carried each way and its CPU
seconds. Standard library only.
"""
import argparse
import collections
import ctypes
import fcntl
import os
import select
import signal
import struct
import sys
import time

CLONE_NEWNET = 0x40000000
TUNSETIFF = 0x400454CA
IFF_TAP, IFF_NO_PI = 0x0002, 0x1000
PR_SET_TIMERSLACK = 29

libc = ctypes.CDLL(None, use_errno=True)


def attach(where):
    """The tap named in "NAMESPACE:TAP", opened from inside its namespace."""
    ns, tap = where.split(":", 1)
    ns_fd = os.open(f"/run/netns/{ns}", os.O_RDONLY)
    try:
        if libc.setns(ns_fd, CLONE_NEWNET) != 0:
            raise OSError(ctypes.get_errno(), f"setns {ns}")
    finally:
        os.close(ns_fd)
    fd = os.open("/dev/net/tun", os.O_RDWR | os.O_NONBLOCK)
    fcntl.ioctl(fd, TUNSETIFF, struct.pack("16sH", tap.encode(), IFF_TAP | IFF_NO_PI))
    return fd


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--a", required=True, help="NAMESPACE:TAP")
    parser.add_argument("--b", required=True, help="NAMESPACE:TAP")
    parser.add_argument("--delay-ms", type=float, default=1.0)
    parser.add_argument("--lifetime", type=float, default=3600)
    parser.add_argument("--ready", required=True, help="file that gets 'ready' and the figures")
    args = parser.parse_args()

    libc.prctl(PR_SET_TIMERSLACK, 1, 0, 0, 0)  # wake within microseconds, not 50 us
    a, b = attach(args.a), attach(args.b)
    delay = args.delay_ms / 1000.0
    other = {a: b, b: a}
    queues = {a: collections.deque(), b: collections.deque()}  # frames bound for the key
    carried = {a: 0, b: 0}
    stop = []
    signal.signal(signal.SIGTERM, lambda *_: stop.append(1))
    with open(args.ready, "w") as f:
        f.write("ready\n")

    end = time.monotonic() + args.lifetime
    while not stop and time.monotonic() < end:
        now = time.monotonic()
        for fd, queue in queues.items():
            while queue and queue[0][0] <= now:
                try:
                    os.write(fd, queue.popleft()[1])
                    carried[fd] += 1
                except OSError:
                    pass  # that tap is down (not yet up): lost, as on a cable
        due = min((q[0][0] for q in queues.values() if q), default=now + 0.1)
        try:
            readable, _, _ = select.select([a, b], [], [], max(0.0, due - time.monotonic()))
        except InterruptedError:
            continue
        now = time.monotonic()
        for fd in readable:
            while True:
                try:
                    frame = os.read(fd, 65536)
                except BlockingIOError:
                    break
                queues[other[fd]].append((now + delay, frame))

    cpu = os.times()
    with open(args.ready, "a") as f:
        f.write(f"carried a->b {carried[b]} b->a {carried[a]} cpu {cpu.user + cpu.system:.2f} s\n")


if __name__ == "__main__":
    sys.exit(main())
