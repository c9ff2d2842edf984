"""FTP servers for end-to-end tests of the FTP delivery.

FtpServer runs a real FTP server (pyftpdlib) in a child process on an
ephemeral loopback port, plain or with TLS: "explicit" (AUTH TLS offered),
"implicit" (TLS from the first byte) or "required" (AUTH TLS offered, and a
login without it refused). It has two users whose home is a temporary folder:
a writer with full rights and a reader that may only list and read. Every
command the server receives is appended to a log file (the password of PASS
included, so tests can tell what went over the wire), one
"<session> <VERB> <argument>" line per command.

StallingFtpServer is a small fake on a thread that logs a client in and then
stops answering at a chosen command, or hangs up there, to check that the
client gives up with a failure.
"""
import os
import socket
import subprocess
import sys
import threading

WRITER = "al:ice@x"
WRITER_PASSWORD = "p@ss:w0rd #1"
READER = "reader"
READER_PASSWORD = "read-only-pw"

_SERVER_SCRIPT = r'''
import itertools, sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, TLS_DTPHandler, TLS_FTPHandler
from pyftpdlib.servers import FTPServer

host, home, log_path, tls, cert, key = sys.argv[1:7]
users = sys.argv[7:]
authorizer = DummyAuthorizer()
for i in range(0, len(users), 3):
    authorizer.add_user(users[i], users[i + 1], home, perm=users[i + 2])
sessions = itertools.count(1)

class DataHandler(TLS_DTPHandler):
    # A client may start the data connection's TLS handshake before it sends
    # STOR; the stock handler takes that early input for a hang-up.
    def readable(self):
        return self._ssl_accepting or super().readable()

class LoggingHandler(TLS_FTPHandler if tls else FTPHandler):
    if tls:
        dtp_handler = DataHandler
    certfile = cert or None
    keyfile = key or None
    tls_control_required = tls_data_required = tls == "required"

    def handle(self):
        if tls == "implicit":
            self.secure_connection(self.ssl_context)
        super().handle()

    def on_connect(self):
        self.session_id = next(sessions)

    def pre_process_command(self, line, cmd, arg):
        with open(log_path, "a", encoding="utf-8", errors="surrogateescape") as log:
            log.write("%d %s %s\n" % (self.session_id, cmd, arg or ""))
        return super().pre_process_command(line, cmd, arg)

LoggingHandler.authorizer = authorizer
LoggingHandler.banner = "test server ready"
LoggingHandler.use_encoding = "utf8"
LoggingHandler.unicode_errors = "surrogateescape"
server = FTPServer((host, 0), LoggingHandler)
print(server.socket.getsockname()[1], flush=True)
server.serve_forever(timeout=0.2, handle_exit=True)
'''


class FtpServer:
    """A pyftpdlib server in a child process; use as a context manager."""

    def __init__(self, home, log_path, host="127.0.0.1", tls="", cert=("", "")):
        self.home = str(home)
        self.log_path = str(log_path)
        self.host = host
        self.tls = tls
        self.cert = cert
        self.port = None
        self._proc = None

    def __enter__(self):
        users = [WRITER, WRITER_PASSWORD, "elradfmwMT",
                 READER, READER_PASSWORD, "elr"]
        self._proc = subprocess.Popen(
            [sys.executable, "-c", _SERVER_SCRIPT, self.host, self.home,
             self.log_path, self.tls, *self.cert, *users],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        line = self._proc.stdout.readline()
        if not line:
            self._proc.wait(timeout=5)
            raise RuntimeError("the FTP server did not start")
        self.port = int(line)
        return self

    def __exit__(self, *exc):
        stop_process(self._proc)
        self._proc.stdout.close()

    @property
    def address(self):
        if ":" in self.host:
            return "[%s]:%d" % (self.host, self.port)
        return "%s:%d" % (self.host, self.port)

    def clear_log(self):
        with open(self.log_path, "w"):
            pass

    def commands(self):
        """[(session, VERB, argument)] received since the last clear_log."""
        if not os.path.exists(self.log_path):
            return []
        out = []
        with open(self.log_path, encoding="utf-8", errors="surrogateescape") as log:
            for line in log.read().split("\n"):
                if line:
                    session, verb, arg = line.split(" ", 2)
                    out.append((int(session), verb, arg))
        return out

    def verbs(self):
        return [verb for _, verb, _ in self.commands()]


def stop_process(proc):
    """Ends a server process: asks it to stop, and kills it after 5 s."""
    proc.terminate()
    try:
        proc.wait(timeout=5)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()


class StallingFtpServer:
    """Answers like an FTP server until `stall_at` (a verb such as "USER",
    "STOR", or "GREETING" for no greeting at all), then keeps the connection
    open and silent. A STOR in passive mode gets "150" and a data connection
    that is never read. With hang_up, it instead reads a little of the data
    and then closes both connections. Serves one client; use as a context
    manager."""

    def __init__(self, stall_at, hang_up=False):
        self.stall_at = stall_at
        self.hang_up = hang_up
        self._listener = socket.create_server(("127.0.0.1", 0))
        self._listener.settimeout(10)
        self.port = self._listener.getsockname()[1]
        self.address = "127.0.0.1:%d" % self.port
        self._stop = threading.Event()
        self._sockets = []
        self._thread = threading.Thread(target=self._serve, daemon=True)

    def __enter__(self):
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._stop.set()
        self._thread.join(timeout=15)
        for s in self._sockets:
            s.close()
        self._listener.close()

    def _hold(self):
        self._stop.wait(15)

    def _serve(self):
        try:
            conn, _ = self._listener.accept()
        except OSError:
            return
        self._sockets.append(conn)
        conn.settimeout(15)
        if self.stall_at == "GREETING":
            return self._hold()
        conn.sendall(b"220 ready\r\n")
        data_listener = None
        buffered = b""
        while not self._stop.is_set():
            try:
                chunk = conn.recv(4096)
            except OSError:
                return
            if not chunk:
                return
            buffered += chunk
            while b"\r\n" in buffered:
                line, buffered = buffered.split(b"\r\n", 1)
                verb = line.split(b" ", 1)[0].decode("ascii", "replace").upper()
                if verb == self.stall_at:
                    if verb == "STOR" and data_listener is not None:
                        conn.sendall(b"150 go ahead\r\n")
                        data_listener.settimeout(10)
                        try:
                            data, _ = data_listener.accept()
                            self._sockets.append(data)
                            if self.hang_up:
                                data.settimeout(10)
                                data.recv(65536)
                                data.close()
                        except OSError:
                            pass
                    if self.hang_up:
                        conn.close()
                        return None
                    return self._hold()
                if verb == "USER":
                    conn.sendall(b"331 password please\r\n")
                elif verb == "PASS":
                    conn.sendall(b"230 logged in\r\n")
                elif verb == "PWD":
                    conn.sendall(b'257 "/" is the current folder\r\n')
                elif verb == "EPSV":
                    data_listener = socket.create_server(("127.0.0.1", 0))
                    self._sockets.append(data_listener)
                    port = data_listener.getsockname()[1]
                    conn.sendall(b"229 Entering extended passive mode (|||%d|)\r\n" % port)
                elif verb == "STOR":
                    # Active mode: never connect back, and never answer.
                    return self._hold()
                else:
                    conn.sendall(b"200 ok\r\n")

