#!/usr/bin/env python3
"""A soak of zpictl's station: one `zpictl --json station` serves simulated units over and over,
PARALLEL at a time, each started with a fault drawn at random from zpisim's list (or none), until
SERVICES units have been served. After every round (PARALLEL units plugged in, served and
unplugged) it checks:

  - every unit got one result, and its code is the one its fault calls for;
  - a unit reported OK holds exactly the configuration it should (the image written, or the one
    it had when nothing was written), byte for byte in zpisim's memory dump, and after an upload
    the whole firmware (length, exclusive OR and sum of the bytes received);
  - the journal has one record per unit, with the result's code;
  - zpictl's open descriptors and threads are what they were after the first round, and its
    resident memory does not grow beyond what the units' ids need.

Prints a line per failed check as it happens, then the table of results by fault kind and the
resource figures; exits 0 only when every check held. Called by scripts/soak.sh.
"""

import argparse
import collections
import hashlib
import json
import os
import queue
import random
import signal
import subprocess
import sys
import tempfile
import threading
import time

KINDS = ["drop", "refuse", "short", "bad-sum", "no-start", "two-frames", "split", "wrong-address",
         "hang-up", "silent-from", "reannounce", "operating-notice", "alter-write"]
# An answer lost or spoilt by these is sent again by the tool; on the upload's last frame the
# unit restarts instead, and the station takes its announcement as the end of the upload.
LOSSY = {"drop", "short", "bad-sum", "no-start", "wrong-address", "split"}
UPLOAD_FRAMES, READ_FRAMES, WRITE_FRAMES = 1888, 5, 44
NOTE_LAST_ACK = "upload completed; last acknowledgement lost"
ROUND_LIMIT = 120  # seconds: a round that takes longer is a hang


class Unit:
    """One simulated unit: what it was started with and what the station must make of it."""

    def __init__(self, rng, serial, unit_id):
        self.serial = serial
        self.id = unit_id
        self.sha256 = None  # of the image written, once found in the unit
        self.upload = rng.random() < 0.3
        self.image = rng.choice(["default", "default", "ventora", "invalid", "blank"])
        self.writes = self.image in ("invalid", "blank")
        upload = UPLOAD_FRAMES if self.upload else 0
        self.phases = [("upload", 1, upload), ("read", upload + 1, upload + READ_FRAMES)]
        if self.writes:
            write = upload + READ_FRAMES
            self.phases += [("write", write + 1, write + WRITE_FRAMES),
                            ("verify", write + WRITE_FRAMES + 1, write + WRITE_FRAMES + READ_FRAMES)]
        self.frames = self.phases[-1][2]
        self.kind = None if rng.random() < 0.15 else rng.choice(KINDS)
        # Mostly within the service's frames, now and then past its end (the fault never comes).
        self.frame = rng.randint(1, self.frames + (self.frames // 10 if rng.random() < 0.1 else 0))
        self.expected = self.expect()

    def name(self):
        return self.kind or "none"

    def phase(self):
        for phase, first, last in self.phases:
            if first <= self.frame <= last:
                return phase
        return None  # past the end

    def expect(self):
        """The codes this unit may end with: one, or two where timing decides (below)."""
        phase = self.phase()
        if self.kind is None or phase is None:
            return {0}
        if self.kind == "hang-up":
            return {14}
        if self.kind == "silent-from":
            return {2} if phase in ("upload", "write") else {4}
        if self.kind == "alter-write":
            # The unit stores the image once its last block has come.
            return {15} if self.writes and self.frame <= self.phases[2][2] else {0}
        if self.kind == "reannounce" and phase == "upload" and self.frame > UPLOAD_FRAMES - 64:
            # Near the upload's end the announcement may come after the last acknowledgement,
            # when the tool waits for the restarted unit: still at 2.45, it says the upload did
            # not take (code 15), unless it came in one read with the acknowledgement.
            return {0, 15}
        if self.kind == "operating-notice":
            # Code 12; but the receive handler takes one frame per event, as the window's does,
            # so a notice that comes in one read with the answer before it is dropped (counted
            # as trailing bytes), and one after the last answer comes too late to matter.
            return {12, 0}
        return {0}

    def args(self, dump):
        args = ["-q", "--dump", dump, "--id", "246,C0FFEE,%08X" % self.id,
                "--firmware", "2.45" if self.upload else "2.46", "--image", self.image]
        if self.kind:
            # 1 ms after the answer (the least zpisim takes): a notice then mostly comes on its
            # own, not in the answer's read, and an announcement a few frames later at most.
            param = {"operating-notice": ":1", "reannounce": ":1"}.get(self.kind, "")
            args += ["--fault", "%s@%d%s" % (self.kind, self.frame, param)]
        return args

    def describe(self):
        fault = "%s@%d (%s)" % (self.kind, self.frame, self.phase() or "past the end") if self.kind else "no fault"
        firmware = "2.45" if self.upload else "2.46"
        return "unit %d, id %08X (firmware %s, image %s, %s)" % (self.serial, self.id, firmware, self.image, fault)


def resources(pid):
    with open("/proc/%d/status" % pid) as f:
        status = dict(line.split(":", 1) for line in f if ":" in line)
    rss = int(status["VmRSS"].split()[0])
    return rss, len(os.listdir("/proc/%d/fd" % pid)), int(status["Threads"])


def reference_dumps(zpisim, folder):
    """The memory of an untouched unit for each image, as zpisim dumps it."""
    images = {}
    for image in ("default", "ventora"):
        dump = os.path.join(folder, "reference-%s.json" % image)
        sim = subprocess.Popen([zpisim, "-q", "--image", image, "--dump", dump], stdout=subprocess.PIPE, text=True)
        if not sim.stdout.readline().strip():
            raise RuntimeError("%s named no device (status %s)" % (zpisim, sim.wait()))
        sim.terminate()
        sim.wait()
        with open(dump) as f:
            images[image] = json.load(f)["configuration"]
    return images


class Soak:
    def __init__(self, opts):
        self.opts = opts
        self.rng = random.Random(opts.seed)
        self.folder = tempfile.mkdtemp(prefix="zpi-soak.")
        self.ports = os.path.join(self.folder, "ports")
        os.mkdir(self.ports)
        self.journal = os.path.join(self.folder, "journal.jsonl")
        self.events = queue.Queue()
        self.failures = []
        self.table = collections.defaultdict(collections.Counter)  # kind -> outcome -> units
        self.figures = []  # (round, services, rss kB, fds, threads)
        self.rss = []  # kB, after each round
        self.results = []  # (unit, result) for the journal's check
        self.firmware = None  # what an upload leaves in the unit, from the first one
        self.seen = set()  # the ids served
        self.station = None
        self.sims = []  # every zpisim started, stopped whatever happens

    def fail(self, text):
        self.failures.append(text)
        print("FAILED CHECK: " + text, flush=True)

    def start_station(self):
        self.station = subprocess.Popen(
            [self.opts.zpictl, "--json", "station", "--ports", os.path.join(self.ports, "*"),
             "--journal", self.journal],
            stdout=subprocess.PIPE, stderr=open(os.path.join(self.folder, "station.err"), "w"), text=True)

        def read():
            for line in self.station.stdout:
                try:
                    self.events.put(json.loads(line))
                except ValueError:
                    self.events.put({"event": "unparsed", "line": line})
            self.events.put({"event": "eof"})
        threading.Thread(target=read, daemon=True).start()

    def wait_for(self, take, done, deadline):
        """Hands zpictl's events to `take` until `done()`; False when the deadline comes first."""
        while not done():
            left = deadline - time.monotonic()
            if left <= 0:
                return False
            try:
                event = self.events.get(timeout=left)
            except queue.Empty:
                return False
            if event.get("event") == "eof":
                self.fail("zpictl station ended by itself, status %s" % self.station.wait())
                return False
            take(event)
        return True

    def round(self, number):
        units, sims = {}, {}
        for slot in range(self.opts.parallel):
            # A new name for every unit, as a by-id link gives; the ids come round again, as a
            # unit brought back to the bench does, and the station marks those as repeats.
            serial = (number - 1) * self.opts.parallel + slot + 1
            unit = Unit(self.rng, serial, 0x5A500000 + serial % self.opts.ids)
            port = os.path.join(self.ports, "zpi-%06d" % serial)
            unit.dump = os.path.join(self.folder, "dump%d.json" % slot)
            sim = subprocess.Popen([self.opts.zpisim] + unit.args(unit.dump), stdout=subprocess.PIPE, text=True)
            self.sims.append(sim)
            device = sim.stdout.readline().strip()
            if not device:
                raise RuntimeError("zpisim %s named no device (status %s)" % (" ".join(unit.args(unit.dump)), sim.wait()))
            os.symlink(device, port)
            units[port], sims[port] = unit, sim

        deadline = time.monotonic() + ROUND_LIMIT
        results, gone = {}, set()

        def take(event):  # a unit that hangs up may be seen unplugged before the others end
            if event.get("event") == "result":
                if event["port"] in results:
                    self.fail("a second result for %s" % units[event["port"]].describe())
                results[event["port"]] = event
                # Unplugged at once: a pseudo-terminal freed by a unit that hung up could be
                # given to another program while its link is still there.
                if os.path.lexists(event["port"]):
                    os.unlink(event["port"])
            elif event.get("event") == "unplugged":
                gone.add(event["port"])
        served = self.wait_for(take, lambda: len(results) == len(units), deadline)
        for port, sim in sims.items():  # unplug: the unit's memory is dumped as it stops
            sim.terminate()
            sim.wait()
            if os.path.lexists(port):
                os.unlink(port)
        if not served:
            for port in units.keys() - results.keys():
                self.fail("round %d: no result for %s in %d s" % (number, units[port].describe(), ROUND_LIMIT))
            return False
        if not self.wait_for(take, lambda: gone == units.keys(), deadline):
            self.fail("round %d: the station did not see every unit unplugged" % number)
            return False

        for port, unit in units.items():
            self.check(unit, results[port])
        return True

    def check(self, unit, result):
        code = result["code"]
        self.results.append((unit, result))
        outcome = "OK" if result["ok"] else "code %d" % code
        notes = result.get("notes", [])
        if NOTE_LAST_ACK in notes:
            outcome += ", last ack lost"
        self.table[unit.name()][outcome] += 1
        what = unit.describe()
        if result.get("repeat", False) != (unit.id in self.seen):
            self.fail("%s: repeat is %s" % (what, result.get("repeat", False)))
        self.seen.add(unit.id)
        if code not in unit.expected:
            return self.fail("%s ended with code %d (%s), not %s" % (
                what, code, result.get("error", "OK"), " or ".join(map(str, sorted(unit.expected)))))
        if result["ok"] != (code == 0):
            return self.fail("%s: ok is %s with code %d" % (what, result["ok"], code))

        # A split answer may or may not come whole before the unit restarts.
        lost_last = unit.kind in LOSSY and unit.upload and unit.frame == UPLOAD_FRAMES
        noted = NOTE_LAST_ACK in notes
        if noted != lost_last and not (lost_last and unit.kind == "split"):
            self.fail("%s: notes %s" % (what, notes))
        if not result["ok"]:
            return
        with open(unit.dump) as f:
            dump = json.load(f)
        want = self.references["default" if unit.writes else unit.image]
        if dump["configuration"] != want:
            self.fail("%s was reported OK but its configuration is not the one %s" % (
                what, "written" if unit.writes else "it had"))
        if unit.writes:
            unit.sha256 = hashlib.sha256(bytes.fromhex(dump["configuration"])).hexdigest()
        if unit.upload:
            if self.firmware is None:
                self.firmware = dump["firmware"]
            if dump["firmware"] is None or dump["firmware"] != self.firmware:
                self.fail("%s was reported OK but holds firmware %s, not %s" % (what, dump["firmware"], self.firmware))
        elif dump["firmware"] is not None:
            self.fail("%s was sent firmware it did not need" % what)

    def check_journal(self):
        with open(self.journal) as f:
            records = [json.loads(line) for line in f]
        if len(records) != len(self.results):
            self.fail("the journal has %d records for %d units" % (len(records), len(self.results)))
        by_port = {r["port"]: r for r in records}
        for unit, result in self.results:
            record = by_port.get(result["port"])
            if record is None:
                self.fail("no journal record for %s" % unit.describe())
            elif (record["code"], record["ok"], record["repeat"]) != (result["code"], result["ok"], result.get("repeat", False)):
                self.fail("the journal's record for %s says code %d, repeat %s" % (
                    unit.describe(), record["code"], record["repeat"]))
            elif result["ok"] and record["sha256"] != unit.sha256:
                self.fail("the journal's image for %s is not the one the unit holds" % unit.describe())

    def run(self):
        begun = time.monotonic()
        self.references = reference_dumps(self.opts.zpisim, self.folder)
        self.start_station()
        rounds = -(-self.opts.services // self.opts.parallel)
        marks = {1, min(25, rounds), min(100, rounds), rounds}
        for number in range(1, rounds + 1):
            if not self.round(number):
                break
            rss, fds, threads = resources(self.station.pid)
            self.rss.append(rss)
            if number == 1:
                self.first = (fds, threads)
            elif (fds, threads) != self.first:
                self.fail("round %d: zpictl holds %d descriptors and %d threads, %d and %d after round 1" % (
                    number, fds, threads, *self.first))
            if number in marks:
                self.figures.append((number, number * self.opts.parallel, rss, fds, threads))
            if number % 25 == 0:
                print("round %d of %d: %d services, %d failed checks, %.0f s" % (
                    number, rounds, number * self.opts.parallel, len(self.failures), time.monotonic() - begun),
                    flush=True)

        self.station.send_signal(signal.SIGINT)
        try:
            status = self.station.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.station.kill()
            status = None
            self.fail("zpictl station did not stop within 30 s of Ctrl+C")
        expected_status = 0 if all(r["ok"] for _, r in self.results) else 1
        if status is not None and status != expected_status:
            self.fail("zpictl station ended with status %d, not %d" % (status, expected_status))
        self.check_journal()
        self.report(time.monotonic() - begun)
        return not self.failures

    def report(self, took):
        print("\nResults by fault kind (%d units, %d at a time, seed %d):" % (
            len(self.results), self.opts.parallel, self.opts.seed))
        for kind in ["none"] + KINDS:
            outcomes = self.table.get(kind, {})
            text = ", ".join("%s %d" % (o, n) for o, n in sorted(outcomes.items(), key=lambda i: (i[0] != "OK", i[0])))
            print("  %-17s %4d  %s" % (kind, sum(outcomes.values()), text))
        if not self.figures:
            return
        # From the end of the warm-up (round 25) to the last round: the ids come round, so
        # nothing should grow but the heap's own slack (its top is extended 128 kB at a time).
        start, end = self.figures[min(1, len(self.figures) - 1)], self.figures[-1]
        growth, allowed = end[2] - start[2], 128 + (end[1] - start[1]) * 64 // 1024
        if growth > allowed:
            self.fail("zpictl's resident memory grew by %d kB from round %d to %d (at most %d kB)" % (
                growth, start[0], end[0], allowed))
        print("\nzpictl station:  round  services  resident kB  descriptors  threads")
        for number, services, rss, fds, threads in self.figures:
            print("                 %5d  %8d  %11d  %11d  %7d" % (number, services, rss, fds, threads))
        print("\n%d services in %.0f s (%.2f s a round); %s" % (
            len(self.results), took, took / max(1, end[0]),
            "every check held" if not self.failures else "%d checks FAILED" % len(self.failures)))
        if self.failures:
            print("Failed checks:" + "".join("\n  " + text for text in self.failures[:20]) +
                  ("\n  ... and %d more" % (len(self.failures) - 20) if len(self.failures) > 20 else ""))
            print("the station's journal and error output are kept in " + self.folder)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--zpictl", required=True)
    parser.add_argument("--zpisim", required=True)
    parser.add_argument("--services", type=int, default=1000)
    parser.add_argument("--parallel", type=int, default=4)
    parser.add_argument("--ids", type=int, default=61, help="how many unit ids come round")
    parser.add_argument("--seed", type=int, default=int(time.time()))
    opts = parser.parse_args()
    soak = Soak(opts)
    try:
        ok = soak.run()
    except Exception as e:  # a soak that cannot go on says why and leaves nothing running
        print("soak stopped: %s" % e, file=sys.stderr)
        ok = False
    finally:
        for process in soak.sims + ([soak.station] if soak.station else []):
            if process.poll() is None:
                process.kill()
                process.wait()
    if ok:
        subprocess.run(["rm", "-rf", soak.folder])
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
