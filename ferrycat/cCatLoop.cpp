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
// (the ARM builds' tests). No step blocks (files, standard input and output are all waited on in
// poll), so SA_RESTART costs nothing and spares every call an EINTR check.
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
      mOutput(STDOUT_FILENO),
      mInputDone(!options.files.empty()),
      mRefused(0),
      mFailedSends(0),
      mReceived(0),
      mNextId(0),
      mLastTraffic(0),
      mInput(new cMsgInput(options.whole, options.hex, "standard input")) {
  if (fcntl(STDIN_FILENO, F_GETFD) < 0) mInputDone = true;  // started without standard input
  mSignals = signalDescriptor();                            // before the end is set up and says so
}

void cCatLoop::sayErrors(std::vector<std::string>* errors) {
  for (const std::string& e : *errors) cCat::fail("%s", e.c_str());
  mRefused += errors->size();
  errors->clear();
}

bool cCatLoop::readFile(const std::string& path, std::vector<std::vector<uint8_t>>* messages,
                        std::vector<std::string>* errors) {
  // Not blocking: a FIFO with no writer yet would hold open() and read(); poll waits for its
  // writer together with the signals.
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    errors->push_back(path + ": " + strerror(errno));
    return true;
  }
  cMsgInput input(true, mOptions.hex, path);
  uint8_t buffer[kReadSize];
  bool interrupted = false;
  while (!input.refusedWhole()) {
    pollfd fds[2] = {{mSignals, POLLIN, 0}, {fd, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 && errno != EINTR) {
      errors->push_back(path + ": poll: " + strerror(errno));
      break;
    }
    interrupted = fds[0].revents & POLLIN;
    if (interrupted) break;
    if (fds[1].revents == 0) continue;
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n < 0) {
      errors->push_back(path + ": " + strerror(errno));
      break;
    }
    input.feed(buffer, static_cast<size_t>(n), messages, errors);
  }
  close(fd);
  if (!interrupted) input.finish(messages, errors);
  return !interrupted;
}

cCatLoop::Load cCatLoop::loadFiles() {
  std::vector<std::string> errors;
  std::vector<std::vector<uint8_t>> messages;
  for (const std::string& path : mOptions.files) {
    if (!readFile(path, &messages, &errors)) return kLoadInterrupted;
  }
  if (!errors.empty()) {
    sayErrors(&errors);  // nothing goes out when one of them cannot
    return kLoadFailed;
  }
  for (std::vector<uint8_t>& m : messages) mQueue.push_back(std::move(m));
  return kLoaded;
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
      ++mFailedSends;
      cCat::fail("message of %zu bytes not sent: %s", m.size(), why.c_str());
    }
    mNextId = (mNextId + 1) & 0x7F;
    mQueue.pop_front();
    mLastTraffic = monotonicNow();
  }
}

void cCatLoop::onMessage(const uint8_t* data, size_t length, int id) {
  cStats::add(mEnd->received(), cStats::kMessages);
  cStats::add(mEnd->received(), cStats::kBytes, length);
  ++mReceived;
  mLastTraffic = monotonicNow();
  mOutput.add(mPrinter.render(data, length, id));
}

bool cCatLoop::finished() const {
  return mOptions.count >= 0 && mReceived >= static_cast<unsigned long>(mOptions.count) &&
         mInputDone && mQueue.empty() && mEnd->drained() && mOutput.empty();
}

// Until the end wants to be asked again or the time-out passes, whichever comes first (-1: until
// something happens).
int cCatLoop::pollTimeout(int retryMs) const {
  if (mOptions.timeout <= 0) return retryMs;
  double left = mLastTraffic + mOptions.timeout - monotonicNow();
  int leftMs = left > 0 ? static_cast<int>(left * 1000) + 1 : 0;
  return retryMs < 0 || leftMs < retryMs ? leftMs : retryMs;
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

// True when SIGINT or SIGTERM ended it; *failure says why when the end or the poll failed. A
// failed output leaves it with mOutput.error() set.
bool cCatLoop::loop(std::string* failure) {
  cCatEnd::cSink sink = [this](const uint8_t* d, size_t n, int id) { onMessage(d, n, id); };
  for (;;) {
    int retryMs;
    sendQueued(&retryMs);
    if (finished()) return false;
    if (mOptions.timeout > 0 && monotonicNow() >= mLastTraffic + mOptions.timeout) return false;
    bool reading = !mInputDone && mQueue.empty();
    // While the reader of standard output lags, the end is not read: it keeps what comes.
    short endEvents = static_cast<short>((mOutput.full() ? 0 : POLLIN) | mEnd->events());
    pollfd fds[4] = {{mSignals, POLLIN, 0},
                     {mEnd->fd(), endEvents, 0},
                     {mOutput.empty() ? -1 : mOutput.fd(), POLLOUT, 0},
                     {reading ? STDIN_FILENO : -1, POLLIN, 0}};
    int rc = poll(fds, 4, pollTimeout(retryMs));
    if (rc < 0 && errno != EINTR) {
      *failure = std::string("poll: ") + strerror(errno);
      return false;
    }
    if (rc <= 0) continue;
    if (fds[0].revents & POLLIN) return true;
    if (fds[2].revents != 0) mLastTraffic = monotonicNow();  // the reader takes what waits
    if ((fds[1].revents & POLLOUT) && !mEnd->onWritable(failure)) return false;
    if ((fds[1].revents & (POLLIN | POLLERR | POLLHUP)) && !mEnd->onReadable(sink, failure))
      return false;
    if (!mOutput.flush()) return false;
    if (fds[3].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) readInput();
  }
}

// What was taken but did not go out or come out is a failure, said in one line each.
int cCatLoop::endStatus(bool interrupted, const std::string& failure) {
  if (mOutput.error() != 0) {
    if (mOutput.error() == EPIPE) return cCat::kOk;  // the reader went away: end quietly
    return cCat::fail("standard output: %s", strerror(mOutput.error()));
  }
  int status = cCat::kOk;
  bool timedOut = failure.empty() && !interrupted && !finished();
  const char* when = timedOut ? "time-out: " : "";
  std::string why = mEnd->stuck();
  if (!failure.empty()) {
    status = cCat::fail("%s", failure.c_str());
  } else if (!mQueue.empty()) {
    size_t n = mQueue.size();
    status = cCat::fail("%s%zu message%s not sent%s%s%s", when, n, n == 1 ? "" : "s",
                        why.empty() ? "" : ": ", why.c_str(),
                        mInputDone ? "" : " (and the rest of the input was not read)");
  } else if (!mEnd->drained()) {
    status = cCat::fail("%s%s", when, why.c_str());
  } else if (timedOut && mOptions.count >= 0 &&
             mReceived < static_cast<unsigned long>(mOptions.count)) {
    status = cCat::fail("time-out: %lu of %ld messages received", mReceived, mOptions.count);
  }
  if (!mOutput.flush() || !mOutput.empty()) {
    size_t n = mOutput.waiting();
    status =
        cCat::fail("standard output: %zu message%s received not written: %s", n, n == 1 ? "" : "s",
                   mOutput.error() ? strerror(mOutput.error()) : "its reader did not read");
  }
  if (mRefused > 0 || mFailedSends > 0) status = cCat::kFailure;
  return status;
}

int cCatLoop::run(cCatEnd* end) {
  mEnd = end;
  mLastTraffic = monotonicNow();
  std::string failure;
  bool interrupted = false;
  Load load = loadFiles();
  if (load == kLoadInterrupted) interrupted = true;
  if (load == kLoaded) interrupted = loop(&failure);
  int status = endStatus(interrupted, failure);
  if (mOutput.error() == EPIPE) return status;
  mEnd->settle();
  if (!mOptions.quiet) fprintf(stderr, "ferrycat: %s\n", summary(*mEnd, mRefused).c_str());
  return status;
}
