#!/usr/bin/env python3
"""Gives a Windows test under wine the serial ports it needs, then runs it.

    serial_peers.py --prefix WINEPREFIX --modem-lines SHIM.so
                    [--sim SIMULATOR [--sim-port NAME[=OPTIONS]]...] -- COMMAND...

Wine maps COMn to whatever its prefix's dosdevices/comn link names. This makes, for the time
the command runs, such ports on pseudo-terminals (numbers chosen so that parallel runs in one
prefix do not meet) and tells the command their names in the environment:

  QOR_TEST_PORT, QOR_PEER_PORT  two ends of one line: bytes written to one arrive at the other
  QOR_BARE_PORT                 a plain pseudo-terminal, without modem lines (nothing answers)
  NAME                          with --sim: the port of a logger simulator of its own, started
                                with OPTIONS (simulator options separated by blanks); one per
                                --sim-port, or QOR_SIM_PORT with the simulator's defaults

The pseudo-terminals of the first two and of the simulator get modem lines through the preloaded
SHIM.so (see PtyModemLines.c); the bare port keeps what wine makes of a pseudo-terminal.
The exit status is the command's.
"""

import argparse
import fcntl
import os
import select
import shlex
import signal
import subprocess
import sys
import threading
import tty

FIRST_PORT = 10


class Pty:
    """A pseudo-terminal in raw mode whose slave stays open here, so that the line survives
    the test closing and reopening its port."""

    def __init__(self):
        self.master, self.slave = os.openpty()
        tty.setraw(self.slave)
        self.path = os.ttyname(self.slave)


def relay(a, b, stop):
    """Copies bytes both ways between two masters until stop is set."""
    other = {a: b, b: a}
    while not stop.is_set():
        ready, _, _ = select.select([a, b], [], [], 0.1)
        for fd in ready:
            try:
                data = os.read(fd, 4096)
            except OSError:
                continue
            view = memoryview(data)
            while view:
                view = view[os.write(other[fd], view):]


class PortLock:
    """Runs in one prefix take turns at claiming and releasing COM numbers."""

    def __init__(self, dosdevices):
        os.makedirs(dosdevices, exist_ok=True)
        self.path = os.path.join(dosdevices, "..", ".qor-ports.lock")

    def __enter__(self):
        self.file = open(self.path, "w")
        fcntl.flock(self.file, fcntl.LOCK_EX)

    def __exit__(self, *_):
        self.file.close()


def claim_ports(dosdevices, count):
    """The first `count` free COM numbers from FIRST_PORT on, each reserved by a link to
    /dev/null until its real target replaces it."""
    with PortLock(dosdevices):
        numbers = []
        n = FIRST_PORT
        while len(numbers) < count:
            link = os.path.join(dosdevices, "com%d" % n)
            if not os.path.lexists(link):
                os.symlink("/dev/null", link)
                numbers.append(n)
            n += 1
        return numbers


def point(link, target):
    tmp = link + ".new"
    os.symlink(target, tmp)
    os.replace(tmp, link)


def start_simulator(simulator, options, link):
    """Starts the simulator with its options on its own pseudo-terminal, linked as `link`;
    returns the process and the slave's path (its first line of output)."""
    process = subprocess.Popen([simulator, "--link", link] + options, stdout=subprocess.PIPE,
                               text=True)
    path = process.stdout.readline().strip()
    if not path:
        process.wait()
        raise RuntimeError("the simulator did not start (exit status %s)" % process.returncode)
    return process, path


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--modem-lines", required=True)
    parser.add_argument("--sim")
    parser.add_argument("--sim-port", action="append", default=[])
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command

    sims = []
    if args.sim:
        for entry in args.sim_port or ["QOR_SIM_PORT"]:
            name, _, options = entry.partition("=")
            sims.append((name, shlex.split(options)))
    dosdevices = os.path.join(args.prefix, "dosdevices")
    names = ["QOR_TEST_PORT", "QOR_PEER_PORT", "QOR_BARE_PORT"] + [name for name, _ in sims]
    numbers = claim_ports(dosdevices, len(names))
    links = [os.path.join(dosdevices, "com%d" % n) for n in numbers]
    stop = threading.Event()
    simulators = []
    # ctest ends a test that ran too long with SIGTERM: clean up then too.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    try:
        test_end, peer_end, bare = Pty(), Pty(), Pty()
        point(links[0], test_end.path)
        point(links[1], peer_end.path)
        point(links[2], bare.path)
        modem = [test_end.path, peer_end.path]
        for (_, options), link in zip(sims, links[3:]):
            process, sim_path = start_simulator(args.sim, options, link)
            simulators.append(process)
            modem.append(sim_path)
        threading.Thread(target=relay, args=(test_end.master, peer_end.master, stop),
                         daemon=True).start()

        env = dict(os.environ)
        env["LD_PRELOAD"] = ":".join(filter(None, [os.path.abspath(args.modem_lines),
                                                   env.get("LD_PRELOAD")]))
        env["QOR_MODEM_PTYS"] = ":".join(modem)
        for name, n in zip(names, numbers):
            env[name] = "COM%d" % n
        return subprocess.call(command, env=env)
    finally:
        stop.set()
        # Under the lock: the simulator removes its link as it ends, and no other run may
        # claim that number before all of ours are gone.
        with PortLock(dosdevices):
            for simulator in simulators:
                simulator.terminate()
            for simulator in simulators:
                try:
                    simulator.wait(5)
                except subprocess.TimeoutExpired:
                    simulator.kill()
                    simulator.wait()
            for link in links:
                if os.path.lexists(link):
                    os.unlink(link)


if __name__ == "__main__":
    sys.exit(main())
