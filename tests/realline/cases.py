# The real-line cases that scripts/realline-vm runs: portflash-cli in the guest, on
# the kernel's 8250 and ftdi_sio drivers, against portflash-sim on the host.
#
# Every case is checked for what applies to it: the outcome; both images received byte
# for byte; the line settings the guest driver was given (QEMU's trace: 9600 then the
# plan's rate, even parity, 8 data bits, 1 stop bit); the unit's first answer ending
# the first step (one first byte and nothing else before the second step's); the
# port's settings (stty -g) the same before and after.

import dataclasses
import re

HINT = "Waiting for the unit's DSR signal; if the cable has only TX and RX, choose 'TX and RX Only'"
GONE = "The serial device was disconnected"


@dataclasses.dataclass
class Case:
    name: str
    port: str  # ttyS1 (socket: breaks, DSR on), ttyS2 (pty: DSR off), ttyUSB0
    speed: int = 115200
    cable: str = "txrx"
    sim: tuple = ()  # portflash-sim's misbehaviour
    outcome: str = "RESULT_SUCCESS"
    banner: bool = False  # the unit prints a banner while the power-off prompt waits
    interrupt: str = None  # Ctrl-C once this is on stderr
    within: float = None  # s from the unit's hang-up, or the Ctrl-C, to the end
    says: str = None  # on stderr
    list_ports: bool = False


BOTH = ("ttyS1", "ttyUSB0")
CASES = [Case("download %d %s" % (speed, port), port, speed=speed)
         for port in BOTH for speed in (115200, 19200)] + [
    Case("unit prints at the prompt " + port, port, banner=True) for port in BOTH] + [
    Case("break in the loader's result wait ttyS1", "ttyS1", sim=("--break", "loader:500"))] + [
    Case("unplugged %s ttyUSB0" % when, "ttyUSB0", sim=("--hangup", at), within=5, says=GONE,
         outcome="RESULT_WRITE_FAILED")
    for when, at in (("mid-agent", "agent:20000"), ("in the agent's result wait", "agent:end"))] + [
    Case("All Signals, DSR on " + port, port, cable="all") for port in BOTH] + [
    Case("All Signals, DSR off: hint, Ctrl-C ttyS2", "ttyS2", cable="all", interrupt=HINT,
         within=1.5, outcome="CANCELLED", says=HINT),
    Case("--list-ports ttyUSB0", "ttyUSB0", list_ports=True)]

# The 8250's settings come in one line; the FTDI's rate and format in two.
UART = re.compile(r"serial_update_parameters baudrate=(\d+) parity='(\w)' data=(\d) stop=(\d)")
USB = re.compile(r"usb_serial_set_(?:baud .*baud rate (\d+)|data .*parity (\w), data bits (\d), "
                 r"stop bits (\d))")


def programmed(trace):
    """(rate, parity, data bits, stop bits) in the order the driver set them, repeats folded."""
    states, usb = [], [None] * 4
    for line in trace:
        uart, set_usb = UART.search(line), USB.search(line)
        if uart:
            state = (int(uart[1]), uart[2], int(uart[3]), int(uart[4]))
        elif set_usb:
            usb = [int(set_usb[1])] + usb[1:] if set_usb[1] else usb[:1] + [
                set_usb[2], int(set_usb[3]), int(set_usb[4])]
            state = tuple(usb)
        else:
            continue
        if not states or states[-1] != state:
            states.append(state)
    return states


def check(case, run):
    """What is wrong, and what was measured. run: what the case left (scripts/realline-vm)."""
    got, report, problems, note = run.got, run.report, [], ""
    if "error" in got:
        return [got["error"]], note
    if got.get("timed_out"):
        problems.append("portflash-cli did not end in time")
    if case.list_ports:
        return problems + ["--list-ports lacks %r: %r" % (want, got["stdout"]) for want in
                           ("COM2 - /dev/ttyS1", "/dev/ttyUSB0 - QEMU USB SERIAL")
                           if want not in got["stdout"].splitlines()], note
    if report is None:
        return problems + ["no JSON on stdout (status %s): %s" % (got["rc"], got["stderr"])], note
    if report["outcome_name"] != case.outcome:
        problems.append("outcome %(outcome_name)s (%(outcome_text)s), not " % report + case.outcome)
    if case.says and case.says not in got["stderr"]:
        problems.append("stderr lacks %r: %s" % (case.says, got["stderr"][-600:]))
    if "--hangup" not in case.sim and got["settings_before"] != got["settings_after"]:
        problems.append("port settings before %(settings_before)s, after %(settings_after)s" % got)
    if case.within is not None:
        what = "Ctrl-C" if case.interrupt else "hang-up"
        took = got.get("interrupt_seconds") if case.interrupt else run.after_hang_up
        note = "ended %s after the %s" % ("never" if took is None else "%.2f s" % took, what)
        if took is None or took > case.within:
            problems.append("%s, not within %s s" % (note, case.within))
    problems += ["the unit's %s differs from the file's" % image for image in ("loader", "agent")
                 if case.outcome == "RESULT_SUCCESS" and run.received(image) != run.sent(image)]
    if report["loader_seconds"] is not None:
        states = programmed(run.qemu_trace)
        want = [(9600, "E", 8, 1), (case.speed, "E", 8, 1)]
        even = [s for s in states if s[1] == "E"]
        # The FTDI's divisor makes 115200 into 115384.
        if len(even) != 2 or not all(abs(s[0] - w[0]) <= w[0] // 100 and s[1:] == w[1:]
                                     for s, w in zip(even, want)):
            problems.append("the driver was set to %s, not %s" % (states, want))
    if " in 0x05" in run.sim_trace:
        received = re.findall(r" in (0x..)", run.sim_trace[:run.sim_trace.index(" in 0x05")])
        if len(received) != 1 or received[0] not in ("0x01", "0x02"):
            problems.append("before the unit's first answer ended the first step, it received "
                            + " ".join(received))
    return problems, note
