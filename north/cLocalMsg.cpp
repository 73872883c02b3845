#include "north/cLocalMsg.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <new>

#include "link/cBTMsg.h"
#include "support/cLoopGuard.h"

namespace {

// Set once by create() after the constructor has returned; read by every thread.
std::atomic<cLocalMsg*> sInstance{nullptr};

}  // namespace

cLocalMsg* cLocalMsg::instance() {
  return sInstance.load(std::memory_order_acquire);
}

void cLocalMsg::create(cProperties* props) {
  if (instance() != nullptr) return;
  cLocalMsg* created = new cLocalMsg(props);
  sInstance.store(created, std::memory_order_release);
}

cLocalMsg::cLocalMsg(cProperties* props)
    : cYlog("cLocalMsg"),
      mProps(props),
      mSocket(-1),
      mConnected(false),
      mPendingMsg(*this, "broker to module", cStats::kSouth),
      mOverflow(0) {
  mSocket = socket(AF_INET, SOCK_DGRAM, 0);
  int one = 1;  // each read carries the count of datagrams dropped for a full buffer
  setsockopt(mSocket, SOL_SOCKET, SO_RXQ_OVFL, &one, sizeof one);
  pthread_t thread;
  int rc = pthread_create(&thread, nullptr, &cLocalMsg::northThreadEntry, this);
  if (rc == 0) {
    pthread_detach(thread);
  } else {
    error("Could not start the north thread err(%d): nothing is read from the broker", rc);
  }
}

void* cLocalMsg::northThreadEntry(void* self) {
  static_cast<cLocalMsg*>(self)->northThread();
  return nullptr;
}

// Resolves and connects once; without a broker address the thread ends and the daemon runs on.
void cLocalMsg::northThread() {
  if (connectBroker()) readLoop();
}

// A port outside 1..65535 would be cut to 16 bits, a port nobody meant: reported, the default
// used.
int cLocalMsg::readPort() const {
  int port = mProps->getInt(kPortKey, kDefaultPort);
  if (port >= 1 && port <= 65535) return port;
  warn("%s: %s = %d is outside 1..65535, using the default %d", mProps->path().c_str(), kPortKey,
       port, kDefaultPort);
  return kDefaultPort;
}

bool cLocalMsg::connectBroker() {
  const char* host = mProps->getString(kHostKey, kDefaultHost);
  hostent* he = gethostbyname2(host, AF_INET);  // only this thread resolves
  if (he == nullptr || he->h_addr_list[0] == nullptr) {
    error("Could lookup address for %s", host);
    return false;
  }
  sockaddr_in addr;
  memset(&addr, 0, sizeof addr);
  addr.sin_family = static_cast<sa_family_t>(he->h_addrtype);
  size_t len = std::min(static_cast<size_t>(he->h_length), sizeof addr.sin_addr);
  memcpy(&addr.sin_addr, he->h_addr_list[0], len);
  int port = readPort();
  addr.sin_port = htons(static_cast<uint16_t>(port));
  if (connect(mSocket, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0) {
    fatal("Could not connect to %s:%d", host, port);
    return false;
  }
  debug("North link connected to %s:%d", host, port);
  mConnected.store(true, std::memory_order_release);
  return true;
}

// One datagram per read. An empty datagram is a unit like any other (and dropped as invalid),
// not a failure. A failed read is retried at once; a further failure in a row waits a second
// first, so a socket that keeps failing cannot spin the thread; its lines are rate-limited.
// Nothing a read leads to (a warning included) may end the thread.
void cLocalMsg::readLoop() {
  unsigned char buffer[kMaxDatagram];
  int failures = 0;
  cLoopGuard guard(*this, "north");
  for (;;) guard.run([&] { readOnce(buffer, sizeof buffer, &failures); });
}

void cLocalMsg::readOnce(unsigned char* buffer, size_t size, int* failures) {
  uint32_t overflow = mOverflow;
  ssize_t n = receive(buffer, size, &overflow);
  int err = errno;
  if (n >= 0) {
    *failures = 0;
    if (overflow != mOverflow) onOverflow(overflow);
    debug("Received %d bytes from server", static_cast<int>(n));
    try {
      onBrokerData(buffer, static_cast<int>(n));
    } catch (const std::bad_alloc&) {
      cStats::add(cStats::kSouth, cStats::kOutOfMemory);
      error("Out of memory: datagram of %d bytes from the broker dropped", static_cast<int>(n));
    }
    return;
  }
  if (err == EINTR) return;
  if (mReadErrors.pass())
    warn("Socket Read Error %d err(%d)%s", static_cast<int>(n), err, mReadErrors.held());
  if (++*failures > 1) sleep(1);
}

ssize_t cLocalMsg::receive(unsigned char* buffer, size_t size, uint32_t* overflow) {
  iovec iov = {buffer, size};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(uint32_t))];
  msghdr msg;
  memset(&msg, 0, sizeof msg);
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  msg.msg_control = control;
  msg.msg_controllen = sizeof control;
  // MSG_TRUNC: a datagram longer than the buffer gives its whole length, so a cut one is known.
  ssize_t n = recvmsg(mSocket, &msg, MSG_TRUNC);
  if (n < 0) return n;
  if ((msg.msg_flags & MSG_TRUNC) != 0 && n <= static_cast<ssize_t>(size))
    n = static_cast<ssize_t>(size) + 1;  // cut, its length untold
  for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL)
      memcpy(overflow, CMSG_DATA(c), sizeof *overflow);
  }
  return n;
}

// Datagrams the broker sent faster than this thread read them were dropped by the kernel: they
// cannot be had back, but they are counted and said.
void cLocalMsg::onOverflow(uint32_t overflow) {
  uint32_t dropped = overflow - mOverflow;  // the kernel's count wraps like this one
  mOverflow = overflow;
  cStats::add(cStats::kSouth, cStats::kOverflow, dropped);
  if (mOverflows.pass())
    warn("%u datagrams from the broker dropped: the socket's receive buffer was full%s", dropped,
         mOverflows.held());
}

// A datagram the read had to cut may still begin with a whole segment: it is refused, never
// relayed cut.
void cLocalMsg::onBrokerData(const unsigned char* data, int length) {
  if (length > kMaxDatagram) {
    mPendingMsg.dropInvalid(length, ": longer than the 1024 bytes a datagram may hold");
    return;
  }
  YMsg* complete = mPendingMsg.onUnit(data, length);
  if (complete != nullptr) cBTMsg::sendSouth(complete);
}

void cLocalMsg::sendNorth(YMsg* msg) {
  if (msg == nullptr) return;
  cLocalMsg* self = instance();
  if (self == nullptr) {
    delete msg;
    return;
  }
  self->relayNorth(msg);
}

// Runs on the modem reader thread; the north thread may be blocked reading the same socket.
// Without memory to cut the message it is dropped.
void cLocalMsg::relayNorth(YMsg* msg) {
  std::unique_ptr<YMsg> owned(msg);
  try {
    sendSegments(msg);
  } catch (const std::bad_alloc&) {
    cStats::add(cStats::kNorth, cStats::kOutOfMemory);
    error("Out of memory: message of %zu bytes to the broker dropped", msg->payload().size());
  }
}

// The message's datagrams go to the kernel kSendBatch at a time (sendmmsg), each gathered from
// its header and its slice of the message's payload, so nothing is copied on the way. The message
// counts as relayed when every datagram was sent.
void cLocalMsg::sendSegments(YMsg* msg) {
  msg->segmentMessage(kMaxDatagram);
  size_t count = msg->segmentCount();
  bool whole = true;
  for (size_t first = 0; first < count; first += kSendBatch)
    whole = sendBatch(msg, first, std::min(count, first + kSendBatch)) && whole;
  if (!whole) return;
  cStats::add(cStats::kNorth, cStats::kMessages);
  cStats::add(cStats::kNorth, cStats::kBytes, msg->payload().size());
}

// Every datagram is tried once, in order; one that fails is dropped and the rest still go. When
// the kernel takes some datagrams of a call and refuses the next, it returns the count and keeps
// the reason to itself: that datagram was not sent and is reported as such.
bool cLocalMsg::sendBatch(const YMsg* msg, size_t first, size_t end) {
  YMsg::cSegmentView views[kSendBatch];
  iovec iov[2 * kSendBatch];
  mmsghdr datagrams[kSendBatch];
  memset(datagrams, 0, sizeof datagrams);
  size_t n = end - first;
  for (size_t i = 0; i < n; ++i) {
    msg->viewSegment(first + i, &views[i]);
    iov[2 * i] = {views[i].header, YMsg::kHeaderSize};
    iov[2 * i + 1] = {const_cast<uint8_t*>(views[i].payload), views[i].length};
    datagrams[i].msg_hdr.msg_iov = &iov[2 * i];
    datagrams[i].msg_hdr.msg_iovlen = views[i].length > 0 ? 2 : 1;
  }
  bool whole = true;
  size_t at = 0;
  while (at < n) {
    // Until the north thread has connected the socket, a send would fail (and race the connect).
    bool connected = mConnected.load(std::memory_order_acquire);
    int r = connected ? sendmmsg(mSocket, datagrams + at, static_cast<unsigned>(n - at), 0) : -1;
    int err = connected ? errno : ENOTCONN;
    if (r >= 0) {
      for (size_t i = at; i < at + static_cast<size_t>(r); ++i)
        debug("North sent %d bytes", static_cast<int>(datagrams[i].msg_len));
      at += static_cast<size_t>(r);
      if (at == n) break;
      err = 0;  // a short count: the next datagram was refused, reason untold
    }
    whole = false;
    onSendError(err, first + at, msg->segmentCount());
    ++at;
  }
  return whole;
}

void cLocalMsg::onSendError(int err, size_t index, size_t count) {
  cStats::add(cStats::kNorth, cStats::kFailedWrites);
  if (!mTxErrors.pass()) return;
  if (err != 0) {
    error("North Tx Error -1 err(%d)%s", err, mTxErrors.held());
  } else {
    error("North Tx Error -1: datagram %zu of %zu refused, no reason given%s", index + 1, count,
          mTxErrors.held());
  }
}
