#include "scenario.h"

#include <cstdio>
#include <functional>
#include <sstream>
#include <stdexcept>

namespace quillsim {
namespace {

constexpr std::size_t kPrefixPatternLength = 3;
constexpr int kMaxGenerated = 100000;
constexpr int kMaxPacingMs = 600000;

struct ParseFailure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The value of a word that `parse` (a std::sto* call) must read to its end.
template <typename Parse>
auto whole(const std::string& w, Parse parse) {
  std::size_t used = 0;
  decltype(parse(w, &used)) value{};
  try {
    value = parse(w, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used != w.size()) throw ParseFailure("'" + w + "' is not a number");
  return value;
}

template <typename T>
T within(const std::string& w, T value, T low, T high) {
  if (value >= low && value <= high) return value;
  std::ostringstream range;
  range << low << ".." << high;
  throw ParseFailure(w + " is outside " + range.str());
}

// Splits one scenario line into words, keeping the raw rest when asked.
class LineReader {
 public:
  explicit LineReader(const std::string& line) : line_(line) {}

  bool atEnd() {
    skipBlanks();
    return pos_ >= line_.size();
  }

  std::string word() {
    skipBlanks();
    std::size_t start = pos_;
    while (pos_ < line_.size() && !isBlank(line_[pos_])) ++pos_;
    if (start == pos_) throw ParseFailure("a word is missing");
    return line_.substr(start, pos_ - start);
  }

  std::optional<std::string> optionalWord() {
    if (atEnd()) return std::nullopt;
    return word();
  }

  // The rest after one separating blank, escapes read.
  Bytes text() {
    if (pos_ < line_.size() && isBlank(line_[pos_])) ++pos_;
    std::optional<Bytes> bytes = unescape(line_.substr(pos_));
    pos_ = line_.size();
    if (!bytes) throw ParseFailure("malformed escape in text");
    return *bytes;
  }

  int number(int low, int high) {
    std::string w = word();
    long value = whole(w, [](const std::string& t, std::size_t* used) { return std::stol(t, used); });
    return static_cast<int>(within(w, value, long{low}, long{high}));
  }

  double real(double low, double high) {
    std::string w = word();
    double value = whole(w, [](const std::string& t, std::size_t* used) { return std::stod(t, used); });
    return within(w, value, low, high);
  }

  std::uint64_t unsignedNumber() {
    std::string w = word();
    if (w[0] == '-') throw ParseFailure(w + " is negative");
    return whole(w, [](const std::string& t, std::size_t* used) { return std::stoull(t, used); });
  }

  void expect(const std::string& keyword) {
    std::string w = word();
    if (w != keyword) throw ParseFailure("expected '" + keyword + "', found '" + w + "'");
  }

  void expectEnd() {
    if (!atEnd()) throw ParseFailure("unexpected '" + line_.substr(pos_) + "'");
  }

 private:
  static bool isBlank(char c) { return c == ' ' || c == '\t'; }

  void skipBlanks() {
    while (pos_ < line_.size() && isBlank(line_[pos_])) ++pos_;
  }

  const std::string& line_;
  std::size_t pos_ = 0;
};

Store readStore(LineReader& in) {
  std::string w = in.word();
  if (w == "document") return Store::Document;
  if (w == "database") return Store::Database;
  throw ParseFailure("expected 'document' or 'database', found '" + w + "'");
}

int readStoreNumber(LineReader& in, Store store) {
  return store == Store::Document ? in.number(kFirstDocument, kLastDocument)
                                  : in.number(kFirstDatabase, kLastDatabase);
}

std::optional<int> readNumberOrAny(LineReader& in, int low, int high) {
  LineReader probe = in;
  if (probe.word() == "*") {
    in.word();
    return std::nullopt;
  }
  return in.number(low, high);
}

// document|database N|* [record R|*]
RecordSelector readSelector(LineReader& in) {
  RecordSelector s;
  s.store = readStore(in);
  s.number = s.store == Store::Document ? readNumberOrAny(in, kFirstDocument, kLastDocument)
                                        : readNumberOrAny(in, kFirstDatabase, kLastDatabase);
  LineReader probe = in;
  if (probe.optionalWord() == std::optional<std::string>("record")) {
    in.word();
    s.record = readNumberOrAny(in, 0, kMaxGenerated);
  }
  return s;
}

std::vector<Bytes>& storeOf(Scenario& sc, Store store, int number) {
  return store == Store::Document ? sc.documents[number] : sc.databases[number];
}

void readCount(LineReader& in, Scenario& sc) {
  Store store = readStore(in);
  int n = readStoreNumber(in, store);
  (store == Store::Document ? sc.documentCountReplies : sc.databaseCountReplies)[n] = in.text();
}

void readRecord(LineReader& in, Scenario& sc) {
  Store store = readStore(in);
  int n = readStoreNumber(in, store);
  storeOf(sc, store, n).push_back(in.text());
}

void readGenerate(LineReader& in, Scenario& sc) {
  Store store = readStore(in);
  int n = readStoreNumber(in, store);
  int count = in.number(0, kMaxGenerated);
  in.expectEnd();
  auto& records = storeOf(sc, store, n);
  for (int i = 0; i < count; ++i) {
    records.push_back(generatedRecord(store, n, static_cast<int>(records.size())));
  }
}

void readIrda(LineReader& in, Scenario& sc) {
  in.expect("baud");
  IrAdapter adapter;
  adapter.baud = static_cast<unsigned>(in.number(1, 4000000));
  adapter.answer = Bytes(1, '\x0F');
  if (!in.atEnd()) {
    in.expect("answer");
    adapter.answer = in.text();
  }
  sc.adapter = adapter;
}

void readSilence(LineReader& in, Scenario& sc) {
  if (in.atEnd()) {
    sc.silent = true;
    return;
  }
  in.expect("first");
  sc.silentFirst = in.number(0, 1 << 30);
  in.expectEnd();
}

void readLeadByte(LineReader& in, Scenario& sc) {
  Bytes b = in.text();
  if (b.size() != 1) throw ParseFailure("the lead byte must be one byte");
  sc.leadByte = b[0];
}

Pacing readPacing(LineReader& in) {
  Pacing p;
  p.pattern = in.word();
  p.milliseconds = in.number(0, kMaxPacingMs);
  in.expectEnd();
  return p;
}

void readCorrupt(LineReader& in, Scenario& sc) {
  Corruption c;
  c.where = readSelector(in);
  in.expect("times");
  c.times = in.number(0, 1 << 30);
  in.expectEnd();
  sc.corruptions.push_back(c);
}

void readAckPrefix(LineReader& in, Scenario& sc) {
  AckPrefix a;
  a.where = readSelector(in);
  if (!in.atEnd()) {
    in.expect("gap");
    a.gapMs = in.number(0, kMaxPacingMs);
  }
  in.expectEnd();
  sc.ackPrefixes.push_back(a);
}

void readAckOver(LineReader& in, Scenario& sc) {
  RecordSelector s = readSelector(in);
  in.expectEnd();
  sc.ackOver.push_back(s);
}

void readNoise(LineReader& in, Scenario& sc) {
  Noise noise;
  noise.probability = in.real(0, 1);
  in.expect("seed");
  noise.seed = in.unsignedNumber();
  in.expectEnd();
  sc.noise = noise;
}

// unplug line N [after K] [back MS]
void readUnplug(LineReader& in, Scenario& sc) {
  Unplug unplug;
  in.expect("line");
  unplug.line = in.number(1, 1 << 30);
  for (std::optional<std::string> word = in.optionalWord(); word; word = in.optionalWord()) {
    if (*word == "after") {
      unplug.bytesSent = in.number(0, 1 << 30);
    } else if (*word == "back") {
      unplug.backAfterMs = in.number(0, kMaxPacingMs);
    } else {
      throw ParseFailure("expected 'after' or 'back', found '" + *word + "'");
    }
  }
  sc.unplugs.push_back(unplug);
}

using Directive = std::function<void(LineReader&, Scenario&)>;

const std::map<std::string, Directive>& directives() {
  static const std::map<std::string, Directive> table = {
      {"serial", [](LineReader& in, Scenario& sc) { sc.serial = in.text(); }},
      {"clock", [](LineReader& in, Scenario& sc) { sc.clock = in.text(); }},
      {"state", [](LineReader& in, Scenario& sc) { sc.state = in.text(); }},
      {"free-memory", [](LineReader& in, Scenario& sc) { sc.freeMemory = in.text(); }},
      {"count", readCount},
      {"clear-reply", [](LineReader& in, Scenario& sc) { sc.clearReply = in.text(); }},
      {"unknown-reply", [](LineReader& in, Scenario& sc) { sc.unknownReply = in.text(); }},
      {"lead-byte", readLeadByte},
      {"line-baud",
       [](LineReader& in, Scenario& sc) {
         sc.lineBaud = static_cast<unsigned>(in.number(1, 4000000));
         in.expectEnd();
       }},
      {"record", readRecord},
      {"generate", readGenerate},
      {"irda", readIrda},
      {"silence", readSilence},
      {"behind-adapter",
       [](LineReader& in, Scenario& sc) {
         in.expectEnd();
         sc.behindAdapter = true;
       }},
      {"reply",
       [](LineReader& in, Scenario& sc) {
         std::string pattern = in.word();
         sc.fixedReplies.push_back(FixedReply{pattern, in.text()});
       }},
      {"delay", [](LineReader& in, Scenario& sc) { sc.delays.push_back(readPacing(in)); }},
      {"trickle", [](LineReader& in, Scenario& sc) { sc.trickles.push_back(readPacing(in)); }},
      {"corrupt", readCorrupt},
      {"ack-prefix", readAckPrefix},
      {"ack-over", readAckOver},
      {"full-after",
       [](LineReader& in, Scenario& sc) {
         sc.fullAfter = in.number(0, 1 << 30);
         in.expectEnd();
       }},
      {"load-silent",
       [](LineReader& in, Scenario& sc) {
         in.expectEnd();
         sc.loadSilent = true;
       }},
      {"ack-delay",
       [](LineReader& in, Scenario& sc) {
         sc.ackDelayMs = in.number(0, kMaxPacingMs);
         in.expectEnd();
       }},
      {"noise", readNoise},
      {"busy",
       [](LineReader& in, Scenario& sc) {
         sc.busyMs = in.number(0, kMaxPacingMs);
         in.expectEnd();
       }},
      {"unplug", readUnplug},
      {"stop-after",
       [](LineReader& in, Scenario& sc) {
         sc.stopAfterCommands = in.number(1, 1 << 30);
         in.expectEnd();
       }},
      {"stop-idle",
       [](LineReader& in, Scenario& sc) {
         sc.stopIdleMs = in.number(1, 1 << 30);
         in.expectEnd();
       }},
  };
  return table;
}

bool isCommentOrBlank(const std::string& line) {
  std::size_t first = line.find_first_not_of(" \t");
  return first == std::string::npos || line[first] == '#';
}

void readDirective(const std::string& line, Scenario& sc) {
  LineReader in(line);
  std::string keyword = in.word();
  auto found = directives().find(keyword);
  if (found == directives().end()) throw ParseFailure("unknown directive '" + keyword + "'");
  found->second(in, sc);
}

}  // namespace

bool RecordSelector::matches(Store s, int n, int r) const {
  return s == store && (!number || *number == n) && (!record || *record == r);
}

bool patternMatches(const std::string& pattern, const Bytes& line) {
  if (pattern == "*") return true;
  if (pattern.size() == kPrefixPatternLength) return line.compare(0, pattern.size(), pattern) == 0;
  return line == pattern;
}

ScenarioParse parseScenario(std::istream& in) {
  Scenario sc;
  std::string line;
  int lineNumber = 0;
  while (std::getline(in, line)) {
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (isCommentOrBlank(line)) continue;
    try {
      readDirective(line, sc);
    } catch (const ParseFailure& failure) {
      return ScenarioParse{std::nullopt, "line " + std::to_string(lineNumber) + ": " + failure.what()};
    }
  }
  return ScenarioParse{sc, {}};
}

Bytes generatedRecord(Store store, int number, int index) {
  constexpr long kCodeSpan = 10000000;
  constexpr long kCodeStep = 7919;
  constexpr int kQuantityStep = 37;
  constexpr int kQuantitySpan = 100;
  int ordinal = index + 1;
  long code = (static_cast<long>(ordinal) * kCodeStep + number) % kCodeSpan;
  int quantity = (index * kQuantityStep + number) % kQuantitySpan + 1;
  char text[96];
  std::snprintf(text, sizeof text, "%s%d,%d,46000%07ld,%d", store == Store::Document ? "DOC" : "DB",
                number, ordinal, code, quantity);
  return text;
}

}  // namespace quillsim
