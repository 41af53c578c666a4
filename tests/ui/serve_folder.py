"""Serves a folder over HTTP on 127.0.0.1 for the desktop program's tests.

Usage: serve_folder.py ROOT PORT_FILE
Listens at a free port, which it writes to PORT_FILE once it listens.
"""
import functools
import http.server
import os
import sys


def main():
    root, port_file = sys.argv[1], sys.argv[2]
    handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=root)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    with open(port_file + ".tmp", "w") as out:
        out.write(str(server.server_address[1]))
    os.rename(port_file + ".tmp", port_file)
    server.serve_forever()


if __name__ == "__main__":
    main()
