"""A real VISA client against qarn-emu: PyVISA with its pure-Python backend.

Usage: pyvisa_client.py <path to qarn-emu>
Starts qarn-emu on a free port, opens TCPIP::127.0.0.1::<port>::SOCKET,
exchanges *IDN?, a set-up command followed by *OPC?, and SYST:ERR?, and exits
non-zero on the first mismatch.
"""
import os
import re
import subprocess
import sys
import tempfile

import pyvisa


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    com_dir = tempfile.TemporaryDirectory(prefix="qarn-emu-com-")
    environment = dict(os.environ, GNSS_COM_DIR=com_dir.name)
    emulator = subprocess.Popen([sys.argv[1], "--port", "0"], stdout=subprocess.PIPE, text=True,
                                env=environment)
    try:
        line = emulator.stdout.readline()
        found = re.search(r"listening on port (\d+)", line)
        if not found:
            print("qarn-emu printed no port: %r" % line)
            return 1
        resource = "TCPIP::127.0.0.1::%s::SOCKET" % found.group(1)
        rm = pyvisa.ResourceManager("@py")
        instrument = rm.open_resource(resource, read_termination="\n", write_termination="\n",
                                      timeout=5000)
        failures = []

        def expect(what, got, want):
            if got != want:
                failures.append("%s: got %r, want %r" % (what, got, want))

        identification = instrument.query("*IDN?")
        fields = identification.split(",")
        expect("*IDN? has four fields", len(fields), 4)
        expect("*IDN? names the model", fields[1] if len(fields) > 1 else None, "QARN")

        instrument.write("SOUR:BB:GPS:SAT:COUNT 6")
        expect("*OPC? after a set-up command", instrument.query("*OPC?"), "1")
        expect("the setting took effect", instrument.query("SOUR:BB:GPS:SAT:COUNT?"), "6")
        expect("SYST:ERR? with an empty queue", instrument.query("SYST:ERR?"), '0,"No error"')

        instrument.write("SOUR:BB:GPS:NO:SUCH:THING 1")
        expect("SYST:ERR? after an unknown header", instrument.query("SYST:ERR?"),
               '-113,"Undefined header"')
        instrument.close()
        rm.close()
        for failure in failures:
            print("FAIL " + failure)
        if not failures:
            print("pyvisa client: all exchanges as expected")
        return 1 if failures else 0
    finally:
        emulator.terminate()
        emulator.wait(timeout=10)
        com_dir.cleanup()


if __name__ == "__main__":
    sys.exit(main())
