"""The real-line cases that scripts/realline-vm runs: portflash-cli in the guest, on
the kernel's 8250 and ftdi_sio drivers, against portflash-sim on the host.

Every download is checked for what applies: the outcome; both images received byte
for byte; the line settings the guest driver programmed (QEMU's trace: 9600 then
the plan's rate, even parity, 8 data bits, 1 stop bit); the unit's first answer
ending the first step (one first byte, nothing else, before the second step's);
the port's settings (stty -g) the same before and after.
"""

import dataclasses
import json
import os
import re
import signal
import subprocess
import time

HINT = "Waiting for the unit's DSR signal; if the cable has only TX and RX, choose 'TX and RX Only'"
GONE = "The serial device was disconnected"
BANNER = "BOOT MONITOR v1.0\r\n"


@dataclasses.dataclass
class Case:
    name: str
    port: str  # ttyS1 (socket: breaks, DSR on), ttyS2 (pty: DSR off), ttyUSB0
    speed: int = 115200
    cable: str = "txrx"
    sim: tuple = ()  # portflash-sim's misbehaviour
    outcome: str = "RESULT_SUCCESS"
    banner: bool = False  # the unit prints BANNER while the power-off prompt waits
    interrupt: str = None  # Ctrl-C once this is on stderr
    within: float = None  # s from the sim's hang-up, or the Ctrl-C, to the end
    says: str = None  # on stderr
    list_ports: bool = False


CASES = [
    Case("download 115200 ttyS1", "ttyS1"),
    Case("download 19200 ttyS1", "ttyS1", speed=19200),
    Case("download 115200 ttyUSB0", "ttyUSB0"),
    Case("download 19200 ttyUSB0", "ttyUSB0", speed=19200),
    Case("unit prints at the prompt ttyS1", "ttyS1", banner=True),
    Case("unit prints at the prompt ttyUSB0", "ttyUSB0", banner=True),
    Case("break in the loader's result wait ttyS1", "ttyS1", sim=("--break", "loader:500")),
    Case("unplugged mid-agent ttyUSB0", "ttyUSB0", sim=("--hangup", "agent:20000"),
         outcome="RESULT_WRITE_FAILED", within=5, says=GONE),
    Case("unplugged in the agent's result wait ttyUSB0", "ttyUSB0", sim=("--hangup", "agent:end"),
         outcome="RESULT_WRITE_FAILED", within=5, says=GONE),
    Case("All Signals, DSR on ttyS1", "ttyS1", cable="all"),
    Case("All Signals, DSR on ttyUSB0", "ttyUSB0", cable="all"),
    Case("All Signals, DSR off: hint, Ctrl-C ttyS2", "ttyS2", cable="all", interrupt=HINT,
         within=1.5, outcome="CANCELLED", says=HINT),
    Case("--list-ports ttyUSB0", "ttyUSB0", list_ports=True),
]

# What QEMU's trace says the guest driver programmed: (rate, parity, data bits, stop bits).
UART_TRACE = re.compile(r"serial_update_parameters baudrate=(\d+) parity='(\w)' data=(\d) stop=(\d)")
USB_BAUD = re.compile(r"usb_serial_set_baud .*baud rate (\d+)")
USB_DATA = re.compile(r"usb_serial_set_data .*parity (\w), data bits (\d), stop bits (\d)")


def programmed(lines):
    """The settings in the order the driver set them, repeats folded."""
    states, usb = [], [None, None, None, None]
    for line in lines:
        m = UART_TRACE.search(line)
        if m:
            state = (int(m[1]), m[2], int(m[3]), int(m[4]))
        elif USB_BAUD.search(line) or USB_DATA.search(line):
            m = USB_BAUD.search(line)
            if m:
                usb[0] = int(m[1])
            else:
                m = USB_DATA.search(line)
                usb[1:] = [m[1], int(m[2]), int(m[3])]
            state = tuple(usb)
        else:
            continue
        if not states or states[-1] != state:
            states.append(state)
    return states


def near(rate, wanted):
    return abs(rate - wanted) <= wanted * 0.01  # the FTDI's divisor: 115200 is 115384


class Bench:
    def __init__(self, build, folder, sim_class):
        self.sim_class = sim_class
        self.sim_binary = os.path.join(build, "bin", "portflash-sim")
        self.cli = os.path.join(build, "bin", "portflash-cli")
        self.folder = folder
        self.guest = None  # set once booted
        self.sims = {}  # per port: the socket a sim connects to, or the pty sim's device
        subprocess.run([os.path.join(os.path.dirname(__file__), "..", "..", "scripts",
                                     "make-sample-set"), os.path.join(folder, "set"),
                        "--agent-body", "64K", "--loader-body", "8K"],
                       check=True, stdout=subprocess.DEVNULL)
        self.loader = os.path.join(folder, "set", "loaders", "kvr.ldr")
        self.agent = os.path.join(folder, "set", "images", "kvr-agent.bin")
        # The port does not open: the loader's skip is all this run is asked for.
        probe = subprocess.run([self.cli, "--json", "--yes", "--port", "/nonexistent",
                                "--loader", self.loader, self.agent],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.skip = json.loads(probe.stdout)["loader_skip"]

    def run(self, case):
        from_sim = lambda name: os.path.join(self.folder, "%s.%s" % (slug(case.name), name))
        sim = None
        if case.port != "ttyS2":
            sim = self.start_sim(case, from_sim)
        argv = [self.cli, "--list-ports"] if case.list_ports else [
            self.cli, "--json", "--port", "/dev/" + case.port, "--speed", str(case.speed),
            "--cable", case.cable, "--loader", self.loader] + ([] if case.banner else ["--yes"]) + [
            self.agent]
        trace_at = self.guest.trace_size()
        try:
            self.guest.send({"op": "run", "argv": argv, "port": "/dev/" + case.port,
                             "timeout": 30, "prompt": case.banner, "interrupt": case.interrupt})
            got = self.guest.answer(90)
            if got.get("op") == "prompt":
                sim.proc.send_signal(signal.SIGUSR1)
                # An echo would be back within milliseconds; no echo is no event to wait for.
                time.sleep(1)
                self.guest.send({"op": "go"})
                got = self.guest.answer(90)
        finally:
            if sim:
                sim.stop()  # which unplugs the adapter
        if case.port == "ttyUSB0":
            self.guest.send({"op": "gone", "port": "/dev/ttyUSB0"})
            if not self.guest.answer(30)["gone"]:
                got.setdefault("error", "ttyUSB0 still there 20 s after the adapter was unplugged")
        problems, note = check(case, got, sim, self.guest.trace_since(trace_at), self, from_sim)
        if problems and sim:
            problems.append("simulator's log: " + sim.log_path)
        return problems, note

    def start_sim(self, case, from_sim):
        args = ["--connect", self.guest.sockets[case.port], "--expect-loader", self.loader,
                "--loader-skip", str(self.skip), "--expect-agent", self.agent,
                "--save-loader", from_sim("loader"), "--save-agent", from_sim("agent"),
                "--report", from_sim("report"), "--trace", from_sim("trace")]
        if case.banner:
            args += ["--banner", BANNER]
        return self.sim_class(self.sim_binary, args + list(case.sim), self.folder, slug(case.name))


def slug(name):
    return re.sub(r"[^A-Za-z0-9]+", "-", name).strip("-")


def read(path, mode="rb"):
    return open(path, mode).read() if os.path.exists(path) else None


def check(case, got, sim, trace, bench, from_sim):
    """What is wrong, and what was measured."""
    problems, note = [], ""
    if "error" in got:
        return [got["error"]], note
    if got.get("timed_out"):
        problems.append("portflash-cli did not end within 30 s")
    stderr = got.get("stderr", "")
    if case.list_ports:
        lines = got["stdout"].splitlines()
        for wanted in ("COM2 - /dev/ttyS1", "/dev/ttyUSB0 - QEMU USB SERIAL"):
            if wanted not in lines:
                problems.append("--list-ports lacks %r: %r" % (wanted, lines))
        return problems, note
    try:
        report = json.loads(got["stdout"])
    except ValueError:
        return problems + ["no JSON on stdout (status %s): %s" % (got.get("rc"), stderr[-600:])], note
    if report["outcome_name"] != case.outcome:
        problems.append("outcome %s (%s), not %s" % (report["outcome_name"],
                                                      report["outcome_text"], case.outcome))
    if case.says and case.says not in stderr:
        problems.append("stderr lacks %r: %s" % (case.says, stderr[-600:]))
    unplugged = any("--hangup" in a for a in case.sim)
    if not unplugged and got["settings_before"] != got["settings_after"]:
        problems.append("port settings before %s, after %s" % (got["settings_before"],
                                                             got["settings_after"]))
    if case.within is not None:
        if case.interrupt:
            took = got.get("interrupt_seconds")
        else:
            hung_up = sim.when("hung up") if sim else None
            took = got["_received"] - hung_up if hung_up else None
        what = "Ctrl-C" if case.interrupt else "hang-up"
        note = "ended %.2f s after the %s" % (took, what) if took is not None else ""
        if took is None or took > case.within:
            problems.append("ended %s s after the %s, not within %s s" % (
                "never" if took is None else "%.2f" % took,
                "Ctrl-C" if case.interrupt else "hang-up", case.within))
    if case.outcome == "RESULT_SUCCESS":
        loader = open(bench.loader, "rb").read()[bench.skip:]
        if read(from_sim("loader")) != loader:
            problems.append("the unit's loader differs from the file's (from byte %d)" % bench.skip)
        if read(from_sim("agent")) != open(bench.agent, "rb").read():
            problems.append("the unit's agent differs from the file")
    if report.get("loader_seconds") is not None:
        states = programmed(trace)
        want = [(9600, "E", 8, 1), (case.speed, "E", 8, 1)]
        ours = [s for s in states if s[1] == "E"]
        if len(ours) != 2 or not all(near(s[0], w[0]) and s[1:] == w[1:]
                                     for s, w in zip(ours, want)):
            problems.append("the driver was set to %s, not %s" % (states, want))
    sim_trace = read(from_sim("trace"), "r")
    if sim_trace and " in 0x05" in sim_trace:
        first = sim_trace[:sim_trace.index(" in 0x05")]
        received = re.findall(r" in (0x..)", first)
        if len(received) != 1 or received[0] not in ("0x01", "0x02"):
            problems.append("before the unit's first answer ended the first step, it received "
                            + " ".join(received))
    return problems, note
