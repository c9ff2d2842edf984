"""Prints the FTP upload throughput and peak memory of the binary.

    /usr/bin/python3 tests/e2e/bench_ftp.py BUILD/postrunner [MEGABYTES]

Uploads a file of random bytes (default 200 MB) to a pyftpdlib server on
loopback in active and in passive mode, checks that it arrived intact, and
prints one line per mode. Loopback figures show the client's own overhead;
they say nothing about a real network.
"""
import filecmp
import os
import resource
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from ftp_util import WRITER, WRITER_PASSWORD, FtpServer  # noqa: E402


def main():
    binary = os.path.abspath(sys.argv[1])
    megabytes = int(sys.argv[2]) if len(sys.argv) > 2 else 200
    with tempfile.TemporaryDirectory() as tmp:
        home = os.path.join(tmp, "home")
        os.mkdir(home)
        local = os.path.join(tmp, "bench.bin")
        with open(local, "wb") as f:
            for _ in range(megabytes):
                f.write(os.urandom(1 << 20))
        with FtpServer(home, os.path.join(tmp, "log")) as server:
            for mode, extra in (("active", []), ("passive", ["/FTPPassiveMode"])):
                before = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
                start = time.monotonic()
                proc = subprocess.run(
                    [binary, "/FTPServer:" + server.address, "/FTPUser:" + WRITER,
                     "/FTPPassword:" + WRITER_PASSWORD, "/File:" + local, *extra],
                    stdout=subprocess.PIPE, check=False)
                seconds = time.monotonic() - start
                peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
                intact = filecmp.cmp(local, os.path.join(home, "bench.bin"), shallow=False)
                print("%-7s %5d MB in %6.2f s = %7.1f MB/s, exit %d, intact %s, peak RSS %s kB"
                      % (mode, megabytes, seconds, megabytes / seconds, proc.returncode,
                         intact, peak if peak > before else "<= %d" % before))
                os.unlink(os.path.join(home, "bench.bin"))


if __name__ == "__main__":
    main()
