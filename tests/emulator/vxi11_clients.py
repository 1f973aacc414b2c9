"""Real VXI-11 clients against qarn-emu, found through the machine's rpcbind.

Usage: vxi11_clients.py <path to qarn-emu>
Starts rpcbind when it is not running (as root), starts qarn-emu with --vxi11,
then Debian's PyVISA (pure-Python backend) opens TCPIP::127.0.0.1::INSTR and
exchanges *IDN?, a set-up command with *OPC? and SYST:ERR?, and Debian's
lxi-tools asks *IDN? with `lxi scpi`. Exits 77 (skipped) when rpcbind cannot
be had, non-zero on the first mismatch.
"""
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time

SKIPPED = 77
IDENTIFICATION = "Emulated Lab,QARN,100001,qarn-emu 1.0"


def rpcbind_answers():
    try:
        with socket.create_connection(("127.0.0.1", 111), timeout=1):
            return True
    except OSError:
        return False


def ensure_rpcbind():
    """None when rpcbind answers (started here if need be), else the reason."""
    if rpcbind_answers():
        return None
    if os.geteuid() != 0 or not os.path.exists("/usr/sbin/rpcbind"):
        return "rpcbind is not running and cannot be started here (needs root and rpcbind)"
    subprocess.run(["/usr/sbin/rpcbind", "-w"], check=False)
    for _ in range(50):
        if rpcbind_answers():
            return None
        time.sleep(0.1)
    return "rpcbind was started but does not answer on 127.0.0.1:111"


def wait_for_line(stream, pattern, lines):
    """Reads the emulator's output until a line matches; None at its end."""
    while True:
        line = stream.readline()
        if not line:
            return None
        lines.append(line)
        found = re.search(pattern, line)
        if found:
            return found


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    why = ensure_rpcbind()
    if why:
        print("SKIP " + why)
        return SKIPPED
    com_dir = tempfile.TemporaryDirectory(prefix="qarn-emu-com-")
    environment = dict(os.environ, GNSS_COM_DIR=com_dir.name)
    emulator = subprocess.Popen([sys.argv[1], "--port", "0", "--vxi11"], stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, text=True, env=environment)
    failures = []

    def expect(what, got, want):
        if got != want:
            failures.append("%s: got %r, want %r" % (what, got, want))

    try:
        lines = []
        if not wait_for_line(emulator.stdout, r"registered with rpcbind", lines):
            print("qarn-emu did not register with rpcbind:\n" + "".join(lines))
            return 1

        import pyvisa
        rm = pyvisa.ResourceManager("@py")
        instrument = rm.open_resource("TCPIP::127.0.0.1::INSTR", timeout=5000)
        expect("pyvisa *IDN?", instrument.query("*IDN?").strip(), IDENTIFICATION)
        instrument.write("SOUR:BB:GPS:SAT:COUNT 6")
        expect("pyvisa *OPC? after a set-up command", instrument.query("*OPC?").strip(), "1")
        expect("pyvisa: the setting took effect",
               instrument.query("SOUR:BB:GPS:SAT:COUNT?").strip(), "6")
        expect("pyvisa SYST:ERR?", instrument.query("SYST:ERR?").strip(), '0,"No error"')
        instrument.close()
        rm.close()

        lxi = shutil.which("lxi")
        if not lxi:
            failures.append("lxi (Debian's lxi-tools) is not installed")
        else:
            answer = subprocess.run([lxi, "scpi", "-a", "127.0.0.1", "-t", "5", "*IDN?"],
                                    capture_output=True, text=True, timeout=30)
            expect("lxi scpi *IDN? exit code", answer.returncode, 0)
            expect("lxi scpi *IDN?", answer.stdout.strip(), IDENTIFICATION)

        for failure in failures:
            print("FAIL " + failure)
        if not failures:
            print("VXI-11 clients (pyvisa-py, lxi): all exchanges as expected")
        return 1 if failures else 0
    finally:
        emulator.terminate()
        emulator.wait(timeout=10)
        com_dir.cleanup()


if __name__ == "__main__":
    sys.exit(main())
