// ferrycat broker against a daemon that goes away, stops reading or cannot be sent to: messages
// wait rather than vanish, the waiting costs no spinning, and what never went out is a failure.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <string>

#include "ferrycat/cBrokerEnd.h"
#include "ferrycat/cBrokerSocket.h"
#include "ferrycat/cCatLoop.h"
#include "tests/common/cTempDir.h"
#include "tests/common/freeUdpPort.h"
#include "tests/ferrycat/cCatRun.h"
#include "tests/ferrycat/cFakeDaemon.h"

namespace {

long voluntarySwitches(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("voluntary_ctxt_switches:", 0) == 0) return std::stol(line.substr(24));
  }
  return -1;
}

TEST(FerrycatBroker, MessagesWaitWhileNoDaemonIsConnectedAndThoseLeftAreAFailure) {
  uint16_t port = freeUdpPort();
  std::unique_ptr<cFakeDaemon> daemon(new cFakeDaemon(port));
  cCatRun broker({"broker", "--port", std::to_string(port)}, "");
  ASSERT_TRUE(broker.waitForStderr("connected from port " + std::to_string(daemon->port()), 10000))
      << broker.err();
  broker.input("one\n");
  EXPECT_EQ(1u, daemon->receive(1000).size());

  daemon.reset();  // stopped: what is typed now waits for the next daemon
  broker.input("two\nthree\n");
  ASSERT_TRUE(broker.waitForStderr("has gone: waiting", 10000)) << broker.err();
  daemon.reset(new cFakeDaemon(port));
  std::vector<std::vector<uint8_t>> got = daemon->receive(1000);
  ASSERT_EQ(2u, got.size()) << broker.err();
  EXPECT_EQ((std::vector<uint8_t>{0x81, 0, 0, 3, 0, 't', 'w', 'o'}), got[0]);

  daemon.reset();
  broker.input("four\n");
  ASSERT_TRUE(broker.waitForStderr("has gone: waiting", 10000, 2)) << broker.err();
  broker.signal(SIGTERM);
  EXPECT_EQ(1, broker.wait(10000));
  EXPECT_NE(std::string::npos,
            broker.err().find("ferrycat: 1 message not sent: no ferryd is connected to 127.0.0.1:" +
                              std::to_string(port)))
      << broker.err();
  EXPECT_NE(std::string::npos, broker.err().find("sent messages=3 ")) << broker.err();
}

// The daemon's queue is looked at less and less often while it stays full: a few dozen wake-ups
// in two seconds, where a look every millisecond makes two thousand.
TEST(FerrycatBroker, ADaemonThatStopsReadingIsWaitedForWithoutSpinning) {
  uint16_t port = freeUdpPort();
  cFakeDaemon daemon(port);  // never reads
  cTempDir dir;
  std::string input;
  for (int i = 0; i < 100; ++i) input += std::string(1000, 'x') + "\n";
  std::string path = cCatRun::writeFile(dir.path + "/input", input);
  cCatRun broker({"broker", "--port", std::to_string(port)}, path);
  for (int waited = 0;
       waited < 10000 && cFakeDaemon::queueOf(daemon.port()) <= cBrokerEnd::kMaxDaemonQueue;
       waited += 10)
    usleep(10 * 1000);
  ASSERT_GT(cFakeDaemon::queueOf(daemon.port()), cBrokerEnd::kMaxDaemonQueue) << broker.err();
  usleep(500 * 1000);  // the waits have grown to their longest
  long before = voluntarySwitches(broker.pid());
  usleep(2000 * 1000);
  long wakeUps = voluntarySwitches(broker.pid()) - before;
  printf("%ld wake-ups in 2 s while the daemon did not read\n", wakeUps);
  EXPECT_LT(wakeUps, 200);
  EXPECT_GE(before, 0);
  broker.signal(SIGINT);
  EXPECT_EQ(1, broker.wait(10000));
  EXPECT_NE(std::string::npos, broker.err().find("messages not sent: ferryd (port " +
                                                 std::to_string(daemon.port()) + ") did not read"))
      << broker.err();
}

// A send that fails is said with the daemon's address, and the run fails. Sends fail here
// because the broker's socket is shut for writing (EPIPE); receiving goes on.
TEST(FerrycatBroker, FailedSendsNameTheDaemonAndFailTheRun) {
  cBrokerSocket socket;
  std::string why;
  ASSERT_TRUE(socket.open("127.0.0.1", 0, &why)) << why;
  cFakeDaemon daemon(socket.port());
  shutdown(socket.fd(), SHUT_WR);
  cTempDir dir;
  cCatOptions options;
  options.files = {cCatRun::writeFile(dir.path + "/one", "abc"),
                   cCatRun::writeFile(dir.path + "/two", "de")};
  options.count = 0;
  cCatLoop loop(options);
  cBrokerEnd end(&socket, cBrokerSocket::kMaxDatagram, false);
  testing::internal::CaptureStderr();
  int status = loop.run(&end);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(1, status);
  std::string daemonAddress = "127.0.0.1:" + std::to_string(daemon.port());
  EXPECT_NE(std::string::npos,
            err.find("ferrycat: message of 3 bytes not sent: " + daemonAddress + ": Broken pipe"))
      << err;
  EXPECT_NE(std::string::npos, err.find("sent messages=0 bytes=0 failed-send=2 ")) << err;
}

}  // namespace
