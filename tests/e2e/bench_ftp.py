"""Prints the upload cost of the binary over FTP, FTPS and SFTP against
`curl -T` with the same URL as a peer.

    /usr/bin/python3 tests/e2e/bench_ftp.py BUILD/postrunner [MEGABYTES]

Uploads a file of random bytes (default 200 MB) to servers on loopback (a
pyftpdlib server, the same with TLS, and an sshd of the test's own), in
passive mode, checks that each copy arrived intact, and prints wall time,
client CPU time (user + system, from the children's resource usage) per
run. Loopback figures show the client's own overhead and
the servers' speed; they say nothing about a real network.
"""
import filecmp
import os
import resource
import subprocess
import sys
import tempfile
import time
import urllib.parse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from ftp_util import WRITER, WRITER_PASSWORD, FtpServer  # noqa: E402
from ssh_util import SshServer, keygen  # noqa: E402
from support import make_ca, make_server_cert  # noqa: E402


def measure(label, command, stored, local, env=None):
    if os.path.exists(stored):
        os.unlink(stored)
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    proc = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                          env=env, check=False)
    wall = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    intact = os.path.exists(stored) and filecmp.cmp(local, stored, shallow=False)
    size = os.path.getsize(local) / 1e6
    print("%-26s wall %6.2f s (%6.1f MB/s)  CPU %5.2f s  exit %d  intact %s"
          % (label, wall, size / wall, cpu, proc.returncode, intact), flush=True)
    if proc.returncode:
        print("    " + proc.stderr.decode(errors="replace").strip()[-300:])


def main():
    binary = os.path.abspath(sys.argv[1])
    megabytes = int(sys.argv[2]) if len(sys.argv) > 2 else 200
    quoted = urllib.parse.quote(WRITER, safe="") + ":" + urllib.parse.quote(WRITER_PASSWORD, safe="")
    with tempfile.TemporaryDirectory() as tmp:
        local = os.path.join(tmp, "bench.bin")
        with open(local, "wb") as f:
            for _ in range(megabytes):
                f.write(os.urandom(1 << 20))
        ca = make_ca(tmp)
        cert = make_server_cert(tmp, "bench-server", ca, ["127.0.0.1"])
        ftp_login = ["/FTPUser:" + WRITER, "/FTPPassword:" + WRITER_PASSWORD,
                     "/File:" + local, "/FTPPassiveMode"]
        for label, tls in (("FTP", ""), ("FTPS (explicit)", "explicit")):
            home = os.path.join(tmp, "home-" + label.split()[0])
            os.mkdir(home)
            with FtpServer(home, os.path.join(tmp, "log"), tls=tls, cert=cert) as s:
                stored = os.path.join(home, "bench.bin")
                extra = ["/FTPTLS", "/CAFile:" + ca[0]] if tls else []
                curl_tls = ["--ssl-reqd", "--cacert", ca[0]] if tls else []
                measure("postrunner " + label, [binary, "/FTPServer:" + s.address, *ftp_login,
                                                *extra], stored, local)
                measure("curl -T   " + label, ["curl", "-sS", "--ftp-pasv", *curl_tls, "-T", local,
                                               "ftp://%s@%s/bench.bin" % (quoted, s.address)],
                        stored, local)
        home = os.path.join(tmp, "home-sftp")
        os.mkdir(home)
        key = keygen(os.path.join(tmp, "id_bench"))
        with SshServer(tmp, home, [key + ".pub"]) as s:
            ssh_home = os.path.join(tmp, "user-home")
            os.makedirs(os.path.join(ssh_home, ".ssh"))
            known = os.path.join(ssh_home, ".ssh", "known_hosts")
            with open(known, "w") as out:
                out.write(s.known_hosts_line())
            env = dict(os.environ, HOME=ssh_home)
            stored = os.path.join(home, "bench.bin")
            user = os.environ.get("USER") or "root"
            measure("postrunner SFTP", [binary, "/FTPServer:sftp://127.0.0.1:%d" % s.port,
                                        "/FTPUser:" + user, "/SSHKey:" + key, "/File:" + local],
                    stored, local, env)
            measure("curl -T   SFTP", ["curl", "-sS", "--key", key, "-u", user + ":", "-T", local,
                                       "sftp://127.0.0.1:%d/~/bench.bin" % s.port],
                    stored, local, env)


if __name__ == "__main__":
    main()
