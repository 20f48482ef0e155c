#!/usr/bin/env python3
"""A minimal host program for dcrelay, standard library only.

It binds its message socket, starts the relay of an installation with its own handle, answers
every request from a small table of replies, and closes the relay when its standard input ends
(or says "close") or when it gets SIGINT or SIGTERM. Each event is printed as one JSON line.

    dcrelay_host.py [--exchange DIR] [--reply MNEMONIC=TEXT ...] INSTALLATION/dcrelay

docs/host-protocol.md describes the protocol this follows.
"""
import argparse, json, os, select, signal, socket, struct, subprocess, sys

MESSAGE = 0x500  # the one message number, both directions
REPLY_READY = 1  # host -> relay: R1.TXT is ready
CLOSE = 13  # host -> relay: the host closes; the relay ends
REPLY_NAME = {"YDKT": "QCJE"}  # request mnemonics whose reply header uses another name
# Request files of these four operations are empty: a reply rule for one of their names
# answers them under that name.
EMPTY_REQUEST_NAMES = ("KHKH", "PYKH", "ZKMD", "XJJZ")


def runtime_dir():
    if os.environ.get("DCRELAY_RUNTIME_DIR"):
        path = os.environ["DCRELAY_RUNTIME_DIR"]
    elif os.environ.get("XDG_RUNTIME_DIR"):
        path = os.path.join(os.environ["XDG_RUNTIME_DIR"], "dcrelay")
    else:
        path = "/tmp/dcrelay-%d" % os.getuid()
    os.makedirs(path, mode=0o700, exist_ok=True)
    return path.rstrip("/")


def event(name, **fields):
    print(json.dumps(dict(event=name, **fields), ensure_ascii=False), flush=True)


class Host:
    def __init__(self, relay, exchange, replies):
        self.runtime = runtime_dir()
        self.exchange = exchange
        self.replies = replies
        self.handle = os.getpid()  # our "window": the socket win-<handle>
        self.relay_handle = None  # the relay's, from its start-up announcement
        path = "%s/win-%d" % (self.runtime, self.handle)
        if os.path.exists(path):
            os.unlink(path)  # left by a process that had our pid before
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.sock.bind(path)  # bound before the relay starts, kept until it has ended
        self.path = path
        for stale in ("T1.txt", "R1.TXT"):  # never let the relay read an old reply
            if os.path.exists(os.path.join(exchange, stale)):
                os.unlink(os.path.join(exchange, stale))
        # The relay is started by a path containing '/', so that the installation holding
        # the link is its program directory; its working directory is the exchange directory.
        self.relay = subprocess.Popen([relay, str(self.handle)], cwd=exchange)
        event("started", handle=self.handle, relay_pid=self.relay.pid, runtime_dir=self.runtime)

    def post(self, code):
        datagram = struct.pack("<IIi", MESSAGE, self.handle, code)
        try:
            self.sock.sendto(datagram, "%s/win-%d" % (self.runtime, self.relay_handle))
        except OSError:
            pass  # like a post to a window that has gone

    def on_message(self, datagram):
        if len(datagram) != 12:
            return
        number, first, second = struct.unpack("<IIi", datagram)
        if number != MESSAGE:
            return
        if (first, second) == (1, 1):  # T1.txt holds a request
            self.answer()
        elif first == second:  # the start-up announcement: the relay's own handle
            self.relay_handle = first
            event("announced", relay_handle=first)

    def answer(self):
        reply_file = os.path.join(self.exchange, "R1.TXT")
        if os.path.exists(reply_file):
            os.unlink(reply_file)  # the relay is done with the previous reply
        with open(os.path.join(self.exchange, "T1.txt"), "rb") as f:
            request = f.read().decode("gbk", errors="replace")
        lines = request.split("\r\n")
        mnemonic, handheld = lines[0][:5].strip(), lines[0][5:].strip()
        event("request", mnemonic=mnemonic, handheld=handheld, text=request)
        name = REPLY_NAME.get(mnemonic, mnemonic)
        text = self.replies.get(mnemonic, "OK")
        if not mnemonic:
            name = next((n for n in EMPTY_REQUEST_NAMES if n in self.replies), "")
            text = self.replies.get(name)
        reply = b""  # names no operation: the relay answers "成功" under operation 0
        if name:
            # An empty handheld field marks success; the plain number would mark a refusal.
            reply = (name.ljust(5) + "\r\n" + text + "\r\n").encode("gbk")
        temporary = reply_file + ".tmp"
        with open(temporary, "wb") as f:  # written whole, then renamed into place
            f.write(reply)
        os.rename(temporary, reply_file)
        self.post(REPLY_READY)
        event("replied", mnemonic=mnemonic, size=len(reply))

    def close(self):
        if self.relay_handle is not None and self.relay.poll() is None:
            self.post(CLOSE)
        terminated = False
        try:
            status = self.relay.wait(timeout=10)
        except subprocess.TimeoutExpired:  # the relay did not take the message: SIGTERM
            terminated = True
            self.relay.terminate()
            status = self.relay.wait()
        self.sock.close()
        os.unlink(self.path)
        event("closed", status=status, terminated=terminated)
        return status

    def run(self):
        closing = []
        for sig in (signal.SIGINT, signal.SIGTERM):
            signal.signal(sig, lambda *_: closing.append(True))
        inputs = [self.sock, sys.stdin]
        while not closing and self.relay.poll() is None:
            ready, _, _ = select.select(inputs, [], [], 0.2)
            if self.sock in ready:
                self.on_message(self.sock.recv(64))
            if sys.stdin in ready:
                line = sys.stdin.readline()
                if not line or line.strip() == "close":
                    closing.append(True)
        return self.close()


def main():
    parser = argparse.ArgumentParser(description="A minimal host program for dcrelay.")
    parser.add_argument("relay", help="the installation's link to the relay, e.g. /srv/dcrelay/dcrelay")
    parser.add_argument("--exchange", help="exchange directory (default: the installation's)")
    parser.add_argument("--reply", action="append", default=[], metavar="MNEMONIC=TEXT",
                        help="reply text for requests of one operation (default: OK)")
    args = parser.parse_args()
    relay = os.path.abspath(args.relay)  # absolute, but the link itself: not resolved
    exchange = args.exchange or os.path.dirname(relay)
    replies = dict(rule.split("=", 1) for rule in args.reply)
    sys.exit(Host(relay, exchange, replies).run())


if __name__ == "__main__":
    main()
