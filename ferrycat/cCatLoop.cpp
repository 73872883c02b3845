#include "ferrycat/cCatLoop.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cinttypes>
#include <cstring>

#include "ferrycat/cCat.h"

namespace {

double monotonicNow() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

// SIGINT and SIGTERM arrive through a pipe the loop polls, so they end the run between two steps,
// never inside one. A self-pipe works the same natively and under qemu-user's signal emulation
// (the ARM builds' tests). SA_RESTART: a write to standard output in progress is not cut short;
// poll returns at once all the same.
int gSignalPipe[2] = {-1, -1};

void onSignal(int) {
  int saved = errno;
  char byte = 1;
  if (write(gSignalPipe[1], &byte, 1) < 0) {
    // full: one byte is enough to end the run
  }
  errno = saved;
}

int signalDescriptor() {
  if (gSignalPipe[0] < 0 && pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return -1;
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  return gSignalPipe[0];
}

const size_t kReadSize = 65536;

}  // namespace

cCatLoop::cCatLoop(const cCatOptions& options)
    : mOptions(options),
      mEnd(nullptr),
      mPrinter(options.format, stdout),
      mInputDone(!options.files.empty()),
      mRefused(0),
      mReceived(0),
      mNextId(0),
      mLastTraffic(0),
      mOutputFailed(false),
      mOutputErrno(0),
      mInput(new cMsgInput(options.whole, options.hex, "standard input")) {
  if (fcntl(STDIN_FILENO, F_GETFD) < 0) mInputDone = true;  // started without standard input
}

void cCatLoop::sayErrors(std::vector<std::string>* errors) {
  for (const std::string& e : *errors) cCat::fail("%s", e.c_str());
  mRefused += errors->size();
  errors->clear();
}

bool cCatLoop::loadFiles() {
  std::vector<std::string> errors;
  for (const std::string& path : mOptions.files) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      errors.push_back(path + ": " + strerror(errno));
      continue;
    }
    cMsgInput input(true, mOptions.hex, path);
    std::vector<std::vector<uint8_t>> messages;
    uint8_t buffer[kReadSize];
    ssize_t n;
    while (!input.refusedWhole() && (n = read(fd, buffer, sizeof buffer)) != 0) {
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        errors.push_back(path + ": " + strerror(errno));
        break;
      }
      input.feed(buffer, static_cast<size_t>(n), &messages, &errors);
    }
    close(fd);
    input.finish(&messages, &errors);
    for (std::vector<uint8_t>& m : messages) mQueue.push_back(std::move(m));
  }
  if (errors.empty()) return true;
  sayErrors(&errors);
  mQueue.clear();  // nothing goes out when one of them cannot
  return false;
}

void cCatLoop::readInput() {
  uint8_t buffer[kReadSize];
  ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
  std::vector<std::vector<uint8_t>> messages;
  std::vector<std::string> errors;
  if (n < 0) errors.push_back(std::string("standard input: ") + strerror(errno));
  if (n <= 0) {
    mInputDone = true;
    mInput->finish(&messages, &errors);
  } else {
    mInput->feed(buffer, static_cast<size_t>(n), &messages, &errors);
    if (mInput->refusedWhole()) mInputDone = true;
  }
  for (std::vector<uint8_t>& m : messages) mQueue.push_back(std::move(m));
  sayErrors(&errors);
}

void cCatLoop::sendQueued(int* retryMs) {
  *retryMs = -1;
  while (!mQueue.empty()) {
    int wait = mEnd->readyIn();
    if (wait != 0) {
      *retryMs = wait;
      return;
    }
    std::string why;
    const std::vector<uint8_t>& m = mQueue.front();
    if (mEnd->send(mNextId, m, &why)) {
      cStats::add(mEnd->sent(), cStats::kMessages);
      cStats::add(mEnd->sent(), cStats::kBytes, m.size());
    } else {
      cStats::add(mEnd->sent(), cStats::kFailedWrites);
      cCat::fail("message of %zu bytes not sent: %s", m.size(), why.c_str());
    }
    mNextId = (mNextId + 1) & 0x7F;
    mQueue.pop_front();
    mLastTraffic = monotonicNow();
  }
}

bool cCatLoop::onMessage(const uint8_t* data, size_t length, int id) {
  cStats::add(mEnd->received(), cStats::kMessages);
  cStats::add(mEnd->received(), cStats::kBytes, length);
  ++mReceived;
  mLastTraffic = monotonicNow();
  if (mOutputFailed) return false;
  if (!mPrinter.print(data, length, id)) {
    mOutputFailed = true;
    mOutputErrno = errno;
  }
  return !mOutputFailed;
}

bool cCatLoop::finished() const {
  return mOptions.count >= 0 && mReceived >= static_cast<unsigned long>(mOptions.count) &&
         mInputDone && mQueue.empty() && mEnd->drained();
}

std::string cCatLoop::summary(const cCatEnd& end, unsigned long refused) {
  std::string out = "sent";
  char field[64];
  for (cStats::Counter c : {cStats::kMessages, cStats::kBytes, cStats::kFailedWrites}) {
    snprintf(field, sizeof field, " %s=%" PRIu64, cStats::name(c), cStats::get(end.sent(), c));
    out += field;
  }
  out += " refused=" + std::to_string(refused) + "; received";
  std::vector<cStats::Counter> counters = {cStats::kMessages, cStats::kBytes};
  for (cStats::Counter c : end.dropCounters()) counters.push_back(c);
  for (cStats::Counter c : counters) {
    snprintf(field, sizeof field, " %s=%" PRIu64, cStats::name(c), cStats::get(end.received(), c));
    out += field;
  }
  return out;
}

int cCatLoop::run(cCatEnd* end) {
  mEnd = end;
  int signals = signalDescriptor();
  bool interrupted = false;
  std::string failure;
  mLastTraffic = monotonicNow();
  cCatEnd::cSink sink = [this](const uint8_t* d, size_t n, int id) { onMessage(d, n, id); };
  while (failure.empty() && !mOutputFailed) {
    int retryMs;
    sendQueued(&retryMs);
    if (finished()) break;
    pollfd fds[3] = {{signals, POLLIN, 0},
                     {mEnd->fd(), static_cast<short>(POLLIN | mEnd->events()), 0},
                     {STDIN_FILENO, POLLIN, 0}};
    bool reading = !mInputDone && mQueue.empty();
    int timeoutMs = retryMs;
    if (mOptions.timeout > 0) {
      double left = mLastTraffic + mOptions.timeout - monotonicNow();
      if (left <= 0) break;
      int leftMs = static_cast<int>(left * 1000) + 1;
      if (timeoutMs < 0 || leftMs < timeoutMs) timeoutMs = leftMs;
    }
    int rc = poll(fds, reading ? 3 : 2, timeoutMs);
    if (rc < 0 && errno != EINTR) {
      failure = std::string("poll: ") + strerror(errno);
      break;
    }
    if (rc <= 0) continue;
    if (fds[0].revents & POLLIN) {
      interrupted = true;
      break;
    }
    if ((fds[1].revents & POLLOUT) && !mEnd->onWritable(&failure)) break;
    if ((fds[1].revents & (POLLIN | POLLERR | POLLHUP)) && !mEnd->onReadable(sink, &failure)) break;
    if (reading && (fds[2].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL))) readInput();
  }

  int status = cCat::kOk;
  if (mOutputFailed) {
    if (mOutputErrno == EPIPE) return cCat::kOk;  // the reader went away: end quietly
    status = cCat::fail("standard output: %s", strerror(mOutputErrno));
  } else if (!failure.empty()) {
    status = cCat::fail("%s", failure.c_str());
  } else if (!interrupted && !finished()) {  // the time-out passed
    size_t waiting = mQueue.size();
    if (waiting > 0) {
      std::string why = mEnd->stuck();
      status = cCat::fail("time-out: %zu message%s not sent%s%s", waiting, waiting == 1 ? "" : "s",
                          why.empty() ? "" : ": ", why.c_str());
    } else if (mOptions.count >= 0 && mReceived < static_cast<unsigned long>(mOptions.count)) {
      status = cCat::fail("time-out: %lu of %ld messages received", mReceived, mOptions.count);
    }
  }
  if (mRefused > 0) status = cCat::kFailure;
  if (!mOptions.quiet) fprintf(stderr, "ferrycat: %s\n", summary(*mEnd, mRefused).c_str());
  return status;
}
