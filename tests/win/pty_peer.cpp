// A small far end for serial-line tests: it owns a pseudo-terminal, prints
// the path of its slave side on the first line of its output, and answers
// command lines (ending with CR) that the program under test writes to the
// slave:
//   "BAUD"      replies with the line's baud rate as the slave set it, then CR
//   "ECHO text" replies with text, then CR
//   "SEND n"    sends n bytes 0, 1, 2, ... (modulo 256), n at most 4096
//   "LATER ms text"  replies with text, then CR, after ms milliseconds
//   "UNPLUG"    closes its pseudo-terminal and ends, like an adapter pulled out
// Anything else is ignored; nothing is sent unasked. The peer holds the slave
// side open itself for as long as it runs, and ends on SIGTERM or SIGINT, on
// "UNPLUG", or after a time limit (seconds, the optional first argument; 120
// by default).
//   pty-peer [SECONDS]
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr char kLineEnd = '\r';
constexpr size_t kMaxSend = 4096;
constexpr size_t kMaxLine = 1024;
constexpr int kDefaultLifetimeSeconds = 120;
constexpr int kPollMs = 100;

using Clock = std::chrono::steady_clock;

volatile sig_atomic_t stopRequested = 0;

struct DelayedReply {
    Clock::time_point due;
    std::string text;
};

void RequestStop(int) { stopRequested = 1; }

struct BaudName {
    speed_t code;
    unsigned long baud;
};

constexpr BaudName kBauds[] = {
    {B50, 50},         {B75, 75},         {B110, 110},       {B134, 134},
    {B150, 150},       {B200, 200},       {B300, 300},       {B600, 600},
    {B1200, 1200},     {B1800, 1800},     {B2400, 2400},     {B4800, 4800},
    {B9600, 9600},     {B19200, 19200},   {B38400, 38400},   {B57600, 57600},
    {B115200, 115200}, {B230400, 230400}, {B460800, 460800}, {B921600, 921600},
};

unsigned long BaudOf(speed_t code) {
    for (const auto& entry : kBauds)
        if (entry.code == code) return entry.baud;
    return 0;
}

bool WriteAll(int fd, const void* data, size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t written = write(fd, bytes, size);
        if (written < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return false;
        }
        bytes += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

void ReplyLine(int master, const std::string& text) {
    const std::string line = text + kLineEnd;
    WriteAll(master, line.data(), line.size());
}

void SendCounting(int master, size_t count) {
    std::vector<unsigned char> bytes(count);
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<unsigned char>(i);
    WriteAll(master, bytes.data(), bytes.size());
}

bool StartsWith(const std::string& line, const char* word) {
    return line.compare(0, std::strlen(word), word) == 0;
}

void Answer(int master, const std::string& line, std::vector<DelayedReply>& delayed) {
    std::fprintf(stderr, "pty-peer: command '%s'\n", line.c_str());
    if (line == "BAUD") {
        termios settings{};
        tcgetattr(master, &settings);
        ReplyLine(master, std::to_string(BaudOf(cfgetospeed(&settings))));
    } else if (StartsWith(line, "ECHO ")) {
        ReplyLine(master, line.substr(5));
    } else if (StartsWith(line, "SEND ")) {
        const unsigned long count = std::strtoul(line.c_str() + 5, nullptr, 10);
        if (count <= kMaxSend) SendCounting(master, count);
    } else if (line == "UNPLUG") {
        stopRequested = 1;
    } else if (StartsWith(line, "LATER ")) {
        char* rest = nullptr;
        const unsigned long delayMs = std::strtoul(line.c_str() + 6, &rest, 10);
        if (*rest == ' ') ++rest;
        delayed.push_back({Clock::now() + std::chrono::milliseconds(delayMs), rest});
    }
}

void SendDueReplies(int master, std::vector<DelayedReply>& delayed) {
    const auto now = Clock::now();
    for (auto it = delayed.begin(); it != delayed.end();) {
        if (it->due <= now) {
            ReplyLine(master, it->text);
            it = delayed.erase(it);
        } else {
            ++it;
        }
    }
}

int PollTimeoutMs(const std::vector<DelayedReply>& delayed) {
    int timeout = kPollMs;
    const auto now = Clock::now();
    for (const auto& reply : delayed) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(reply.due - now).count();
        timeout = std::min<int>(timeout, std::max<long long>(left, 0));
    }
    return timeout;
}

}  // namespace

int main(int argc, char** argv) {
    const int lifetimeSeconds = argc > 1 ? std::atoi(argv[1]) : kDefaultLifetimeSeconds;
    signal(SIGTERM, RequestStop);
    signal(SIGINT, RequestStop);
    signal(SIGPIPE, SIG_IGN);

    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::perror("pty-peer: pseudo-terminal");
        return 1;
    }
    const char* slavePath = ptsname(master);
    const int slave = slavePath ? open(slavePath, O_RDWR | O_NOCTTY) : -1;
    if (slave < 0) {
        std::perror("pty-peer: slave");
        return 1;
    }
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);

    std::printf("%s\n", slavePath);
    std::fflush(stdout);

    const auto deadline = Clock::now() + std::chrono::seconds(lifetimeSeconds);
    std::string line;
    std::vector<DelayedReply> delayed;
    while (!stopRequested && Clock::now() < deadline) {
        SendDueReplies(master, delayed);
        pollfd input{master, POLLIN, 0};
        if (poll(&input, 1, PollTimeoutMs(delayed)) <= 0) continue;
        if (!(input.revents & POLLIN)) {
            usleep(kPollMs * 1000);  // a hang-up reported without data: don't spin
            continue;
        }
        char chunk[256];
        const ssize_t got = read(master, chunk, sizeof chunk);
        if (got <= 0) continue;
        for (ssize_t i = 0; i < got && !stopRequested; ++i) {
            if (chunk[i] == kLineEnd) {
                Answer(master, line, delayed);
                line.clear();
            } else if (line.size() < kMaxLine) {
                line += chunk[i];
            }
        }
    }
    close(slave);
    close(master);
    return 0;
}
