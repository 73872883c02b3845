// The unit's sandbox as systemctl show gives it: what it admits of devices, addresses and groups.
#include <arpa/inet.h>

#include "check/cCheckUnit.h"
#include "link/cBTMsg.h"
#include "modem/cSerialTrace.h"
#include "north/cLocalMsg.h"
#include "support/cConfigKeys.h"

namespace {

in_addr ip(const char* text) {
  in_addr a;
  inet_pton(AF_INET, text, &a);
  return a;
}

}  // namespace

TEST(CheckUnit, DeviceAllowByNodeOrDriverNeedsReadAndWrite) {
  cCheckUnit open;
  open.parse("DevicePolicy=auto\n");
  EXPECT_TRUE(open.allowsDevice("/dev/zero"));  // no policy: every device

  cCheckUnit closed;  // the standard pseudo devices need no entry
  closed.parse("DevicePolicy=closed\nDeviceAllow=/dev/ttyS5 rw\n");
  EXPECT_TRUE(closed.allowsDevice("/dev/zero"));

  cCheckUnit unit;
  unit.parse("DevicePolicy=strict\nDeviceAllow=/dev/null rw\nDeviceAllow=/dev/full r\n");
  EXPECT_TRUE(unit.allowsDevice("/dev/null"));
  EXPECT_FALSE(unit.allowsDevice("/dev/full"));  // read only
  EXPECT_FALSE(unit.allowsDevice("/dev/zero"));
  EXPECT_FALSE(unit.allowsDevice("/nonexistent"));

  cCheckUnit driver;  // /dev/zero is a device of the "mem" driver (major 1)
  driver.parse("DevicePolicy=strict\nDeviceAllow=char-mem rwm\n");
  EXPECT_TRUE(driver.allowsDevice("/dev/zero"));
  cCheckUnit glob;
  glob.parse("DevicePolicy=strict\nDeviceAllow=char-me* rw\n");
  EXPECT_TRUE(glob.allowsDevice("/dev/zero"));
}

TEST(CheckUnit, AddressesAndGroups) {
  cCheckUnit unit;
  unit.parse(
      "IPAddressAllow=127.0.0.0/8 ::1/128\nIPAddressDeny=0.0.0.0/0 ::/0\n"
      "SupplementaryGroups=dialout gpio\n");
  EXPECT_TRUE(unit.allowsAddress(ip("127.0.0.1")));
  EXPECT_FALSE(unit.allowsAddress(ip("192.0.2.10")));
  EXPECT_TRUE(unit.hasGroup("gpio"));
  EXPECT_FALSE(unit.hasGroup("tty"));

  cCheckUnit added;
  added.parse("IPAddressAllow=127.0.0.0/8\nIPAddressAllow=192.0.2.10/32\nIPAddressDeny=any\n");
  EXPECT_TRUE(added.allowsAddress(ip("192.0.2.10")));
  EXPECT_FALSE(added.allowsAddress(ip("192.0.2.11")));

  cCheckUnit none;
  none.parse("IPAddressAllow=\nIPAddressDeny=\n");
  EXPECT_TRUE(none.allowsAddress(ip("198.51.100.1")));
}

// The key table the check and the start-up warning use holds the components' own defaults and
// limits.
TEST(CheckKeys, TheTableAgreesWithTheComponents) {
  auto row = [](const char* key) { return *cConfigKeys::find(key); };
  EXPECT_EQ(std::to_string(cBTMsg::kDefaultSegSize), row("ferryd.io.segsize").defaultValue);
  EXPECT_EQ(cBTMsg::kMinSegSize, row("ferryd.io.segsize").min);
  EXPECT_EQ(cBTMsg::kMaxSegSize, row("ferryd.io.segsize").max);
  EXPECT_EQ(std::to_string(cBTMsg::kDefaultStatsInterval),
            row("ferryd.stats.interval").defaultValue);
  EXPECT_EQ(std::to_string(cSerialTrace::kDefaultLimit), row("ferryd.io.tracesize").defaultValue);
  EXPECT_EQ(cSerialTrace::kMinLimit, row("ferryd.io.tracesize").min);
  EXPECT_EQ(std::to_string(cLocalMsg::kDefaultPort), row("zam.broker.port").defaultValue);
  EXPECT_STREQ(cLocalMsg::kDefaultHost, row("zam.broker.host").defaultValue);
  EXPECT_TRUE(cConfigKeys::known("log4cpp.rootCategory"));
  EXPECT_EQ("ferryd.io.tty", cConfigKeys::suggest("ferryd.io.tyy"));
  EXPECT_EQ("", cConfigKeys::suggest("zam.broker.retry"));
}
