#!/usr/bin/env python3
"""Plausible bugs put into link/ one at a time, to show what catches them.

Each mutant replaces one piece of text in one file of link/ (a small change
a developer could make). For each, the native build is rebuilt and run:
the link explorer's exploration and random walks (`explorer`: sequences
broken that the unchanged code keeps, or more broken walks), and the rest of the native suite with
the explorer's regression table (`suite`: any failure). The file is put back
after each mutant. Prints a Markdown table.

    tests/native/mutants/mutants.py [BUILD_DIR] [NAME...]
"""
import os
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))

# name, file, text, replacement, what the bug does
MUTANTS = [
    ("drop-cut-line", "link/reply_ledger.cpp",
     "    LeaveRefused(cut.store, cut.answerId, false);\n}",
     "}",
     "a record line that stopped half-way is dropped when its time is over, not asked for again"),
    ("forget-kept-at-attach", "link/port_opening.cpp",
     "    if (portName != lastPortName_) {",
     "    if (true) {",
     "an attach forgets the records kept for later downloads and the replies owed"),
    ("accept-bad-checksum", "link/received_record.h",
     "|| !ReceivedChecksumMatches(line))",
     ")",
     "a record line is taken whatever its checksum"),
    ("unchanged-count-stored", "link/record_transfer.cpp",
     "if (*agreed == before + 1) {",
     "if (*agreed >= before) {",
     "a count no higher than before the copy is taken as the copy stored"),
    ("copy-again-without-count", "link/record_transfer.cpp",
     "if (!refused && counts_.Known(database_)) return countDue_ = true;",
     "",
     "a garbled answer to a copy sends the copy again without asking the count"),
    ("err-as-end", "link/received_record.h",
     "if (!tooLong && BeginsWith(line, protocol::kOver)) return {Kind::End, {}};",
     "if (!tooLong && (BeginsWith(line, protocol::kOver) || BeginsWith(line, protocol::kErr))) return {Kind::End, {}};",
     "ERR in answer to a download is taken as the end of the records"),
    ("nak-while-owed", "link/record_transfer.cpp",
     "if (refused != nullptr && !refused->mayHoldNext && !ledger_.OwesOtherThan(refused->answerId))",
     "if (refused != nullptr && !refused->mayHoldNext)",
     "a NAK goes out for a garbled record while another record is still owed"),
    ("download-skips-settle", "link/record_transfer.cpp",
     "if (ledger_.Owes() && !ledger_.OwesOnlyRecordsOf(store_)) {",
     "if (false) {",
     "a download writes its command while replies to other operations are owed"),
    ("exchange-skips-settle", "link/command_exchange.cpp",
     "    if (const auto ending = SettleOwedReplies(line_, clock_, pace_, ledger_)) {\n        state_.result = *ending;\n        return kLineGaveOut;\n    }\n    line_.AbortPending();",
     "    line_.AbortPending();",
     "a command goes out while replies are still owed"),
    ("resend-during-reply", "link/record_transfer.cpp",
     "        if (++failedAttempts_ != protocol::kTimeoutsBeforeResend) return;\n        if (ledger_.LineInProgress()) return;",
     "        if (++failedAttempts_ != protocol::kTimeoutsBeforeResend) return;",
     "a download's command goes again while a reply is coming in"),
    ("short-reply-limit", "link/protocol.h",
     "constexpr uint64_t kLateReplyLimitMs = 400;",
     "constexpr uint64_t kLateReplyLimitMs = 200;",
     "a reply is given up 200 ms after its line, not 400"),
    ("short-gap-limit", "link/protocol.h",
     "constexpr uint64_t kLineGapLimitMs = kTimeoutsBeforeGivingUp * kInputWaitMs;",
     "constexpr uint64_t kLineGapLimitMs = kInputWaitMs;",
     "a reply coming in slowly is given up after one silent wait"),
    ("nak-after-other-line", "link/reply_ledger.cpp",
     "    LoseRefusedOtherThan(sameAnswerAs);\n    owed_.push_back",
     "    owed_.push_back",
     "a garbled record is still asked for with NAK after another line went out"),
    ("copies-handed-twice", "link/reply_ledger.h",
     "if (reply.owed.answerTaken && !reply.leadIn) continue;",
     "",
     "the second copy of a record already taken is handed out again"),
    ("ack-lead-in-kept", "link/reply_ledger.cpp",
     "if (owed.kind == ReplyKind::Record && !tooLong && BeginsWith(line, protocol::kAck)) {",
     "if (false) {",
     "an ACK before a record is taken for the record's line"),
    ("count-not-followed", "link/record_transfer.cpp",
     "        if (!line.tooLong && BeginsWith(line.bytes, protocol::kAck)) {\n            counts_.Stored(database_);",
     "        if (!line.tooLong && BeginsWith(line.bytes, protocol::kAck)) {",
     "the count is not followed with an acknowledged copy"),
    ("nak-answer-not-lost", "link/reply_ledger.cpp",
     "            if (HandedOut* refused = RefusedFor(answerId)) refused->kind = HandedOut::Kind::Lost;\n        }\n        return answersOwnLine",
     "        }\n        return answersOwnLine",
     "ERR in answer to a NAK leaves the record to ask for again"),
    ("may-hold-next-ignored", "link/record_transfer.cpp",
     "            if (refused->mayHoldNext) {",
     "            if (false) {",
     "a record line that may hold the next one is asked for with NAK as it is"),
    ("close-without-nak", "link/port_opening.cpp",
     "        if (refused == nullptr || asked == protocol::kFailedAttemptsBeforeGivingUp) return;",
     "        return;",
     "a close leaves a garbled record without asking for it with NAK"),
    ("cut-copy-always-again", "link/record_transfer.cpp",
     "    return count && *count == cut->countBefore + 1;",
     "    return false;",
     "a copy whose answer went with the port is always sent again"),
    ("one-count-reading", "link/record_transfer.cpp",
     "            if (std::find(read.begin(), read.end(), *count) != read.end()) agreed = count;",
     "            agreed = count;",
     "one reading of the count is taken, with no second to agree"),
    ("clear-keeps-held", "link/terminal_queries.cpp",
     "    if (cleared == 1) ledger_.DropHandedOut(Store{Store::Kind::Database, database});",
     "",
     "a cleared database keeps what was held for its downloads"),
    ("no-late-ack-wait", "link/record_transfer.cpp",
     "if (outcome == kNotStored && !PortFailureCode(state_.result) && ledger_.Owes())",
     "if (false)",
     "an upload that gives up does not wait for the answer still owed"),
    ("copy-before-given-up", "link/record_transfer.cpp",
     "if (copyWhenUnanswered_ && !GivingUp() && AnswerGivenUp()) SendCopy();",
     "if (copyWhenUnanswered_ && !GivingUp()) SendCopy();",
     "without a count, the next copy goes out before the last one's answer is given up"),
    ("search-forgotten", "link/terminal_link.h",
     "void TerminalSpokenToElsewhere() { ledger_.TerminalSpokenToElsewhere(); }",
     "void TerminalSpokenToElsewhere() {}",
     "the search's lines are not known to move the terminal past a garbled record"),
    ("cut-by-port-dropped", "link/reply_ledger.cpp",
     "    if (partialBegun_ && !owed_.empty()) CutFront();\n    ClearPartial();",
     "    ClearPartial();",
     "a record line cut by a closed or failed port is dropped, not asked for again"),
]


def run(command, cwd=ROOT, env=None):
    merged = dict(os.environ)
    merged.update(env or {})
    return subprocess.run(command, cwd=cwd, env=merged, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          text=True)


def build(build_dir):
    result = run(["cmake", "--build", build_dir, "-j2", "--target", "link_explorer", "native_tests"])
    return result.returncode == 0


def explorer_broken(build_dir):
    """The broken sequences of the exploration, and the number of broken walks."""
    listed = os.path.join(build_dir, "explorer-broken.list")
    result = run([os.path.join(build_dir, "tests/native/link_explorer"),
                  "--gtest_filter=Explorer.EveryCombination*:Explorer.Seeded*"],
                 env={"QUILL_EXPLORE_SHOW": "0", "QUILL_EXPLORE_LIST": listed})
    walks = re.search(r"random walks of seed \d+, (\d+) broken", result.stdout)
    if not walks or not os.path.exists(listed):
        return None  # crashed or hung
    broken = set(line.split(" | ")[0] for line in open(listed))
    os.remove(listed)
    return broken, int(walks.group(1))


def suite_fails(build_dir):
    native = run([os.path.join(build_dir, "tests/native/native_tests")])
    rows = run([os.path.join(build_dir, "tests/native/link_explorer"), "--gtest_filter=Explorer.EverySequence*"])
    failed = re.findall(r"^\[  FAILED  \] (\S+)", native.stdout + rows.stdout, re.M)
    return sorted(set(failed)) if native.returncode or rows.returncode else []


def main():
    build_dir = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else os.path.join(ROOT, "build/native")
    chosen = sys.argv[2:]
    if not build(build_dir):
        sys.exit("the unchanged tree does not build")
    baseline = explorer_broken(build_dir)
    print(f"unchanged: {len(baseline[0])} broken sequences, {baseline[1]} broken walks; "
          f"suite fails: {suite_fails(build_dir)}", flush=True)
    print("| mutant | the bug | explorer | suite |\n|---|---|---|---|", flush=True)
    for name, path, text, replacement, what in MUTANTS:
        if chosen and name not in chosen:
            continue
        full = os.path.join(ROOT, path)
        original = open(full).read()
        if original.count(text) != 1:
            print(f"| {name} | {what} | does not apply | |", flush=True)
            continue
        try:
            open(full, "w").write(original.replace(text, replacement))
            if not build(build_dir):
                print(f"| {name} | {what} | does not build | |", flush=True)
                continue
            broken = explorer_broken(build_dir)
            failed = suite_fails(build_dir)
            if broken is None:
                explorer = "crash or hang"
            else:
                new = len(broken[0] - baseline[0])
                walks = broken[1] - baseline[1]
                explorer = (f"caught ({new} sequences" + (f", {walks} more walks" if walks > 0 else "") + ")"
                            if new or walks > 0 else "not caught")
            suite = f"caught ({len(failed)} tests)" if failed else "not caught"
            print(f"| {name} | {what} | {explorer} | {suite} |", flush=True)
        finally:
            open(full, "w").write(original)
    build(build_dir)


if __name__ == "__main__":
    main()
