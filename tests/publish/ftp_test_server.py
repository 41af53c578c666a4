"""A loopback FTP server for the publishing tests.

Usage: ftp_test_server.py ROOT PORT_FILE [--drop-once] [--read-only]
Serves ROOT for user "alice" (password "secret") on 127.0.0.1 at a free port, which
it writes to PORT_FILE once it listens. Each control connection adds a line to
connections.log beside ROOT, and each file stored its path (relative to ROOT) to
received.log there (a file stored under a temporary name when it is renamed to its
own, and then also to renamed.log). With --drop-once the first upload that has
received data loses its data and control connections, as a failing network would.
With --read-only the account may list and read but every write is refused.
While a file "hold" beside ROOT names a file, the next upload of a file of that name (in
any folder, also under a temporary name) waits, the whole server with it, until a file
"release" appears there (at most 30 s); a file "held" there says that it waits. A test
thus acts at a known point of an upload, however fast or slow the machine.
While a file named "slow" stands beside ROOT, each file stored holds the server up for
0.3 s, so that a test can act in the middle of an upload.
"""
import os
import sys
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import DTPHandler, FTPHandler
from pyftpdlib.servers import FTPServer

DROP = {"pending": "--drop-once" in sys.argv}


class DroppingDTPHandler(DTPHandler):
    def handle_read(self):
        if DROP["pending"] and self.receive:
            DROP["pending"] = False
            control = self.cmd_channel
            self.close()
            control.close()
            return
        DTPHandler.handle_read(self)

    handle_read_event = handle_read


class CountingFTPHandler(FTPHandler):
    """Notes every control connection in ROOT/../connections.log."""

    def on_connect(self):
        with open(os.path.join(os.path.dirname(ROOT[0]), "connections.log"), "a") as log:
            log.write("connect\n")

    def ftp_STOR(self, file, mode="w"):
        beside = os.path.dirname(ROOT[0])
        hold = os.path.join(beside, "hold")
        if os.path.exists(hold):
            with open(hold) as named:
                name = named.read()
            stored = os.path.basename(file)
            if stored.endswith(".vellumark-part"):
                stored = stored.rsplit(".", 2)[0]
            if stored == name:
                os.remove(hold)
                open(os.path.join(beside, "held"), "w").close()
                end = time.monotonic() + 30
                while not os.path.exists(os.path.join(beside, "release")) and time.monotonic() < end:
                    time.sleep(0.01)
        return FTPHandler.ftp_STOR(self, file, mode)

    def on_file_received(self, file):
        if file.endswith(".vellumark-part"):
            return
        self.note_received(file)

    def note_received(self, file):
        note_received(file)


def note(log_name, file):
    with open(os.path.join(os.path.dirname(ROOT[0]), log_name), "a") as log:
        log.write(os.path.relpath(file, ROOT[0]) + "\n")


def note_received(file):
    note("received.log", file)
    if os.path.exists(os.path.join(os.path.dirname(ROOT[0]), "slow")):
        time.sleep(0.3)


class NotingFS(AbstractedFS):
    """Notes a file renamed from its temporary name to its own before the reply goes, so
    that a test that has the reply finds the note."""

    def rename(self, src, dst):
        AbstractedFS.rename(self, src, dst)
        if src.endswith(".vellumark-part"):
            note_received(dst)
            note("renamed.log", dst)


ROOT = [""]


def main():
    root, port_file = sys.argv[1], sys.argv[2]
    ROOT[0] = os.path.abspath(root)
    authorizer = DummyAuthorizer()
    perm = "elr" if "--read-only" in sys.argv else "elradfmwMT"
    authorizer.add_user("alice", "secret", root, perm=perm)
    handler = CountingFTPHandler
    handler.authorizer = authorizer
    handler.dtp_handler = DroppingDTPHandler
    handler.abstracted_fs = NotingFS
    handler.permit_foreign_addresses = False
    server = FTPServer(("127.0.0.1", 0), handler)
    port = server.socket.getsockname()[1]
    tmp = port_file + ".tmp"
    with open(tmp, "w") as out:
        out.write(str(port))
    os.rename(tmp, port_file)
    server.serve_forever(timeout=0.2)


if __name__ == "__main__":
    main()
