// The terminal simulator seen from the computer's side of its pty. Expected
// record lines and checksum bytes below are worked out by hand.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "simulator_process.h"

namespace simtest {
namespace {

using namespace std::string_literals;

constexpr int kQuietMs = 150;  // "no answer": nothing within this time

// One command and the reply line it must bring, in the order of the table.
struct Exchange {
  const char* what;
  Bytes command;
  Bytes reply;
};

void runExchanges(SimulatorProcess& sim, const std::vector<Exchange>& table) {
  for (const Exchange& row : table) {
    sim.send(row.command);
    EXPECT_EQ(sim.readLine(), row.reply) << row.what;
  }
}

TEST(Simulator, AnswersTheQueriesAndHousekeepingCommands) {
  SimulatorProcess sim(
      "serial SN-0042\n"
      "clock 2024010212304\n"  // 13 characters, as a faulty terminal would send
      "state IDLE\n"
      "free-memory -5\n"
      "count document 3 -1\n"
      "generate document 2 4\n"
      "record database 1 X\n");
  ASSERT_TRUE(sim.started());
  runExchanges(sim, {
      {"a ping is acknowledged", "PNG\r", "ACK\r"},
      {"free memory is the scenario's text, negative too", "GFM\r", "-5\r"},
      {"the serial number is the scenario's", "GSN\r", "SN-0042\r"},
      {"the clock is the scenario's text whatever its length", "GST\r", "2024010212304\r"},
      {"the state is the scenario's", "GCS\r", "IDLE\r"},
      {"a document count is the number of its records", "GDC2\r", "4\r"},
      {"a count may be overridden, negative too", "GDC3\r", "-1\r"},
      {"a database count is the number of its records", "GRC1\r", "1\r"},
      {"setting the clock is confirmed", "SST20040305090702\r", "OK\r"},
      {"the clock then reads as set", "GST\r", "20040305090702\r"},
      {"a set-clock line with a short date is unknown", "SST2004030509070\r", "ERR\r"},
      {"clearing a document is confirmed", "CDC2\r", "OK\r"},
      {"a cleared document counts nothing", "GDC2\r", "0\r"},
      {"clearing a database is confirmed", "CDB1\r", "OK\r"},
      {"a cleared database counts nothing", "GRC1\r", "0\r"},
      {"a document number above 9 is unknown", "GDC10\r", "ERR\r"},
      {"database 0 does not exist", "GRC0\r", "ERR\r"},
      {"an unknown command gets ERR", "XYZ\r", "ERR\r"},
      {"an empty line gets ERR", "\r", "ERR\r"},
  });
}

TEST(Simulator, ClearingCanBeRefused) {
  SimulatorProcess sim("clear-reply ERR\nrecord database 2 kept\n");
  ASSERT_TRUE(sim.started());
  runExchanges(sim, {
      {"clearing is refused", "CDB2\r", "ERR\r"},
      {"the refused database keeps its record", "GRC2\r", "1\r"},
  });
}

// Lead byte '#' (0x23) counts in the sum; low byte first, then high byte.
TEST(Simulator, SendsDocumentRecordsWithTheirChecksumsThenOver) {
  SimulatorProcess sim(
      "record document 4 123,ABC,5\n"
      "record document 4 uu\n"
      "record document 4 \\xFF\\xFF\\xFF\\xFF\\xFF\\xFF\\xFF\\xFF\\xFF\\xFF\\xFF\\xFF\\xFF\n"
      "record document 4\n");
  ASSERT_TRUE(sim.started());
  runExchanges(sim, {
      // 0x23 + "123,ABC,5" = 524 = 0x020C
      {"a record line carries lead byte, text, low and high checksum byte", "GDF4\r",
       "#123,ABC,5\x0C\x02\r"},
      // 0x23 + 'u' + 'u' = 269 = 0x010D: the low byte CR travels as 0x0E
      {"a low checksum byte of CR travels as 0x0E", "GDF4\r", "#uu\x0E\x01\r"},
      // 0x23 + 13 * 0xFF = 3350 = 0x0D16: the high byte CR travels as 0x0E
      {"a high checksum byte of CR travels as 0x0E", "GDF4\r", "#" + Bytes(13, '\xFF') + "\x16\x0E\r"},
      // 0x23 alone = 0x0023
      {"an empty record is the lead byte and its checksum", "GDF4\r", "#\x23\x00\r"s},
      {"after the last record the document is over", "GDF4\r", "OVER\r"},
      {"and stays over", "GDF4\r", "OVER\r"},
  });
}

TEST(Simulator, ResendsARecordOnNakAndMovesOnOnlyAfterAnotherCommand) {
  SimulatorProcess sim(
      "generate database 3 2\n"
      "corrupt database 3 record 0 times 1\n");
  ASSERT_TRUE(sim.started());
  // Generated record 0 of database 3 is "DB3,1,460000007922,4":
  // 0x23 + its bytes = 1059 = 0x0423.
  const Bytes good = "#DB3,1,460000007922,4\x23\x04\r";
  sim.send("GDB3\r");
  Bytes corrupted = sim.readLine();
  ASSERT_EQ(corrupted.size(), good.size());
  EXPECT_EQ(corrupted.substr(0, good.size() - 3), good.substr(0, good.size() - 3)) << "the text is intact";
  EXPECT_NE(corrupted[good.size() - 3], good[good.size() - 3]) << "the low checksum byte is spoiled";
  runExchanges(sim, {
      {"NAK brings the same record with a good checksum", "NAK\r", good},
      {"a second NAK brings it again", "NAK\r", good},
  });
  sim.send("GDB3\r");
  EXPECT_EQ(sim.readLine().substr(0, 7), "#DB3,2,") << "the next command moves on to the next record";
}

TEST(Simulator, PrefixesRecordsWithAckWhenTheScenarioSaysSo) {
  SimulatorProcess sim(
      "record document 1 A\n"
      "record document 2 B\n"
      "ack-prefix document 1\n"
      "ack-prefix document 2 gap 120\n"
      "ack-over document 1\n");
  ASSERT_TRUE(sim.started());
  // 0x23 + 'A' = 0x64; 0x23 + 'B' = 0x65
  sim.send("GDF1\r");
  EXPECT_EQ(sim.readFor(kQuietMs), "ACK\r#A\x64\x00\r"s) << "ACK and the record in one write";

  const long long sent = monotonicMs();
  sim.send("GDF2\r");
  Bytes bytes;
  std::vector<long long> arrivals;
  ASSERT_TRUE(sim.readTimed(8, bytes, arrivals));
  EXPECT_EQ(bytes, "ACK\r#B\x65\x00"s);
  EXPECT_GE(arrivals[4] - sent, 120) << "the record follows the ACK line after the gap";
  EXPECT_EQ(sim.readLine(), "\r");

  runExchanges(sim, {{"the end of document 1 is announced as ACKOVER", "GDF1\r", "ACKOVER\r"},
                     {"the end of document 2 is a plain OVER", "GDF2\r", "OVER\r"}});
}

// Upload lines: text, checksum HIGH byte, LOW byte, CR; the sum is of the text alone.
TEST(Simulator, StoresUploadedRecordsWithGoodChecksumsAndRefusesBadOnes) {
  SimulatorProcess sim("record database 2 old\n");
  ASSERT_TRUE(sim.started());
  runExchanges(sim, {
      {"announcing a load is acknowledged", "PDB2\r", "ACK\r"},
      // 'A' + TAB + 'B' + TAB = 149 = 0x0095
      {"a record with its checksum is stored", "A\tB\t\x00\x95\r"s, "ACK\r"},
      {"a record with a wrong checksum is refused", "A\tB\t\x00\x96\r"s, "NAK\r"},
      {"the next record is announced again", "PDB2\r", "ACK\r"},
      // 0xC0 + 0xC1 + TAB = 394 = 0x018A
      {"Cyrillic bytes count as unsigned", "\xC0\xC1\t\x01\x8A\r", "ACK\r"},
      // 0xFF + 0x05 + TAB = 269 = 0x010D: the low byte travels as 0x0E
      {"a low checksum byte of CR is expected as 0x0E", "\xFF\x05\t\x01\x0E\r", "ACK\r"},
      {"a line too short for a checksum is refused", "x\r", "NAK\r"},
      {"the load ends with OVER", "OVER\r", "ACK\r"},
      {"OVER outside a load is unknown", "OVER\r", "ERR\r"},
      {"a record line outside a load is unknown", "A\tB\t\x00\x95\r"s, "ERR\r"},
      {"the database counts its old and new records", "GRC2\r", "4\r"},
  });
  EXPECT_EQ(sim.dump(),
            "clock 20240101120000\n"
            "database 2 0 old\n"
            "database 2 1 A\\tB\\t\n"
            "database 2 2 \\xC0\\xC1\\t\n"
            "database 2 3 \\xFF\\x05\\t\n");
}

TEST(Simulator, AnswersFullOnceTheLoadLimitIsReached) {
  SimulatorProcess sim("full-after 1\n");
  ASSERT_TRUE(sim.started());
  runExchanges(sim, {
      {"announce", "PDB1\r", "ACK\r"},
      // 'a' + TAB = 106 = 0x006A
      {"the first record fits", "a\t\x00\x6A\r"s, "ACK\r"},
      {"announce again", "PDB1\r", "ACK\r"},
      {"the second record finds the memory full", "a\t\x00\x6A\r"s, "FULL\r"},
  });
  EXPECT_EQ(sim.dump(), "clock 20240101120000\ndatabase 1 0 a\\t\n");
}

TEST(Simulator, MisbehavesOnDemand) {
  SimulatorProcess sim(
      "silence first 1\n"
      "reply PDB NAK\n"
      "reply GFM OK\\rERR\n"
      "trickle GSN 40\n"
      "serial 123\n");
  ASSERT_TRUE(sim.started());
  sim.send("PNG\r");
  EXPECT_EQ(sim.readFor(kQuietMs), "") << "the first command goes unanswered";
  runExchanges(sim, {
      {"the second command is answered", "PNG\r", "ACK\r"},
      {"a fixed reply replaces the announcement's ACK", "PDB1\r", "NAK\r"},
      {"without the ACK no load mode: a record line is unknown", "a\t\x00\x6A\r"s, "ERR\r"},
  });
  sim.send("GFM\r");
  EXPECT_EQ(sim.readFor(kQuietMs), "OK\rERR\r") << "a fixed reply may hold two lines";

  const long long sent = monotonicMs();
  sim.send("GSN\r");
  Bytes bytes;
  std::vector<long long> arrivals;
  ASSERT_TRUE(sim.readTimed(4, bytes, arrivals));
  EXPECT_EQ(bytes, "123\r");
  for (std::size_t i = 1; i < arrivals.size(); ++i) {
    EXPECT_GE(arrivals[i] - sent, 40 * static_cast<long long>(i)) << "byte " << i << " comes " << i << " gaps late";
  }
}

// Sends the lines `gapMs` apart, then reads the replies: each with the time
// from its own line to its first byte.
struct PacedReplies {
  std::vector<Bytes> replies;
  std::vector<long long> delays;
};

PacedReplies sendPaced(SimulatorProcess& sim, const std::vector<Bytes>& lines, int gapMs) {
  std::vector<long long> sentAt;
  for (const Bytes& line : lines) {
    if (!sentAt.empty()) ::usleep(gapMs * 1000);
    sentAt.push_back(monotonicMs());
    sim.send(line);
  }
  PacedReplies out;
  for (long long sent : sentAt) {
    Bytes first;
    std::vector<long long> arrivals;
    if (!sim.readTimed(1, first, arrivals)) break;
    out.delays.push_back(arrivals[0] - sent);
    out.replies.push_back(first == "\r" ? first : first + sim.readLine());
  }
  return out;
}

// Each reply is late by about `delayMs` from its own line: not by the delays
// of the replies queued before it as well.
void expectEachLateBy(const PacedReplies& got, int delayMs) {
  constexpr int kSlackMs = 75;
  for (std::size_t i = 0; i < got.delays.size(); ++i) {
    EXPECT_GE(got.delays[i], delayMs - 2) << "reply " << i;
    EXPECT_LT(got.delays[i], delayMs + kSlackMs) << "reply " << i;
  }
}

// The log's event texts that begin with `prefix`, without times and line states.
std::vector<std::string> events(const std::string& log, const std::string& prefix) {
  std::vector<std::string> found;
  std::istringstream in(log);
  for (std::string line; std::getline(in, line);) {
    std::size_t at = line.find(" EV " + prefix);
    if (at != std::string::npos) found.push_back(line.substr(at + 4));
  }
  return found;
}

TEST(Simulator, AnswersEveryLineInTurnEachAfterItsOwnDelay) {
  SimulatorProcess sim("delay * 120\nserial SN-1\n");
  ASSERT_TRUE(sim.started());
  PacedReplies got = sendPaced(sim, {"PNG\r", "GSN\r"}, 20);
  EXPECT_EQ(got.replies, (std::vector<Bytes>{"ACK\r", "SN-1\r"})) << "both lines are answered, in order";
  expectEachLateBy(got, 120);
  EXPECT_EQ(events(sim.logText(), "reply to line 1").at(0).find("reply to line 1 goes out "), 0u);
}

TEST(Simulator, AcknowledgesEachUploadRecordLateButInTurn) {
  SimulatorProcess sim("ack-delay 150\n");
  ASSERT_TRUE(sim.started());
  runExchanges(sim, {{"the announcement is answered at once", "PDB1\r", "ACK\r"}});
  // 'a' + TAB = 0x006A
  PacedReplies got = sendPaced(sim, {"a\t\x00\x6A\r"s, "a\t\x00\x6B\r"s, "a\t\x00\x6A\r"s}, 20);
  EXPECT_EQ(got.replies, (std::vector<Bytes>{"ACK\r", "NAK\r", "ACK\r"}));
  expectEachLateBy(got, 150);
  runExchanges(sim, {{"the end of the load is answered at once", "OVER\r", "ACK\r"}});
  EXPECT_EQ(sim.dump(), "clock 20240101120000\ndatabase 1 0 a\\t\ndatabase 1 1 a\\t\n");
  std::vector<std::string> late = events(sim.logText(), "reply to line 2 ");
  ASSERT_EQ(late.size(), 1u);
  EXPECT_NE(late[0].find("(delay 150 ms), after line 4 arrived"), std::string::npos) << late[0];
}

TEST(Simulator, StopsWhenIdleOnlyOnceItsLateRepliesAreOut) {
  SimulatorProcess sim("stop-idle 100\ndelay * 300\n");
  ASSERT_TRUE(sim.started());
  sim.send("PNG\r");
  EXPECT_EQ(sim.readLine(), "ACK\r") << "the reply outlives the idle time";
  int status = sim.waitForExit(2000);
  ASSERT_NE(status, -1) << "then the simulator ends by itself";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// Every time the simulator keeps is a deadline on the clock: a moment the
// computer took it off the processor delays what was due then, and nothing
// after it.
TEST(Simulator, CatchesUpWithItsTimesOnceTheComputerLetsItRun) {
  constexpr int kGapMs = 40;
  constexpr int kHeldMs = 600;  // longer than the whole trickle (8 gaps)
  SimulatorProcess sim("trickle GSN 40\nserial 12345678\n");
  ASSERT_TRUE(sim.started());
  sim.send("GSN\r");
  Bytes bytes;
  std::vector<long long> arrivals;
  ASSERT_TRUE(sim.readTimed(1, bytes, arrivals));
  sim.holdUp(kHeldMs);
  const long long resumed = monotonicMs();
  ASSERT_TRUE(sim.readTimed(9, bytes, arrivals));
  EXPECT_EQ(bytes, "12345678\r");
  EXPECT_LT(arrivals.back() - resumed, 4 * kGapMs)
      << "the bytes that fell due while it was held go out at once, not one gap after another";
  EXPECT_FALSE(events(sim.logText(), "behind time: reply to line 1 goes out ").empty())
      << "and the log says the simulator fell behind\n" << sim.logText();
}

TEST(Simulator, HearsNothingForAMomentAfterEachReplyWhenBusy) {
  SimulatorProcess sim("busy 200\n");
  ASSERT_TRUE(sim.started());
  runExchanges(sim, {{"a command is answered", "PNG\r", "ACK\r"}});
  sim.send("PNG\r");
  EXPECT_EQ(sim.readFor(250), "") << "a command right after the reply is not heard";
  runExchanges(sim, {{"once the moment has passed the terminal hears again", "PNG\r", "ACK\r"}});
  EXPECT_EQ(events(sim.logText(), "busy"), (std::vector<std::string>{"busy: dropped 50 4E 47 0D"}));
}

// One noisy run: what the computer sent and got, and the log.
struct NoisyRun {
  Bytes got;
  std::string log;
};

NoisyRun runNoisy(const std::string& scenario, const Bytes& input) {
  SimulatorProcess sim(scenario);
  if (!sim.started()) return {};
  sim.send(input);
  NoisyRun run{sim.readFor(400), {}};
  sim.stop();
  run.log = sim.logText();
  return run;
}

// The bytes of the log's RX or TX lines, in order.
Bytes wireBytes(const std::string& log, const std::string& direction) {
  Bytes bytes;
  std::istringstream in(log);
  for (std::string line; std::getline(in, line);) {
    std::size_t state = line.find(" DTR=");
    if (state == std::string::npos || line.compare(state + 6, 4, " " + direction + " ") != 0) continue;
    std::size_t at = state + 10;
    std::istringstream hex(line.substr(at, line.rfind(" |") - at));
    for (std::string pair; hex >> pair;) bytes += static_cast<char>(std::stoi(pair, nullptr, 16));
  }
  return bytes;
}

// Undoes (or redoes) the flips the log reports for one direction.
Bytes withFlips(Bytes bytes, const std::vector<std::string>& noise, bool undo) {
  for (const std::string& event : noise) {
    unsigned before = 0, after = 0;
    unsigned long long offset = 0;
    char direction[3] = {};
    if (std::sscanf(event.c_str(), "noise %2s %2X->%2X at byte %llu", direction, &before, &after, &offset) != 4 ||
        offset >= bytes.size()) {
      ADD_FAILURE() << "unreadable: " << event;
      continue;
    }
    EXPECT_EQ(__builtin_popcount(before ^ after), 1) << "one bit flips: " << event;
    EXPECT_EQ(static_cast<unsigned char>(bytes[offset]), undo ? after : before) << event;
    bytes[offset] = static_cast<char>(undo ? before : after);
  }
  return bytes;
}

TEST(Simulator, FlipsBitsInBothDirectionsReproduciblyAndLogsEachFlip) {
  Bytes input;
  for (int i = 0; i < 40; ++i) input += "PNG\r";
  NoisyRun run = runNoisy("noise 0.05 seed 11\n", input);
  std::vector<std::string> rx = events(run.log, "noise RX");
  std::vector<std::string> tx = events(run.log, "noise TX");
  ASSERT_FALSE(rx.empty());
  ASSERT_FALSE(tx.empty());
  EXPECT_EQ(wireBytes(run.log, "RX"), withFlips(input, rx, false)) << "RX lines show the bytes as the terminal got them";
  EXPECT_EQ(wireBytes(run.log, "TX"), run.got) << "TX lines show the bytes as the computer got them";
  Bytes intended = withFlips(run.got, tx, true);
  for (std::size_t at = 0; at < intended.size(); at += 4) {
    Bytes reply = intended.substr(at, 4);
    EXPECT_TRUE(reply == "ACK\r" || reply == "ERR\r") << "the codec's replies, before the noise: " << reply;
  }
  EXPECT_NE(tx[0].find(", reply to line "), std::string::npos) << tx[0];
  EXPECT_FALSE(events(run.log, "line ").empty());

  NoisyRun again = runNoisy("noise 0.05 seed 11\n", input);
  EXPECT_EQ(again.got, run.got) << "the same seed, the same bytes";
  EXPECT_EQ(events(again.log, "noise"), events(run.log, "noise"));
  EXPECT_NE(runNoisy("noise 0.05 seed 12\n", input).got, run.got) << "another seed, other bytes";
}

// Upload line: text, checksum high byte, low byte, CR.
Bytes uploadLine(const Bytes& text) {
  unsigned sum = 0;
  for (unsigned char c : text) sum += c;
  auto travel = [](unsigned byte) { return static_cast<char>(byte == 0x0D ? 0x0E : byte); };
  return text + travel(sum >> 8) + travel(sum & 0xFF) + "\r";
}

// With this seed two flips in one record line cancel out in its checksum.
TEST(Simulator, MarksAStoredRecordThatNoiseAlteredUnnoticed) {
  Bytes input = "PDB1\r";
  std::vector<std::string> sent;
  for (int i = 0; i < 20; ++i) {
    sent.push_back("ITEM" + std::to_string(100 + i) + ",42");
    input += uploadLine(sent.back());
  }
  NoisyRun run = runNoisy("noise 0.02 seed 513\n", input);
  std::vector<std::string> stored = events(run.log, "stored ");
  std::vector<std::string> altered;
  for (const std::string& event : stored) {
    if (event.find(" (received with 2 flipped bytes)") != std::string::npos) altered.push_back(event);
  }
  ASSERT_EQ(altered.size(), 1u) << run.log;
  std::string text = altered[0].substr(altered[0].find('"') + 1);
  text = text.substr(0, text.find('"'));
  EXPECT_EQ(std::count(sent.begin(), sent.end(), text), 0) << text << " is not what was sent";
}

TEST(Simulator, FallsSilentAfterTheAnnouncementWhenLoadSilent) {
  SimulatorProcess sim("load-silent\n");
  ASSERT_TRUE(sim.started());
  runExchanges(sim, {{"the announcement is acknowledged", "PDB3\r", "ACK\r"}});
  sim.send("a\t\x00\x6A\r"s);
  EXPECT_EQ(sim.readFor(kQuietMs), "");
}

TEST(Simulator, EchoesTheAdapterProbeOnlyAtItsBaudWithRtsLow) {
  SimulatorProcess sim("irda baud 38400\n");
  ASSERT_TRUE(sim.started());
  sim.setModemLines(false);
  sim.setBaud(9600);
  sim.send("\x0F");
  EXPECT_EQ(sim.readFor(kQuietMs), "") << "no echo at another baud";

  sim.setBaud(38400);
  sim.send("\x0F");
  EXPECT_EQ(sim.readFor(kQuietMs), "\x0F") << "echo at the adapter's baud with RTS low";
  sim.send("\x07\x36\x51");
  EXPECT_EQ(sim.readFor(kQuietMs), "") << "the switching bytes are not answered";

  sim.setModemLines(true);
  sim.setBaud(115200);
  runExchanges(sim, {{"bytes sent to the adapter never reach the terminal", "PNG\r", "ACK\r"}});

  sim.setBaud(38400);
  sim.send("\x0F");
  EXPECT_EQ(sim.readFor(kQuietMs), "") << "no echo with RTS high";
  runExchanges(sim, {{"with RTS high the byte went to the terminal", "\r", "ERR\r"}});

  std::string log = sim.logText();
  EXPECT_NE(log.find("baud=38400 RTS=0 DTR=1 RX 07 36 51 |.6Q|"), std::string::npos) << log;
  EXPECT_NE(log.find("baud=38400 RTS=0 DTR=1 TX 0F |.|"), std::string::npos) << log;
}

TEST(Simulator, FollowsOnlyTheModemLinesOfItsOwnPty) {
  SimulatorProcess sim("irda baud 38400\n");
  ASSERT_TRUE(sim.started());
  sim.setBaud(38400);
  sim.setModemLinesOf(sim.ptyNumber() + 1, false);
  runExchanges(sim, {{"RTS low on another pty: the terminal is addressed here", "PNG\r", "ACK\r"}});
  sim.setModemLinesOf(sim.ptyNumber(), false);
  sim.send("\x0F");
  EXPECT_EQ(sim.readFor(kQuietMs), "\x0F") << "RTS low on its own pty: the adapter";
}

TEST(Simulator, BehindTheAdapterTheTerminalHearsOnlyOnceTheAdapterIsSwitchedOver) {
  SimulatorProcess sim("irda baud 38400\nbehind-adapter\n");
  ASSERT_TRUE(sim.started());
  sim.setBaud(115200);
  sim.send("PNG\r");
  EXPECT_EQ(sim.readFor(kQuietMs), "") << "on the cable the terminal is not reached";

  sim.setModemLines(false);
  sim.setBaud(38400);
  sim.send("\x0F");
  EXPECT_EQ(sim.readFor(kQuietMs), "\x0F");
  sim.send("\x07\x36\x51");
  EXPECT_EQ(sim.readFor(kQuietMs), "");
  sim.setModemLines(true);
  sim.setBaud(115200);
  runExchanges(sim, {{"through the switched adapter", "PNG\r", "ACK\r"}});

  sim.setModemLines(false);
  sim.setBaud(9600);
  sim.send("\x0F");
  EXPECT_EQ(sim.readFor(kQuietMs), "") << "a probe at another baud, unanswered";
  sim.setModemLines(true);
  sim.setBaud(115200);
  sim.send("PNG\r");
  EXPECT_EQ(sim.readFor(kQuietMs), "") << "a new probe starts the set-up afresh";

  const std::string log = sim.logText();
  EXPECT_NE(log.find("adapter switched over by byte 51 at 38400 baud"), std::string::npos) << log;
  EXPECT_NE(log.find("terminal cannot hear byte 50 at 115200 baud: the adapter is not switched over"),
            std::string::npos)
      << log;
}

TEST(Simulator, RefusesAMalformedScenario) {
  constexpr int kBadScenario = 2;
  const struct {
    const char* what;
    const char* scenario;
  } table[] = {
      {"a probability above 1", "noise 1.5 seed 1\n"},
      {"a probability that is not a number", "noise often seed 1\n"},
      {"noise without a seed", "noise 0.1\n"},
      {"a negative seed", "noise 0.1 seed -3\n"},
      {"a negative busy time", "busy -1\n"},
      {"an acknowledgement delay that is not a number", "ack-delay soon\n"},
      {"an acknowledgement delay with more after it", "ack-delay 10 20\n"},
      {"an unplug at line 0", "unplug line 0\n"},
      {"an unplug with an unknown word", "unplug line 2 back 100 soon\n"},
      {"an unplug plugged back after a negative time", "unplug line 2 back -5\n"},
  };
  for (const auto& row : table) {
    SimulatorProcess sim(row.scenario);
    EXPECT_FALSE(sim.started()) << row.what;
    int status = sim.stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == kBadScenario) << row.what;
  }
}

TEST(Simulator, LinksTheSlaveAndStopsAfterTheScenariosCommandCount) {
  char pattern[] = "/tmp/quill-sim-link-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  std::string link = std::string(pattern) + "/com5";
  {
    SimulatorProcess sim("stop-after 1\n", "--link " + link);
    ASSERT_TRUE(sim.started());
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(target, sim.slavePath());
    runExchanges(sim, {{"the one command is answered", "PNG\r", "ACK\r"}});
    int status = sim.waitForExit(2000);
    ASSERT_NE(status, -1) << "the simulator ends by itself";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    struct stat st;
    EXPECT_NE(lstat(link.c_str(), &st), 0) << "the link is gone";
  }
  rmdir(pattern);
}

// Generated record 1 of document 1 is "DOC1,2,460000015839,39":
// 0x23 + its bytes = 1200 = 0x04B0.
TEST(Simulator, IsUnpluggedAsAReplyGoesOutAndPluggedBackUnderTheSameLinkKeepingItsPlace) {
  char pattern[] = "/tmp/quill-sim-link-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string link = std::string(pattern) + "/com5";
  {
    SimulatorProcess sim("generate document 1 3\nunplug line 2 after 5 back 300\n", "--link " + link);
    ASSERT_TRUE(sim.started());
    const Bytes record1 = "#DOC1,2,460000015839,39\xB0\x04\r";
    sim.send("GDF1\r");
    EXPECT_EQ(sim.readLine().substr(0, 7), "#DOC1,1");
    sim.send("GDF1\r");
    EXPECT_EQ(sim.readFor(kQuietMs), record1.substr(0, 5)) << "five bytes of the reply, then nothing";
    EXPECT_TRUE(sim.hungUp()) << "the pty closed";
    struct stat st;
    EXPECT_NE(lstat(link.c_str(), &st), 0) << "the port is missing while unplugged";

    char target[256] = {};
    for (long long deadline = monotonicMs() + 2000; monotonicMs() < deadline;) {
      if (readlink(link.c_str(), target, sizeof target - 1) > 0) break;
      ::usleep(10000);
    }
    ASSERT_NE(target[0], '\0') << "plugged back under the same link";
    EXPECT_NE(std::string(target), sim.slavePath()) << "on a new pty";
    ASSERT_TRUE(sim.openSlave(target));
    sim.send("NAK\r");
    EXPECT_EQ(sim.readLine(), record1) << "a NAK brings the record that was cut off whole";
    sim.send("GDF1\r");
    EXPECT_EQ(sim.readLine().substr(0, 7), "#DOC1,3") << "the next command moves on";
    const std::string log = sim.logText();
    EXPECT_NE(log.find("unplugged: slave " + sim.slavePath() + " closed after 5 bytes of the reply to line 2, back in 300 ms"),
              std::string::npos) << log;
    EXPECT_NE(log.find(std::string("plugged back: slave ") + target), std::string::npos) << log;
  }
  rmdir(pattern);
}

}  // namespace
}  // namespace simtest
