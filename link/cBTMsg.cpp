#include "link/cBTMsg.h"

// Placeholder until the link manager is built: every static operation does nothing.
void cBTMsg::create(cProperties*) {}
void cBTMsg::requestDiscovery() {}
void cBTMsg::requestPairing() {}
void cBTMsg::requestPaired() {}
void cBTMsg::requestConnected() {}
void cBTMsg::sendToModem(const char*, int) {}
void cBTMsg::sendSouth(YMsg* msg) { delete msg; }
void cBTMsg::onModemFrame(const unsigned char*, int) {}
cBTMsg* cBTMsg::instance() { return nullptr; }
