"""*IDN? round trips to qarn-emu: pyvisa-py (Debian's PyVISA, pure-Python
backend) over VXI-11 and over the raw SCPI socket, then the station's own
VISA layer over the same two kinds of link (bench_visa), in one run.

Usage (from the checkout, after ./station build; as root, or with rpcbind
already running):
  /usr/bin/python3 bench/pyvisa_round_trip.py [build] [round trips, default 2000]
"""
import os
import re
import socket
import subprocess
import sys
import tempfile
import time


def rpcbind_answers():
    try:
        with socket.create_connection(("127.0.0.1", 111), timeout=1):
            return True
    except OSError:
        return False


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 2000
    if not rpcbind_answers() and os.geteuid() == 0:
        subprocess.run(["/usr/sbin/rpcbind", "-w"], check=False)
        time.sleep(0.5)
    if not rpcbind_answers():
        print("rpcbind is not running: pyvisa-py cannot find the VXI-11 channel")
        return 1
    com_dir = tempfile.TemporaryDirectory(prefix="qarn-emu-com-")
    emulator = subprocess.Popen(
        [os.path.join(build, "bin", "qarn-emu"), "--port", "0", "--vxi11"],
        stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
        env=dict(os.environ, GNSS_COM_DIR=com_dir.name, GNSS_TIME_SCALE="1"))
    try:
        port = None
        for line in emulator.stdout:
            found = re.search(r"listening on port (\d+)", line)
            if found:
                port = found.group(1)
            if "registered with rpcbind" in line:
                break
            if "not registered" in line:
                print(line.strip())
                return 1
        import pyvisa
        rm = pyvisa.ResourceManager("@py")
        for name, resource, options in [
                ("pyvisa-py VXI-11", "TCPIP::127.0.0.1::INSTR", {}),
                ("pyvisa-py SOCKET", "TCPIP::127.0.0.1::%s::SOCKET" % port,
                 {"read_termination": "\n", "write_termination": "\n"})]:
            instrument = rm.open_resource(resource, timeout=5000, **options)
            for _ in range(100):  # warm-up
                instrument.query("*IDN?")
            start = time.perf_counter()
            for _ in range(count):
                instrument.query("*IDN?")
            elapsed = time.perf_counter() - start
            print("%-18s %8.1f us per *IDN? round trip (%d round trips)" %
                  (name, elapsed / count * 1e6, count))
            instrument.close()
        rm.close()
    finally:
        emulator.terminate()
        emulator.wait(timeout=10)
        com_dir.cleanup()
    # The station's VISA layer, against an emulator of its own.
    return subprocess.run([os.path.join(build, "bench", "bench_visa"),
                           "--benchmark_filter=IdnRoundTrip", "--benchmark_repetitions=3",
                           "--benchmark_report_aggregates_only=true"]).returncode


if __name__ == "__main__":
    sys.exit(main())
