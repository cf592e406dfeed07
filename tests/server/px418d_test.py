#!/usr/bin/python3
"""px418d driven from the outside, on the virtual generator.

Every test starts its own px418d on 127.0.0.1, port 0 (the server takes a
free port and names it in its log), with PX418USB_DRIVER=virtual and a
virtual state file, so that px418ctl, started with the same file, reads the
generator independently of the server. Each test ends the server with
SIGTERM and expects it to stop cleanly.

  Session:  a real VISA client, pyvisa with the pyvisa-py backend, opening
            TCPIP::127.0.0.1::PORT::SOCKET: *IDN?, each setting set and
            queried, a compound message, errors read from the queue,
            presets, two clients at once.
  BadInput: raw sockets: a 1 MiB line, binary bytes, a client that never
            reads, a client that leaves mid-message, 100 connections opened
            and dropped, refused clients; the server goes on serving the
            others, and the generator holds only what was asked for.

Usage: px418d_test.py --px418d PATH --px418ctl PATH [unittest arguments]
"""

import argparse
import json
import os
import random
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import pyvisa

PX418D = None
PX418CTL = None

# Generous bounds on waits for something that happens at once; the tests
# measure nothing.
PATIENCE = 30.0

IDENTITY = "PX418,PX-418,0,PX-418 virtual generator"


class Server:
    """One px418d process and its log."""

    def __init__(self, *args):
        self.folder = tempfile.TemporaryDirectory()
        self.env = dict(os.environ)
        self.env["PX418USB_DRIVER"] = "virtual"
        self.env["PX418USB_VIRTUAL_STATE"] = os.path.join(self.folder.name, "generator.state")
        self.env.pop("PX418USB_SERIAL", None)
        self.lines = []
        self.changed = threading.Condition()
        self.process = subprocess.Popen(
            [PX418D, "--listen", "127.0.0.1:0", *args],
            env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.PIPE, text=True)
        threading.Thread(target=self._read_log, daemon=True).start()
        listening = self.wait_for("listening on 127.0.0.1:")
        self.port = int(listening.rsplit(":", 1)[1])
        self.wait_for("generator found")

    def _read_log(self):
        for line in self.process.stderr:
            with self.changed:
                self.lines.append(line.rstrip("\n"))
                self.changed.notify_all()

    def wait_for(self, text, after=0):
        """The first log line from index `after` on that holds text."""
        deadline = time.monotonic() + PATIENCE
        with self.changed:
            while True:
                for line in self.lines[after:]:
                    if text in line:
                        return line
                left = deadline - time.monotonic()
                if left <= 0 or self.process.poll() is not None:
                    raise AssertionError(f"no log line with {text!r}:\n" + "\n".join(self.lines))
                self.changed.wait(left)

    def count(self, text):
        with self.changed:
            return sum(text in line for line in self.lines)

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        status = self.process.wait(PATIENCE)
        self.wait_for("stopped")
        self.process.stderr.close()
        self.folder.cleanup()
        return status

    def generator(self):
        """The generator's settings as px418ctl reads them."""
        out = subprocess.run([PX418CTL, "get", "--json"], env=self.env, check=True,
                             capture_output=True, text=True, timeout=PATIENCE).stdout
        return json.loads(out)

    def visa(self):
        rm = pyvisa.ResourceManager("@py")
        resource = rm.open_resource(f"TCPIP::127.0.0.1::{self.port}::SOCKET",
                                    read_termination="\n", write_termination="\n",
                                    timeout=int(PATIENCE * 1000))
        return resource

    def connect(self):
        s = socket.create_connection(("127.0.0.1", self.port), timeout=PATIENCE)
        return s


def ask(s, message):
    """Sends a message over a raw socket and reads one answer line."""
    s.sendall(message.encode() + b"\n")
    answer = b""
    while not answer.endswith(b"\n"):
        chunk = s.recv(4096)
        if not chunk:
            raise AssertionError(f"connection closed while waiting for the answer to {message!r}")
        answer += chunk
    return answer.decode().rstrip("\n")


def closed_at_once(s):
    """Whether the server closed the connection without a word."""
    s.settimeout(PATIENCE)
    try:
        return s.recv(1) == b""
    except ConnectionResetError:
        return True


class ServerTestCase(unittest.TestCase):
    server_args = ()

    def setUp(self):
        self.server = Server(*self.server_args)

    def tearDown(self):
        self.assertEqual(self.server.stop(), 0)


class Session(ServerTestCase):
    def test_identity(self):
        g = self.server.visa()
        self.assertEqual(g.query("*IDN?"), IDENTITY)
        self.assertEqual(g.query("*TST?"), "0")
        g.close()

    def test_each_setting_set_and_queried(self):
        g = self.server.visa()
        for command, query, answer in [
                ("SOURce1:FREQuency 60.5", "SOUR1:FREQ?", "60.500"),
                ("SOUR2:FREQ:CW 1.25 KHZ", "SOUR2:FREQ?", "1250.000"),
                ("SOUR3:PHASe -119.95", "SOUR3:PHAS?", "-120.0"),
                ("sour2:phas:adj 45", "SOUR2:PHAS:ADJ?", "45.0"),
                ("SOUR3:VOLTage 5", "SOUR3:VOLT?", "5.00"),
                ("SOUR:VOLT:UNIT VRMS", "SOUR:VOLT:UNIT?", "VRMS"),
                ("SOUR1:VOLT:LEV:IMM:AMPL 7.07", "SOUR1:VOLT?", "7.07"),
                ("SOUR:VOLT:UNIT VPP", "SOUR3:VOLT?", "10.00"),
                ("SOUR:FREQ:COUPle ON", "SOUR:FREQ:COUP?", "1"),
                ("SYSTem:KLOCk ON", "SYST:KLOC?", "1")]:
            with self.subTest(command):
                g.write(command)
                self.assertEqual(g.query(query), answer)
        self.assertEqual(g.query("SYST:ERR:COUN?"), "0")
        g.close()
        state = self.server.generator()
        self.assertEqual(state["mode"], "A+B+C")
        self.assertTrue(state["locked"])
        self.assertEqual(state["outputs"]["A"]["ampl_v_peak"], 10.0)
        self.assertEqual(state["outputs"]["C"]["ampl_v_peak"], 5.0)
        self.assertEqual(state["outputs"]["C"]["phase_deg"], -120.0)

    def test_compound_message(self):
        g = self.server.visa()
        g.write("SOUR1:FREQ 60;:SOUR2:FREQ 60;:SOUR3:FREQ 60")
        self.assertEqual(g.query("SOUR1:FREQ?;:SOUR2:FREQ?;:SOUR3:FREQ?"),
                         "60.000;60.000;60.000")
        g.close()
        outputs = self.server.generator()["outputs"]
        self.assertEqual([outputs[c]["freq_hz"] for c in "ABC"], [60.0] * 3)

    def test_errors_from_the_queue(self):
        g = self.server.visa()
        g.write("SOUR:FREQ 5000")
        g.write("BOGUS")
        g.write("SOUR4:FREQ 1")
        self.assertEqual(g.query("SYST:ERR:COUN?"), "3")
        self.assertEqual(g.query("SYST:ERR?"), '-222,"Data out of range;allowed 0.000 to 3000.000 Hz"')
        self.assertEqual(g.query("SYST:ERR?"), '-113,"Undefined header"')
        self.assertEqual(g.query("SYST:ERR:NEXT?"), '-114,"Header suffix out of range"')
        self.assertEqual(g.query("SYST:ERR?"), '0,"No error"')
        self.assertEqual(g.query("*ESR?"), str(0x20 | 0x10))
        g.close()
        self.assertEqual(self.server.generator()["outputs"]["A"]["freq_hz"], 50.0)

    def test_presets(self):
        g = self.server.visa()
        g.write("SOUR1:FREQ 123;:SOUR2:PHAS 33")
        g.write("*SAV 4")
        g.write("*RST")
        self.assertEqual(g.query("SOUR1:FREQ?;:SOUR2:PHAS?;VOLT?"), "0.001;0.0;0.00")
        g.write("*RCL 4")
        self.assertEqual(g.query("SOUR1:FREQ?;:SOUR2:PHAS?;VOLT?"), "123.000;33.0;10.00")
        g.close()

    def test_two_clients_at_once(self):
        a = self.server.visa()
        b = self.server.visa()
        a.write("SOUR:VOLT:UNIT VRMS")
        a.write("BOGUS")
        self.assertEqual(b.query("SOUR1:VOLT?"), "10.00")
        self.assertEqual(a.query("SOUR1:VOLT?"), "7.07")
        self.assertEqual(b.query("SYST:ERR?"), '0,"No error"')
        self.assertEqual(a.query("SYST:ERR?"), '-113,"Undefined header"')
        # Each setting of the one is seen by the other.
        a.write("SOUR2:FREQ 70")
        self.assertEqual(b.query("SOUR2:FREQ?"), "70.000")
        a.close()
        b.close()


class BadInput(ServerTestCase):
    server_args = ("--max-clients", "8")

    def assert_serving(self):
        """Another client is served, and the generator holds its power-on
        settings, or those the test asked for."""
        s = self.server.connect()
        self.assertEqual(ask(s, "*IDN?"), IDENTITY)
        s.close()

    def assert_generator_untouched(self):
        outputs = self.server.generator()["outputs"]
        self.assertEqual([outputs[c]["freq_hz"] for c in "ABC"], [50.0] * 3)
        self.assertEqual([outputs[c]["phase_deg"] for c in "ABC"], [0.0, -120.0, 120.0])
        self.assertEqual([outputs[c]["ampl_v_peak"] for c in "ABC"], [10.0] * 3)

    def test_a_1_mib_line_is_discarded_and_reported(self):
        s = self.server.connect()
        s.sendall(b"SOUR1:FREQ 1;" + b"A" * (1024 * 1024) + b"\n")
        self.assertEqual(ask(s, "*OPC?"), "1")
        self.assertEqual(ask(s, "SYST:ERR?;ERR?"), '-363,"Input buffer overrun";0,"No error"')
        s.close()
        self.assert_serving()
        self.assert_generator_untouched()

    def test_binary_bytes(self):
        noise = bytes(random.Random(418).randrange(256) for _ in range(200000))
        s = self.server.connect()
        s.sendall(noise + b"\n")
        self.assertEqual(ask(s, "*CLS;*OPC?"), "1")
        s.close()
        self.assert_serving()
        self.assert_generator_untouched()

    def test_a_client_that_never_reads_is_dropped(self):
        s = socket.socket()
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        s.connect(("127.0.0.1", self.server.port))
        s.settimeout(PATIENCE)
        queries = ("*IDN?;" * 60 + "*IDN?\n").encode()
        other = self.server.visa()
        try:
            while not self.server.count("dropped client"):
                s.sendall(queries * 16)
                # The others are served meanwhile.
                self.assertEqual(other.query("*OPC?"), "1")
        except (ConnectionResetError, BrokenPipeError):
            pass
        self.assertIn("more than 1 MiB of answers unread", self.server.wait_for("dropped client"))
        s.close()
        self.assertEqual(other.query("*IDN?"), IDENTITY)
        other.close()

    def test_a_client_that_leaves_mid_message(self):
        s = self.server.connect()
        s.sendall(b"SOUR3:FREQ 77\nSOUR1:FREQ 1000;:SOUR2:FREQ 10")
        s.close()
        self.assertIn("30 bytes without a newline", self.server.wait_for("without a newline"))
        outputs = self.server.generator()["outputs"]
        # Read after the server ran what the client finished.
        g = self.server.visa()
        self.assertEqual(g.query("SOUR1:FREQ?;:SOUR2:FREQ?;:SOUR3:FREQ?"), "50.000;50.000;77.000")
        g.close()
        self.assertEqual(outputs["A"]["freq_hz"], 50.0)

    def test_a_client_that_sends_much_and_leaves_at_once_has_it_all_run(self):
        s = self.server.connect()
        s.sendall(b"SOUR1:FREQ 1\n" * 20000 + b"SOUR2:FREQ 77.7\n")
        s.close()
        g = self.server.visa()
        deadline = time.monotonic() + PATIENCE
        while g.query("SOUR2:FREQ?") != "77.700":
            self.assertLess(time.monotonic(), deadline, "the last message never ran")
        g.close()

    def test_100_connections_opened_and_dropped(self):
        held = [self.server.connect() for _ in range(4)]
        for i in range(100):
            s = self.server.connect()
            if i % 3 == 0:
                s.sendall(b"SOUR1:FREQ 999;:SOUR2")
            elif i % 3 == 1:
                s.sendall(b"*IDN?\n")
            s.close()
        for s in held:
            self.assertEqual(ask(s, "*OPC?"), "1")
        # Every slot is free again once the server has seen every accepted
        # client go.
        for s in held:
            s.close()
        deadline = time.monotonic() + PATIENCE
        while self.server.count(" connected (") > self.server.count(" disconnected"):
            self.assertLess(time.monotonic(), deadline, "clients never seen to go")
            time.sleep(0.05)
        full = [self.server.connect() for _ in range(8)]
        for s in full:
            self.assertEqual(ask(s, "*OPC?"), "1")
        ninth = self.server.connect()
        self.assertTrue(closed_at_once(ninth))
        self.assertIn("8 clients already", self.server.wait_for("refused"))
        for s in full:
            s.close()
        self.assert_generator_untouched()


class Refusals(unittest.TestCase):
    def test_clients_outside_the_allowed_subnets_are_closed_at_once(self):
        server = Server("--allow", "10.0.0.0/8", "--allow", "fd00::/8")
        s = server.connect()
        self.assertTrue(closed_at_once(s))
        s.close()
        self.assertIn("not in an allowed subnet", server.wait_for("refused 127.0.0.1:"))
        self.assertEqual(server.stop(), 0)

    def test_mdns_without_avahi_daemon_says_so_and_serves(self):
        server = Server("--mdns")
        self.assertRegex(server.wait_for("mDNS: "), r"avahi-daemon|advertised")
        s = server.connect()
        self.assertEqual(ask(s, "*IDN?"), IDENTITY)
        s.close()
        self.assertEqual(server.stop(), 0)

    def test_usage_errors(self):
        result = subprocess.run([PX418D, "--listen", "nowhere"], capture_output=True, text=True,
                                timeout=PATIENCE)
        self.assertEqual(result.returncode, 64)
        self.assertIn("malformed listen address", result.stderr)


def main():
    global PX418D, PX418CTL
    parser = argparse.ArgumentParser()
    parser.add_argument("--px418d", required=True)
    parser.add_argument("--px418ctl", required=True)
    args, rest = parser.parse_known_args()
    PX418D = args.px418d
    PX418CTL = args.px418ctl
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
