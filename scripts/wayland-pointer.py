#!/usr/bin/env python3
"""A pointer for a headless wlroots compositor, which has none of its own.

It creates a virtual pointer (zwlr_virtual_pointer_v1) speaking the Wayland
wire protocol directly, then reads commands from standard input, one a line:
    move X Y     put the pointer at X,Y of the output layout
    click X Y    move there, then press and release the left button
After each command it waits until the compositor has handled it and prints
"ok". The pointer lives as long as standard input stays open, so clients
have bound it before the first click.
Environment: XDG_RUNTIME_DIR, WAYLAND_DISPLAY; WIDTH and HEIGHT of the layout
(1280x800 by default).
"""
import os
import socket
import struct
import sys
import time

BTN_LEFT = 0x110


class Wayland:
    def __init__(self):
        path = os.path.join(os.environ["XDG_RUNTIME_DIR"], os.environ.get("WAYLAND_DISPLAY", "wayland-0"))
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.connect(path)
        self.next_id = 2
        self.buf = b""
        self.globals = {}
        self.done = set()

    def new_id(self):
        self.next_id += 1
        return self.next_id - 1

    def send(self, obj, opcode, payload=b""):
        self.sock.sendall(struct.pack("<II", obj, ((8 + len(payload)) << 16) | opcode) + payload)

    @staticmethod
    def string(s):
        b = s.encode() + b"\0"
        return struct.pack("<I", len(b)) + b + b"\0" * (-len(b) % 4)

    def read_event(self):
        while len(self.buf) < 8 or len(self.buf) < (struct.unpack_from("<I", self.buf, 4)[0] >> 16):
            chunk = self.sock.recv(65536)
            if not chunk:
                sys.exit("wayland-pointer: the compositor closed the connection")
            self.buf += chunk
        obj, word = struct.unpack_from("<II", self.buf)
        size, opcode = word >> 16, word & 0xFFFF
        body, self.buf = self.buf[8:size], self.buf[size:]
        return obj, opcode, body

    def roundtrip(self):
        cb = self.new_id()
        self.send(1, 0, struct.pack("<I", cb))  # wl_display.sync
        while cb not in self.done:
            obj, opcode, body = self.read_event()
            if obj == 1 and opcode == 0:  # wl_display.error
                sys.exit("wayland-pointer: protocol error %r" % body)
            if obj == cb:
                self.done.add(cb)
            elif obj == self.registry and opcode == 0:  # wl_registry.global
                name, n = struct.unpack_from("<II", body)
                iface = body[8:8 + n - 1].decode()
                self.globals[iface] = name


def main():
    wl = Wayland()
    wl.registry = wl.new_id()
    wl.send(1, 1, struct.pack("<I", wl.registry))  # wl_display.get_registry
    wl.roundtrip()
    iface = "zwlr_virtual_pointer_manager_v1"
    if iface not in wl.globals:
        sys.exit("wayland-pointer: the compositor offers no " + iface)
    manager = wl.new_id()
    wl.send(wl.registry, 0, struct.pack("<I", wl.globals[iface]) + wl.string(iface) + struct.pack("<II", 1, manager))
    pointer = wl.new_id()
    wl.send(manager, 0, struct.pack("<II", 0, pointer))  # create_virtual_pointer(no seat: the default)
    wl.roundtrip()
    width, height = int(os.environ.get("WIDTH", 1280)), int(os.environ.get("HEIGHT", 800))

    def now():
        return int(time.monotonic() * 1000) & 0xFFFFFFFF

    def move(x, y):
        wl.send(pointer, 1, struct.pack("<IIIII", now(), x, y, width, height))  # motion_absolute
        wl.send(pointer, 4)  # frame

    def button(state):
        wl.send(pointer, 2, struct.pack("<III", now(), BTN_LEFT, state))
        wl.send(pointer, 4)

    print("ok", flush=True)
    for line in sys.stdin:
        words = line.split()
        if not words:
            continue
        x, y = int(words[1]), int(words[2])
        move(x, y)
        if words[0] == "click":
            wl.roundtrip()  # the surface under the pointer has it before the press
            button(1)
            button(0)
        wl.roundtrip()
        print("ok", flush=True)


if __name__ == "__main__":
    main()
