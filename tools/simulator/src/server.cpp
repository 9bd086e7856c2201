#include "server.h"

#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

namespace quillsim {
namespace {

constexpr std::size_t kReadChunk = 4096;
constexpr int kForever = -1;
constexpr std::uint64_t kLastReplyGraceMs = 1000;
constexpr std::uint64_t kDrainPollMs = 10;
constexpr std::uint64_t kSlaveArrivalMs = 50;
constexpr std::uint64_t kBehindTimeNoteMs = 5;

sigset_t handledSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGUSR1);
  return set;
}

bool writeFileAtomically(const std::string& path, const std::string& content) {
  std::string temporary = path + ".tmp";
  std::FILE* file = std::fopen(temporary.c_str(), "w");
  if (!file) return false;
  bool written = std::fwrite(content.data(), 1, content.size(), file) == content.size();
  written = std::fclose(file) == 0 && written;
  return written && std::rename(temporary.c_str(), path.c_str()) == 0;
}

// The policy this process runs under, as the log states it: a simulator that
// lost the processor to other work answers late (see noteBehindTime).
std::string schedulingPolicy() {
  const int policy = ::sched_getscheduler(0);
  sched_param parameters{};
  ::sched_getparam(0, &parameters);
  if (policy == SCHED_FIFO || policy == SCHED_RR) {
    return std::string(policy == SCHED_FIFO ? "first-in first-out" : "round-robin") + " real-time, priority " +
           std::to_string(parameters.sched_priority);
  }
  errno = 0;
  const int niceness = ::getpriority(PRIO_PROCESS, 0);
  return "normal, nice " + std::to_string(errno == 0 ? niceness : 0);
}

// How the log names the reply a chunk belongs to.
std::string replyName(const Chunk& chunk) {
  return chunk.line > 0 ? "reply to line " + std::to_string(chunk.line) : std::string("adapter's answer");
}

}  // namespace

Server::Server(Scenario scenario, ServerOptions options)
    : terminal_(scenario),
      options_(std::move(options)),
      stopIdleMs_(scenario.stopIdleMs),
      busyMs_(static_cast<std::uint64_t>(scenario.busyMs)),
      noise_(scenario.noise.value_or(Noise{})),
      modem_(options_.modemLogPath),
      log_(options_.logPath),
      unplugs_(scenario.unplugs) {}

int Server::run() {
  if (!start()) return 1;
  sigset_t signals = handledSignals();
  UniqueFd signalFd(::signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK));
  if (!signalFd.valid()) {
    std::fprintf(stderr, "quill-terminal-sim: signalfd: %s\n", std::strerror(errno));
    return 1;
  }
  lastReceivedMs_ = monotonicMs();
  int status = 0;
  for (;;) {
    pollfd fds[2] = {{port_.master(), static_cast<short>(POLLIN | (waitingToWrite_ ? POLLOUT : 0)), 0},
                     {signalFd.get(), POLLIN, 0}};
    if (::poll(fds, 2, pollTimeoutMs()) < 0 && errno != EINTR) {
      status = 1;
      break;
    }
    if ((fds[1].revents & POLLIN) && !handleSignals(signalFd.get())) break;
    if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) && !receiveAvailable()) {
      status = 1;
      break;
    }
    if (fds[0].revents & POLLOUT) waitingToWrite_ = false;
    sendDue();
    if (unplugDueAt_ && cutReplyTaken()) unplug(*unplugDueAt_);
    if (plugBackAtMs_ && monotonicMs() >= *plugBackAtMs_ && !plugBack()) {
      status = 1;
      break;
    }
    const char* reason = stopReason();
    if (!reason) {
      finishedSinceMs_ = 0;
    } else if (lastReplyTaken()) {
      log_.event(std::string("stop: ") + reason, snapshot());
      break;
    }
  }
  logUnsent();
  writeDump();
  removeLink();
  return status;
}

bool Server::start() {
  sigset_t signals = handledSignals();
  ::sigprocmask(SIG_BLOCK, &signals, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
  if (log_.failed()) {
    std::fprintf(stderr, "quill-terminal-sim: cannot open log %s\n", options_.logPath.c_str());
    return false;
  }
  std::string error;
  port_ = PtyPort::open(error);
  if (!port_.isOpen()) {
    std::fprintf(stderr, "quill-terminal-sim: %s\n", error.c_str());
    return false;
  }
  if (!options_.linkPath.empty() && !makeLink()) return false;
  followOwnPty();
  log_.event("start: slave " + port_.slavePath(), snapshot());
  log_.event("scheduling: " + schedulingPolicy(), snapshot());
  std::printf("%s\n", port_.slavePath().c_str());
  std::fflush(stdout);
  return true;
}

// "/dev/pts/N": only the modem lines of this pty concern this terminal.
void Server::followOwnPty() {
  const std::string& slave = port_.slavePath();
  const std::size_t number = slave.find_last_not_of("0123456789");
  if (number != std::string::npos && number + 1 < slave.size())
    modem_.followPty(static_cast<unsigned>(std::stoul(slave.substr(number + 1))));
  modem_.refresh();
}

bool Server::makeLink() {
  std::string temporary = options_.linkPath + ".quill-sim-new";
  ::unlink(temporary.c_str());
  if (::symlink(port_.slavePath().c_str(), temporary.c_str()) != 0 ||
      ::rename(temporary.c_str(), options_.linkPath.c_str()) != 0) {
    std::fprintf(stderr, "quill-terminal-sim: cannot link %s: %s\n", options_.linkPath.c_str(),
                 std::strerror(errno));
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

// Removes the link only while it still leads to this simulator's slave.
void Server::removeLink() {
  if (options_.linkPath.empty()) return;
  char target[PATH_MAX];
  ssize_t length = ::readlink(options_.linkPath.c_str(), target, sizeof target - 1);
  if (length < 0) return;
  target[length] = '\0';
  if (port_.slavePath() == target) ::unlink(options_.linkPath.c_str());
}

// False when the simulator is to stop.
bool Server::handleSignals(int signalFd) {
  signalfd_siginfo info{};
  while (::read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
    if (info.ssi_signo == SIGUSR1) {
      writeDump();
      continue;
    }
    log_.event(std::string("stop: signal ") + strsignal(static_cast<int>(info.ssi_signo)), snapshot());
    return false;
  }
  return true;
}

// False on a failure of the pty.
bool Server::receiveAvailable() {
  char buffer[kReadChunk];
  for (;;) {
    ssize_t got = ::read(port_.master(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    if (got <= 0) {
      log_.event(std::string("pty failed: ") + (got == 0 ? "end of file" : std::strerror(errno)), snapshot());
      return false;
    }
    std::uint64_t now = monotonicMs();
    lastReceivedMs_ = now;
    modem_.refresh();
    LineSnapshot line = snapshot();
    Arrival arrival{Bytes(buffer, static_cast<std::size_t>(got)), {}, now < busyUntilMs_};
    std::vector<Flip> flips = noise_.apply(Direction::Received, arrival.bytes);
    logFlips(flips, "RX", {});
    if (!flips.empty()) arrival.flipped.resize(arrival.bytes.size());
    for (const Flip& flip : flips) arrival.flipped[flip.index] = true;
    log_.received(arrival.bytes, line);
    Reaction reaction = terminal_.receive(arrival, LineState{line.baud, line.rts, line.dtr});
    for (const std::string& event : reaction.events) log_.event(event, line);
    schedule(reaction.output, now);
  }
}

void Server::schedule(const std::vector<Chunk>& chunks, std::uint64_t arrivedMs) {
  for (const Chunk& chunk : chunks) {
    Scheduled next{chunk, arrivedMs, std::nullopt};
    if (chunk.pace == Pace::FromArrival) next.dueMs = arrivedMs + static_cast<std::uint64_t>(chunk.delayMs);
    outgoing_.push_back(next);
  }
  armFront();
}

// A reply's first chunk is due a fixed time after what it answers arrived, so
// replies queued behind a late one keep their own times (and their order).
// The rest of a reply runs from the time the chunk before it was due to go
// out, not from when it did: every time is a deadline on the clock, so a
// moment the simulator lost to a busy computer delays one chunk and not all
// that follow it (a real terminal's timer does not slow down either). A
// reply that waited behind a later one starts its own times when that one
// was due to end, so its trickled bytes are not bunched together.
void Server::armFront() {
  if (!outgoing_.empty() && !outgoing_.front().dueMs) {
    outgoing_.front().dueMs = plannedMs_ + static_cast<std::uint64_t>(outgoing_.front().chunk.delayMs);
  }
}

void Server::sendDue() {
  while (!unplugDueAt_ && !waitingToWrite_ && !outgoing_.empty() && *outgoing_.front().dueMs <= monotonicMs()) {
    Scheduled& next = outgoing_.front();
    if (!next.onWire) putOnWire(next);
    Bytes& bytes = next.chunk.bytes;
    const std::size_t allowed = bytesBeforeUnplug(next.chunk);
    if (allowed == 0) {
      unplugDue(next.chunk.line);
      return;
    }
    ssize_t written = ::write(port_.master(), bytes.data(), std::min(bytes.size(), allowed));
    if (written < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) waitingToWrite_ = true;
      if (errno != EINTR && !waitingToWrite_) {
        log_.event(std::string("write failed: ") + std::strerror(errno), snapshot());
        finishChunk();
      }
      continue;
    }
    lastSentMs_ = monotonicMs();
    log_.sent(bytes.substr(0, static_cast<std::size_t>(written)), snapshot());
    countSent(next.chunk, static_cast<std::size_t>(written));
    bytes.erase(0, static_cast<std::size_t>(written));
    if (bytes.empty()) finishChunk();
  }
}

// How many bytes of a chunk may go out before the cable is pulled: all of
// them, unless the reply it belongs to is the one cut.
std::size_t Server::bytesBeforeUnplug(const Chunk& chunk) const {
  for (const Unplug& cut : unplugs_) {
    if (cut.line != chunk.line) continue;
    const auto sent = sentOfCutReply_.find(chunk.line);
    const std::size_t already = sent == sentOfCutReply_.end() ? 0 : sent->second;
    const std::size_t left = static_cast<std::size_t>(cut.bytesSent);
    return already >= left ? 0 : std::min(chunk.bytes.size(), left - already);
  }
  return chunk.bytes.size();
}

void Server::countSent(const Chunk& chunk, std::size_t count) {
  for (const Unplug& cut : unplugs_)
    if (cut.line == chunk.line) sentOfCutReply_[chunk.line] += count;
}

// The cable is pulled once the bytes on their way have arrived (closing the
// master would discard what the slave has not read): nothing more goes out
// meanwhile.
void Server::unplugDue(int line) {
  unplugDueAt_ = line;
  unplugDueSinceMs_ = monotonicMs();
}

bool Server::cutReplyTaken() const {
  const std::uint64_t now = monotonicMs();
  if (now >= unplugDueSinceMs_ + kLastReplyGraceMs) return true;
  return now >= lastSentMs_ + kSlaveArrivalMs && port_.unreadBySlave() == 0;
}

// The pty closes with what is still to go out; its link goes with it (the
// port is missing until it comes back).
void Server::unplug(int line) {
  unplugDueAt_.reset();
  std::optional<int> backAfterMs;
  for (auto cut = unplugs_.begin(); cut != unplugs_.end(); ++cut) {
    if (cut->line != line) continue;
    backAfterMs = cut->backAfterMs;
    unplugs_.erase(cut);
    break;
  }
  const std::size_t sent = sentOfCutReply_[line];
  std::string note = "unplugged: slave " + port_.slavePath() + " closed after " + std::to_string(sent) +
                     " bytes of the reply to line " + std::to_string(line);
  note += backAfterMs ? ", back in " + std::to_string(*backAfterMs) + " ms" : ", for good";
  log_.event(note, snapshot());
  for (const Scheduled& left : outgoing_)
    log_.event("lost at unplug: " + replyName(left.chunk) + " \"" + escape(left.chunk.bytes) + "\"", snapshot());
  outgoing_.clear();
  waitingToWrite_ = false;
  removeLink();
  unpluggedSlaves_.push_back(port_.unplug());
  if (backAfterMs) plugBackAtMs_ = monotonicMs() + static_cast<std::uint64_t>(*backAfterMs);
}

// A new pty in the old one's place, under the same link; the terminal keeps
// all it had (its place in each store, the record a NAK sends again).
bool Server::plugBack() {
  plugBackAtMs_.reset();
  std::string error;
  port_ = PtyPort::open(error);
  if (!port_.isOpen()) {
    log_.event("plugging back failed: " + error, snapshot());
    return false;
  }
  if (!options_.linkPath.empty() && !makeLink()) return false;
  followOwnPty();
  log_.event("plugged back: slave " + port_.slavePath(), snapshot());
  return true;
}

// The noise strikes once, as the terminal's bytes leave it; the log shows
// each change before the bytes that went out.
void Server::putOnWire(Scheduled& next) {
  next.onWire = true;
  plannedMs_ = std::max(*next.dueMs, plannedMs_);
  noteBehindTime(next);
  noteLateReply(next);
  logFlips(noise_.apply(Direction::Sent, next.chunk.bytes), "TX", ", " + replyName(next.chunk));
}

// The simulator's own lateness, so that a log read after a failure says
// whether the terminal kept the times its scenario gave it.
void Server::noteBehindTime(const Scheduled& next) {
  const std::uint64_t now = monotonicMs();
  if (now < plannedMs_ + kBehindTimeNoteMs) return;
  log_.event("behind time: " + replyName(next.chunk) + " goes out " + std::to_string(now - plannedMs_) +
                 " ms after its time",
             snapshot());
}

void Server::noteLateReply(const Scheduled& next) {
  const Chunk& chunk = next.chunk;
  if (chunk.pace != Pace::FromArrival || chunk.delayMs == 0 || chunk.line == 0) return;
  std::string note = replyName(chunk) + " goes out " + std::to_string(monotonicMs() - next.arrivedMs) +
                     " ms after it (delay " + std::to_string(chunk.delayMs) + " ms)";
  int latest = terminal_.linesSeen();
  if (latest > chunk.line) note += ", after line " + std::to_string(latest) + " arrived";
  log_.event(note, snapshot());
}

// A reply is over when its last chunk is out; then the terminal is busy for a
// while (the adapter's answers leave it alone).
void Server::finishChunk() {
  int line = outgoing_.front().chunk.line;
  outgoing_.pop_front();
  bool replyOver = outgoing_.empty() || outgoing_.front().chunk.pace == Pace::FromArrival;
  if (replyOver && line > 0 && busyMs_ > 0) busyUntilMs_ = monotonicMs() + busyMs_;
  // A reply shorter than the bytes it was to be cut after is out whole.
  if (replyOver && sentOfCutReply_.count(line) > 0 &&
      std::any_of(unplugs_.begin(), unplugs_.end(), [line](const Unplug& cut) { return cut.line == line; }))
    unplugDue(line);
  armFront();
}

void Server::logFlips(const std::vector<Flip>& flips, const char* direction, const std::string& where) {
  for (const Flip& flip : flips) {
    log_.event(std::string("noise ") + direction + " " + hexByte(flip.before) + "->" + hexByte(flip.after) +
                   " at byte " + std::to_string(flip.offset) + where,
               snapshot());
  }
}

// What a stop leaves behind is worth knowing when reading a log.
void Server::logUnsent() {
  for (const Scheduled& left : outgoing_) {
    log_.event("not sent at stop: " + replyName(left.chunk) + " \"" + escape(left.chunk.bytes) + "\"", snapshot());
  }
}

// Closing the master discards what the slave has not read yet, so a stop
// waits a little for the other side to take the last reply.
// Written bytes reach the slave's queue a moment later, so the queue is only
// trusted to be empty once they have had time to arrive.
bool Server::lastReplyTaken() {
  std::uint64_t now = monotonicMs();
  if (finishedSinceMs_ == 0) finishedSinceMs_ = now;
  if (now >= finishedSinceMs_ + kLastReplyGraceMs) return true;
  return now >= lastSentMs_ + kSlaveArrivalMs && port_.unreadBySlave() == 0;
}

int Server::pollTimeoutMs() const {
  std::uint64_t now = monotonicMs();
  if (stopReason() || unplugDueAt_) return static_cast<int>(kDrainPollMs);
  std::uint64_t wake = UINT64_MAX;
  if (!outgoing_.empty() && !waitingToWrite_) wake = *outgoing_.front().dueMs;
  if (stopIdleMs_ && outgoing_.empty()) wake = std::min(wake, lastReceivedMs_ + static_cast<std::uint64_t>(*stopIdleMs_));
  if (plugBackAtMs_) wake = std::min(wake, *plugBackAtMs_);
  if (wake == UINT64_MAX) return kForever;
  if (wake <= now) return 0;
  return static_cast<int>(std::min<std::uint64_t>(wake - now, INT_MAX));
}

// Why the simulator is to stop once the other side has read its last reply;
// null while it is to go on. It never stops with replies still to send.
const char* Server::stopReason() const {
  if (!outgoing_.empty()) return nullptr;
  if (terminal_.finished()) return "command limit reached";
  if (stopIdleMs_ && monotonicMs() >= lastReceivedMs_ + static_cast<std::uint64_t>(*stopIdleMs_)) return "idle";
  return nullptr;
}

void Server::writeDump() {
  if (options_.dumpPath.empty()) return;
  bool ok = writeFileAtomically(options_.dumpPath, terminal_.dump());
  log_.event((ok ? "dump written to " : "dump failed: ") + options_.dumpPath, snapshot());
}

LineSnapshot Server::snapshot() const {
  ModemState modem = modem_.current();
  return LineSnapshot{port_.baud(), modem.rts, modem.dtr};
}

}  // namespace quillsim
