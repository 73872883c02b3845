#include <gtest/gtest.h>

#include "link/cBTMsg.h"
#include "north/cLocalMsg.h"
#include "support/YMsg.h"

namespace {

// Before create() every static operation returns at once; a message handed over is still
// released (the leak checker of the ASan build would report it otherwise).
TEST(BeforeCreate, StaticOperationsDoNothingAndReleaseMessages) {
  cBTMsg::requestPairing();
  cBTMsg::requestDiscovery();
  cBTMsg::requestPaired();
  cBTMsg::requestConnected();
  cBTMsg::sendToModem("AT+AB EnableBond\r\n", 18);
  const unsigned char frame[] = {0x81, 0x00, 0x00, 0x01, 0x00, 'x'};
  cBTMsg::onModemFrame(frame, sizeof frame);
  cBTMsg::sendSouth(YMsg::create(1, "south", 5));
  cBTMsg::sendSouth(nullptr);
  cLocalMsg::sendNorth(YMsg::create(2, "north", 5));
  cLocalMsg::sendNorth(nullptr);
  EXPECT_EQ(nullptr, cBTMsg::instance());
  EXPECT_EQ(nullptr, cLocalMsg::instance());
}

}  // namespace
