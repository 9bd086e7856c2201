#!/usr/bin/env python3
"""Judges a noisy-line soak from what it left in its work folder.

    analyse_soak.py WORKDIR

Reads the driver's transcript (soak-transcript.txt: every call, what it
returned and how long it took), the simulator's traffic log (every byte each
way, every bit the noise flipped, every line the terminal heard, every record
it sent or stored) and its dump (the databases at the end). Prints a summary
and exits with 1 when the run shows a fault of the module:

- a hang: a call that took longer than the transcript's bound, or a run that
  never reached its end;
- a record filed under another document or database, unless the terminal
  heard the command that asked for that store with a flipped bit (the
  protocol carries no check on commands);
- a record stored twice, unless the module could not know that the copy
  before was stored: its acknowledgement was corrupted on its way back (the
  line in which the computer read it held a flipped bit, in the ACK or in
  the CR that should have ended the reply before it), and the database's
  count could not tell either (between the two copies fewer than two count
  exchanges, GRC and its reply, crossed the line clean, and either one was
  tried or the count taken before the load had not crossed clean);
- a corrupted record accepted (pulled, or stored by the terminal), unless
  the line carried flipped bits its checksum cannot see: flips that cancel
  in the 16-bit sum, or a sum changed only between two values the checksum
  sends alike (a checksum byte 0x0D goes as 0x0E, so 0x0E stands for both);
- a pulled record given twice or out of order;
- a record of the document never pulled of which one copy reached the
  computer whole, every byte and its CR as sent, whether or not on a line of
  its own (lost by the module), and one of which none did (the terminal
  moved past it: a NAK it heard garbled, or a record line whose CR was lost,
  so that the command went out again and its answer joined the line) unless
  a pull call failed between the records given before and after it: a
  record may be given up, but only with a failure code;
- a load reported stored that the terminal never stored.
"""

import glob
import os
import re
import sys
from collections import defaultdict

CR = 0x0D
DOCUMENT = 1  # the document pulled (soak_driver.cpp)
DATABASE = 1  # the database loaded

LOG_LINE = re.compile(r"^(\d+) baud=\d+ RTS=\d DTR=\d (RX|TX|EV) (.*)$")
HEX_BYTES = re.compile(r"^((?:[0-9A-F]{2} )*[0-9A-F]{2}) \|")
NOISE = re.compile(r"^noise (RX|TX) ([0-9A-F]{2})->([0-9A-F]{2}) at byte (\d+)(?:, reply to line (\d+))?")
HEARD = re.compile(r'^line (\d+) "(.*)"( \(with \d+ flipped bytes?\))?$')
SEND = re.compile(r"^send (document|database) (\d+) record (\d+) \(send (\d+)")
STORED = re.compile(r'^stored database (\d+) record (\d+) ".*"( \(received with \d+ flipped bytes?\))?$')
LOAD_MODE = re.compile(r"^load mode for database (\d+)$")
NO_MORE = re.compile(r"^document (\d+) has no more records$")
GENERATED = re.compile(rb"^(DOC|DB)(\d),(\d+),46000\d{7},\d+$")


def unescape(text):
    """The simulator's and the transcript's escapes: \\\\ \\t \\r \\n \\0 \\xHH."""
    out = bytearray()
    i = 0
    simple = {"\\": 0x5C, "t": 0x09, "r": 0x0D, "n": 0x0A, "0": 0x00}
    while i < len(text):
        if text[i] != "\\":
            out += text[i].encode("latin-1")
            i += 1
        elif text[i + 1] == "x":
            out.append(int(text[i + 2:i + 4], 16))
            i += 4
        else:
            out.append(simple[text[i + 1]])
            i += 2
    return bytes(out)


def generated(kind, store, i):
    """The simulator's generated record i of a store (its README)."""
    return ("%s%d,%d,46000%07d,%d" % (kind, store, i + 1, ((i + 1) * 7919 + store) % 10000000,
                                      (i * 37 + store) % 100 + 1)).encode()


def checksum(summed, low_first):
    total = sum(summed) & 0xFFFF
    low, high = total & 0xFF, total >> 8
    low, high = (0x0E if b == CR else b for b in (low, high))
    return bytes([low, high]) if low_first else bytes([high, low])


def upload_line(text):
    """Computer to terminal: text, checksum high, low."""
    return text + checksum(text, low_first=False)


def unseen_corruption(got, meant, low_first):
    """Why the checksum passed a line that came off the line as `got` but was
    sent as `meant` (both without the CR), or None when it did not pass or
    nothing changed."""
    if got == meant or len(got) < 3 or got[-2:] != checksum(got[:-2], low_first):
        return None
    if meant[-2:] != checksum(meant[:-2], low_first):
        return None  # not a line the other side sent whole
    if sum(got[:-2]) & 0xFFFF == sum(meant[:-2]) & 0xFFFF:
        return "the flips cancel in the 16-bit sum"
    return "the sum changed, but its checksum bytes read the same (0x0E also stands for 0x0D)"


class Direction:
    """The bytes of one direction as they came off the line, and what the
    noise changed: offset -> the byte that was meant."""

    def __init__(self):
        self.data = bytearray()
        self.meant = {}

    def lines(self):
        """Each complete line as the other side got it: (offset of its first
        byte, offset of its CR, bytes as received, bytes as meant, flipped?)."""
        start = 0
        for end, byte in enumerate(self.data):
            if byte != CR:
                continue
            got = bytes(self.data[start:end])
            meant = bytes(self.meant.get(o, self.data[o]) for o in range(start, end))
            flipped = any(o in self.meant for o in range(start, end + 1))
            yield start, end, got, meant, flipped
            start = end + 1


class TrafficLog:
    def __init__(self, path):
        self.rx, self.tx = Direction(), Direction()
        self.flips = {"RX": 0, "TX": 0}
        self.noise = []                      # (event number, line) of every flip
        self.flipped_lines = set()           # lines the terminal heard with flipped bytes
        self.reply_start = {}                # line -> offset of its reply among the bytes sent
        self.first_send = {}                 # (store, n, i) -> (event number, line)
        self.send_lines = defaultdict(list)  # (store, n, i) -> the line each send answered
        self.heard = {}                      # line -> (text as heard, heard with flipped bytes?)
        self.stored = {}                     # (database, index) -> line
        self.load_mode_line = {}             # line of a store -> line that opened its load mode
        self.ended = set()                   # documents the terminal said had no more records
        line = 0
        opened_by = {}
        with open(path, encoding="latin-1") as log:
            for number, text in enumerate(log):
                match = LOG_LINE.match(text.rstrip("\n"))
                if not match:
                    continue
                kind, rest = match.group(2), match.group(3)
                if kind in ("RX", "TX"):
                    hex_part = HEX_BYTES.match(rest)
                    if kind == "TX" and line not in self.reply_start:
                        self.reply_start[line] = len(self.tx.data)
                    if hex_part:
                        (self.rx if kind == "RX" else self.tx).data += bytes.fromhex(hex_part.group(1))
                    continue
                line = self.event(rest, number, line, opened_by)

    def event(self, text, number, line, opened_by):
        """Takes one event; returns the line the events that follow belong to."""
        if m := NOISE.match(text):
            direction = self.rx if m.group(1) == "RX" else self.tx
            offset = int(m.group(4))
            direction.meant[offset] = int(m.group(2), 16)
            self.flips[m.group(1)] += 1
            # A flip on the way in belongs to the line it is part of, one on
            # the way out to the line the reply answers.
            struck = int(m.group(5)) if m.group(5) else self.rx.data.count(CR) + 1
            self.noise.append((number, struck))
        elif m := HEARD.match(text):
            line = int(m.group(1))
            self.heard[line] = (unescape(m.group(2)), bool(m.group(3)))
            if m.group(3):
                self.flipped_lines.add(line)
        elif m := SEND.match(text):
            key = (m.group(1), int(m.group(2)), int(m.group(3)))
            if m.group(4) == "1":
                self.first_send[key] = (number, line)
            self.send_lines[key].append(line)
        elif m := NO_MORE.match(text):
            self.ended.add(int(m.group(1)))
        elif m := LOAD_MODE.match(text):
            opened_by[int(m.group(1))] = line
        elif m := STORED.match(text):
            database = int(m.group(1))
            self.stored[(database, int(m.group(2)))] = line
            self.load_mode_line[line] = opened_by.get(database)
        return line

    def reply_received_corrupted(self, line):
        """Whether the line the computer read the reply to `line` in (up to
        the CR it took for the reply's end) held a flipped byte. The
        terminal answers at once, so a reply follows the line it answers
        in the log."""
        at = self.reply_start.get(line)
        if at is None:
            return False
        return any(start <= at <= end and flipped for start, end, _, _, flipped in self.tx.lines())

    def reply_arrived_whole(self, line, length):
        """Whether the `length` bytes of the reply to `line`, its CR
        included, reached the computer without a flipped bit."""
        at = self.reply_start.get(line)
        return at is not None and not any(o in self.tx.meant for o in range(at, at + length))

    def reply_received_clean(self, line):
        """Whether the reply to `line` reached the computer without a flipped
        byte, up to the CR that ended it."""
        return line in self.reply_start and not self.reply_received_corrupted(line)

    def noise_between(self, start, end, lines):
        """Whether a flip between two events struck one of `lines`."""
        return any(start <= n < end and line in lines for n, line in self.noise)


def read_transcript(path):
    calls = {"record": [], "pull": [], "load": [], "finish": [], "attach": [], "hang": []}
    bound, ended = None, False
    if not os.path.exists(path):
        return calls, bound, ended
    with open(path, encoding="latin-1") as transcript:
        for text in transcript:
            words = text.split()
            if not words:
                continue
            if words[0] == "bound-ms":
                bound = int(words[1])
            elif words[0] == "end":
                ended = True
            elif words[0] == "hang":
                calls["hang"].append(words[1:])
            else:
                calls[words[0]].append(words[1:])
    return calls, bound, ended


def read_dump(path):
    stores = defaultdict(list)  # database -> [(index, text)]
    if os.path.exists(path):
        with open(path, encoding="latin-1") as dump:
            for text in dump:
                parts = text.rstrip("\n").split(" ", 3)
                if parts[0] == "database":
                    stores[int(parts[1])].append((int(parts[2]), unescape(parts[3] if len(parts) > 3 else "")))
    return stores


class Tally:
    """Counts of one kind of finding, explained or not, with their stories."""

    def __init__(self):
        self.explained, self.unexplained = [], []

    def add(self, explained, story):
        (self.explained if explained else self.unexplained).append(story)

    def __str__(self):
        return "%d explained / %d unexplained" % (len(self.explained), len(self.unexplained))


class Soak:
    def __init__(self, work):
        logs = glob.glob(os.path.join(work, "terminal-*.log"))
        if len(logs) != 1:
            raise SystemExit("analyse_soak: expected one traffic log in %s, found %d" % (work, len(logs)))
        self.log = TrafficLog(logs[0])
        self.dump = read_dump(logs[0][:-len(".log")] + ".dump")
        self.calls, self.bound, self.ended = read_transcript(os.path.join(work, "soak-transcript.txt"))
        self.sent_by_text = {}  # the text of each load record -> its number
        for record, text in self.calls["record"]:
            self.sent_by_text[unescape(text[1:])] = int(record)
        self.download_lines = {n for n, (_, _, _, meant, _) in enumerate(self.log.rx.lines(), 1)
                               if meant.startswith(b"GDF") or meant == b"NAK"}
        self.findings = defaultdict(Tally)
        self.figures = {}

    def store_of(self, text):
        """(store, number, index) of a text some store of the terminal holds."""
        match = GENERATED.match(text)
        if match:
            kind, store, i = match.group(1), int(match.group(2)), int(match.group(3)) - 1
            if text == generated(kind.decode(), store, i):
                return ("document" if kind == b"DOC" else "database", store, i)
        for database, entries in self.dump.items():
            for index, stored in entries:
                if stored == text:
                    return ("database", database, index)
        return None

    def asked_with_flipped_command(self, key):
        first = self.log.first_send.get(key)
        return first is not None and first[1] in self.log.flipped_lines

    # ---- the pull

    def pull(self):
        received_lines = list(self.log.tx.lines())
        corrupted_passing = {}  # text as received -> (line as meant, why it passed)
        for _, _, got, meant, flipped in received_lines:
            why = unseen_corruption(got, meant, low_first=True) if flipped else None
            if why:
                corrupted_passing[got[1:-2]] = (meant, why)
        taken = []
        given_by_call = []  # per pull call in order: (value, index of the record given or None)
        for call, value, result, ms, data in self.calls["pull"]:
            given_by_call.append((value, None))
            if value != "1":
                continue
            text = unescape(data[1:])
            key = self.store_of(text)
            if key is not None and key[:2] == ("document", DOCUMENT):
                taken.append(key[2])
                given_by_call[-1] = (value, key[2])
            elif key is not None:
                self.findings["pull wrong store"].add(
                    self.asked_with_flipped_command(key),
                    "call %s gave %s %d record %d" % (call, *key))
            else:
                meant, why = corrupted_passing.get(text, (None, None))
                self.findings["pull corrupted"].add(meant is not None, "call %s gave %r%s" % (
                    call, text, ": " + why if why else ""))
                original = self.store_of(meant[1:-2]) if meant is not None else None
                if original is not None and original[:2] == ("document", DOCUMENT):
                    taken.append(original[2])  # given, though corrupted
                    given_by_call[-1] = (value, original[2])
        seen, highest = set(), -1
        for i in taken:
            if i in seen:
                self.findings["pull duplicate"].add(False, "record %d given again" % i)
            elif i < highest:
                self.findings["pull out of order"].add(False, "record %d after %d" % (i, highest))
            seen.add(i)
            highest = max(highest, i)
        total = len([1 for k in self.log.first_send if k[0] == "document" and k[1] == DOCUMENT])
        for i in range(total):
            if i in seen:
                continue
            # Lead byte, text, two checksum bytes, CR.
            length = len(generated("DOC", DOCUMENT, i)) + 4
            whole = [line for line in self.log.send_lines[("document", DOCUMENT, i)]
                     if self.log.reply_arrived_whole(line, length)]
            if whole:
                self.findings["pull lost"].add(False, "record %d reached the computer whole (answering line %d) "
                                                      "and was never given" % (i, whole[0]))
                continue
            reported = self.failed_around(given_by_call, i)
            self.findings["pull lost"].add(reported, "record %d never given: %s%s" % (
                i, self.moved_past(i), "" if reported else "; no pull call failed in its place"))
        if DOCUMENT not in self.log.ended:
            self.findings["pull incomplete"].add(False, "the terminal never reached the end of document %d" % DOCUMENT)
        self.figures["pull"] = (len(self.calls["pull"]), len(seen), total,
                                sum(1 for c in self.calls["pull"] if c[1] == "-1"))

    @staticmethod
    def failed_around(given_by_call, i):
        """Whether a pull call failed after the call that gave the last
        record before i and before the one that gave the first after it."""
        before = max((n for n, (_, given) in enumerate(given_by_call) if given is not None and given < i), default=-1)
        after = min((n for n, (_, given) in enumerate(given_by_call) if given is not None and given > i and n > before),
                    default=len(given_by_call))
        return any(value == "-1" for value, _ in given_by_call[before + 1:after])

    def moved_past(self, i):
        """Why the terminal never sent record i again: the line it heard
        after its last send of i, which was no NAK."""
        sends = self.log.send_lines.get(("document", DOCUMENT, i))
        if not sends:
            return "never sent"
        text, flipped = self.log.heard.get(sends[-1] + 1, (None, False))
        if text is None:
            return "no copy reached the computer whole"
        how = "heard garbled" if flipped else "the module's next line"
        return "no copy reached the computer whole; the terminal moved past it at line %d %r (%s)" % (
            sends[-1] + 1, text, how)

    def noise_during(self, i):
        """Noise on a download's command, NAK or reply from the first send of
        record i to the first send of i+1."""
        def first(j):
            sent = self.log.first_send.get(("document", DOCUMENT, j))
            return sent[0] if sent else None
        start, end = first(i), first(i + 1)
        if start is None:
            return False
        return self.log.noise_between(start, float("inf") if end is None else end, self.download_lines)

    # ---- the load

    def load(self):
        copies = defaultdict(list)  # record -> [line that stored it in the database loaded]
        elsewhere = []              # lines that stored a record in another database, the command flipped
        kept = set()                # records the terminal holds in any form
        record_of_line = {upload_line(text): record for text, record in self.sent_by_text.items()}
        heard = {n: (got, meant, flipped) for n, (_, _, got, meant, flipped) in enumerate(self.log.rx.lines(), 1)}
        for database, entries in sorted(self.dump.items()):
            for index, text in entries:
                line = self.log.stored.get((database, index))
                if line is None:
                    continue  # a record the scenario held, not a load
                record = self.sent_by_text.get(text)
                if record is None:
                    got, meant, _ = heard.get(line, (b"", b"", False))
                    why = unseen_corruption(got, meant, low_first=False) if meant in record_of_line else None
                    self.findings["load corrupted"].add(why is not None, "database %d record %d %r (line %d)%s" % (
                        database, index, text, line, ": " + why if why else ""))
                    if why:
                        kept.add(record_of_line[meant])
                elif database != DATABASE:
                    flipped_command = self.log.load_mode_line.get(line) in self.log.flipped_lines
                    self.findings["load wrong store"].add(
                        flipped_command, "record %d stored in database %d (line %d)" % (record, database, line))
                    if flipped_command:
                        elsewhere.append(line)
                    kept.add(record)
                else:
                    copies[record].append(line)
                    kept.add(record)
        counts = [n for n, (_, _, got, meant, flipped) in enumerate(self.log.rx.lines(), 1)
                  if meant == b"GRC%d" % DATABASE]
        clean_counts = {n for n in counts if not heard[n][2] and self.log.reply_received_clean(n)}
        # A record the announcement's flipped digit sent to another database
        # was acknowledged all the same: the count the module follows is then
        # one too high until a count it reads puts it right, which may first
        # take one copy found stored for not stored.
        unsettled = sorted(elsewhere)
        duplicates = sorted((earlier, line, record) for record, lines in copies.items()
                            for earlier, line in zip(lines, lines[1:]))
        for earlier, line, record in duplicates:
            between = [n for n in counts if earlier < n < line]
            clean_between = len([n for n in between if n in clean_counts])
            before = [n for n in counts if n < earlier]
            count_unread = clean_between < 2 and (bool(between) or not before or before[-1] not in clean_counts)
            story = "record %d stored again by line %d after line %d (count exchanges between: %d, clean: %d)" % (
                record, line, earlier, len(between), clean_between)
            if not count_unread and unsettled and unsettled[0] < earlier:
                count_unread = True
                story += "; the count followed was one too high since line %d stored a record elsewhere" % (
                    unsettled.pop(0))
            self.findings["load duplicate"].add(self.log.reply_received_corrupted(earlier) and count_unread, story)
        # The terminal acknowledges a record only once it has stored it, so
        # a load reported stored that it never stored took someone else's ACK.
        reported = {int(r) for r, _, value, _, _ in self.calls["load"] if value == "1"}
        for record in sorted(reported - kept):
            self.findings["load lost"].add(False, "record %d reported stored, never stored" % record)
        attempted = set(self.sent_by_text.values())
        self.figures["load"] = (len(self.calls["load"]), len(copies), len(attempted),
                                sum(1 for c in self.calls["load"] if c[2] != "1"),
                                len(attempted - reported))
        self.figures["counts"] = (len(counts), len(clean_counts))

    # ---- hangs

    def hangs(self):
        timed = [(kind, words) for kind in ("pull", "load", "finish", "attach") for words in self.calls[kind]]
        ms_of = {"pull": 3, "load": 4, "finish": 3, "attach": 2}
        times = [int(words[ms_of[kind]]) for kind, words in timed]
        slowest = max(times, default=0)
        for kind, words in timed:
            if self.bound is not None and int(words[ms_of[kind]]) >= self.bound:
                self.findings["hang"].add(False, "%s %s took %s ms" % (kind, words[0], words[ms_of[kind]]))
        for words in self.calls["hang"]:
            self.findings["hang"].add(False, "%s still running after %s ms" % (words[0], words[1]))
        if not self.ended and not self.calls["hang"]:
            self.findings["hang"].add(False, "the driver never reached its end")
        self.figures["calls"] = (len(timed), slowest, sum(times))

    def report(self):
        self.hangs()
        self.pull()
        self.load()
        f, log = self.findings, self.log
        calls, slowest, total_ms = self.figures["calls"]
        pull_calls, pulled, pull_total, pull_failed = self.figures["pull"]
        load_calls, stored, load_total, load_failed, given_up = self.figures["load"]
        print("noisy-line soak")
        print("  line     %d bits flipped: %d in %d bytes to the terminal, %d in %d bytes from it" % (
            log.flips["RX"] + log.flips["TX"], log.flips["RX"], len(log.rx.data), log.flips["TX"], len(log.tx.data)))
        print("  calls    %d in %.0f s, slowest %d ms (bound %s ms); hangs %d; attached anew after a port error %d" % (
            calls, total_ms / 1000.0, slowest, self.bound, len(f["hang"].unexplained), len(self.calls["attach"])))
        print("  pull     %d calls (%d failed): %d records of document %d given, of %d the terminal sent%s" % (
            pull_calls, pull_failed, pulled, DOCUMENT, pull_total,
            "" if DOCUMENT in log.ended else ", never to its end"))
        for name in ("wrong store", "corrupted", "duplicate", "out of order", "lost"):
            print("           %-13s %s" % (name, f["pull " + name]))
        print("  load     %d calls (%d failed): %d of %d records stored in database %d, %d given up" % (
            load_calls, load_failed, stored, load_total, DATABASE, given_up))
        print("           %d counts of database %d asked (%d crossed the line clean)" % (
            self.figures["counts"][0], DATABASE, self.figures["counts"][1]))
        for name in ("wrong store", "corrupted", "duplicate", "lost"):
            print("           %-13s %s" % (name, f["load " + name]))
        finished = [words[0] for words in self.calls["finish"] if words[1] == "1"]
        print("  finish   %s after %d calls" % ("confirmed" if finished else "not confirmed",
                                             len(self.calls["finish"])))
        faults = 0
        for name, tally in sorted(f.items()):
            for story in tally.explained:
                print("  explained   %s: %s" % (name, story))
            for story in tally.unexplained:
                print("  UNEXPLAINED %s: %s" % (name, story))
                faults += 1
        print("  verdict  %s" % ("PASS" if faults == 0 else "FAIL: %d unexplained" % faults))
        return faults == 0


def main():
    if len(sys.argv) != 2:
        raise SystemExit("usage: analyse_soak.py WORKDIR")
    return 0 if Soak(sys.argv[1]).report() else 1


if __name__ == "__main__":
    sys.exit(main())
