"""A scripted loopback HTTP peer for the web-service publishing tests.

Usage: http_test_peer.py FOLDER PORT_FILE SCRIPT_JSON
Listens on 127.0.0.1 at a free port, which it writes to PORT_FILE. Every request is
stored whole (request line, headers and body, as received) in FOLDER as
NNNN-cC.req (request number, connection number); a request cut off on purpose is
stored as NNNN-cC.dropped. The script (JSON) chooses the answers:
  probe_status    status of a request with an empty body (default 200)
  get_status, get_reply   status and body of the reply to a GET
  replies         body of the reply per 4-byte request code (latin-1 text)
  status          status per request code (default 200)
  drop_requests   numbers of the requests whose connection is closed half-way through
                  their body, with no answer (default: none)
  shed_requests   numbers of the requests answered "503" with "Retry-After: 1", as a
                  service shedding load does (default: none)
  reply_headers   extra reply headers per request code ({"logi": {"Name": "value"}})
  trickle         request codes ("probe" for an empty body, "GET" for a GET) answered
                  with headers and then an endless body at 2 bytes a second
  read_rate       bytes a second at which request bodies are read (default: at once),
                  as over a slow line
  tls             {"cert": PEM file, "key": PEM file}: speak TLS with that certificate
The peer ends by itself after two minutes.
"""
import json
import os
import socket
import ssl
import sys
import threading
import time

FOLDER, PORT_FILE, SCRIPT = sys.argv[1], sys.argv[2], json.load(open(sys.argv[3]))
LOCK = threading.Lock()
COUNTER = {"request": 0, "connection": 0}


def store(name, data):
    path = os.path.join(FOLDER, name)
    with open(path + ".tmp", "wb") as out:
        out.write(data)
    os.rename(path + ".tmp", path)


def receive(conn, size):
    """One read of at most `size` bytes, paced to `read_rate` when the script sets one."""
    rate = SCRIPT.get("read_rate")
    if not rate:
        return conn.recv(65536)
    piece = max(1, rate // 10)
    time.sleep(piece / rate)
    return conn.recv(min(size, piece))


def trickle(conn, head):
    """Headers, then two bytes a second until the client gives up."""
    conn.sendall(head + b"Content-Length: 100000000\r\n\r\n")
    while True:
        conn.sendall(b"..")
        time.sleep(1)


def read_request(conn, pending):
    while b"\r\n\r\n" not in pending:
        data = receive(conn, 65536)
        if not data:
            return None, pending
        pending += data
    head, _, rest = pending.partition(b"\r\n\r\n")
    length = 0
    for line in head.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            length = int(value.strip())
    return (head + b"\r\n\r\n", length), rest


def serve(conn):
    with LOCK:
        COUNTER["connection"] += 1
        number = COUNTER["connection"]
    pending = b""
    with conn:
        while True:
            parsed, pending = read_request(conn, pending)
            if parsed is None:
                return
            head, length = parsed
            with LOCK:
                index = COUNTER["request"]
                COUNTER["request"] += 1
            if index in SCRIPT.get("drop_requests", []):
                while len(pending) < length // 2:
                    data = conn.recv(65536)
                    if not data:
                        break
                    pending += data
                store("%04d-c%d.dropped" % (index, number), head + pending)
                conn.shutdown(socket.SHUT_RDWR)
                return
            while len(pending) < length:
                data = receive(conn, length - len(pending))
                if not data:
                    return
                pending += data
            body, pending = pending[:length], pending[length:]
            store("%04d-c%d.req" % (index, number), head + body)
            code = body[:4].decode("latin-1")
            if head.startswith(b"GET "):
                code = "GET"
                status, reply = SCRIPT.get("get_status", 200), SCRIPT.get("get_reply", "")
            elif not body:
                code = "probe"
                status, reply = SCRIPT.get("probe_status", 200), ""
            else:
                status = SCRIPT.get("status", {}).get(code, 200)
                reply = SCRIPT.get("replies", {}).get(code, "")
            extra = b"".join(b"%s: %s\r\n" % (name.encode(), value.encode())
                             for name, value in SCRIPT.get("reply_headers", {}).get(code, {}).items())
            if index in SCRIPT.get("shed_requests", []):
                status, reply, extra = 503, "busy", b"Retry-After: 1\r\n"
            head = b"HTTP/1.1 %d X\r\n" % status + extra
            if code in SCRIPT.get("trickle", []):
                trickle(conn, head)
            data = reply.encode("latin-1")
            conn.sendall(head + b"Content-Length: %d\r\n\r\n" % len(data) + data)


def serve_safely(conn):
    # A client that gives up or fails the TLS handshake ends only its own connection.
    try:
        if isinstance(conn, ssl.SSLSocket):
            conn.do_handshake()
        serve(conn)
    except (OSError, ssl.SSLError):
        pass


def main():
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    tls = SCRIPT.get("tls")
    if tls:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(tls["cert"], tls["key"])
        listener = context.wrap_socket(listener, server_side=True, do_handshake_on_connect=False)
    threading.Timer(120, lambda: os._exit(0)).start()
    with open(PORT_FILE + ".tmp", "w") as out:
        out.write(str(listener.getsockname()[1]))
    os.rename(PORT_FILE + ".tmp", PORT_FILE)
    while True:
        try:
            conn, _ = listener.accept()
        except (OSError, ssl.SSLError):
            continue
        threading.Thread(target=serve_safely, args=(conn,), daemon=True).start()


main()
