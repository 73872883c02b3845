#include "bench/cSimGpio.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <termios.h>
#include <time.h>
#include <umockdev.h>
#include <unistd.h>

#include <atomic>
#include <stdexcept>

namespace {

const unsigned long kPinCountRequest = 0x6701;
const unsigned long kPinTableRequest = 0x80046702;

// Device numbers of the nodes; each simulator in a process gets its own.
std::atomic<int> gNextMinor{0};

std::string deviceDescription(const std::string& devPath, int minor) {
  std::string node = devPath.substr(5);  // without "/dev/"
  std::string sysName = node;
  for (char& c : sysName) {
    if (c == '/') c = '_';
  }
  return "P: /devices/ferryd-sim/" + sysName + "\n" + "N: " + node + "\n" + "E: SUBSYSTEM=tty\n" +
         "E: DEVNAME=" + devPath + "\n" + "A: dev=240:" + std::to_string(minor) + "\n";
}

std::string takeError(GError* err) {
  std::string text = err != nullptr ? err->message : "unknown error";
  if (err != nullptr) g_error_free(err);
  return text;
}

// umockdev treats this result as "not handled" and runs the real call on the node instead.
long avoidUnhandled(long result) {
  return result == -100 ? -1 : result;
}

}  // namespace

// The testbed's libraries (GLib, GIO, umockdev) synchronise their threads with futexes that the
// thread sanitizer cannot see; the accesses they make through its interceptors are left out of
// its reports. Code built with the sanitizer is checked as before.
extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:*libglib-2.0.so*\n"
         "called_from_lib:*libgobject-2.0.so*\n"
         "called_from_lib:*libgio-2.0.so*\n"
         "called_from_lib:*libumockdev.so*\n";
}

std::vector<cSimPin> cSimGpio::defaultPins() {
  return {
      {kButtonName, 12, 1}, {"BT_RESET", 13, 0}, {"LED_BT_RED", 20, 0}, {"LED_BT_GREEN", 21, 0}};
}

cSimGpio::cSimGpio(std::vector<cSimPin> pins, const std::string& devPath)
    : mModel(std::move(pins)), mDevPath(devPath) {
  if (mDevPath.size() <= 5 || mDevPath.compare(0, 5, "/dev/") != 0) {
    throw std::runtime_error("cSimGpio: device path must start with /dev/: " + mDevPath);
  }
  mTestbed = umockdev_testbed_new();
  gchar* root = umockdev_testbed_get_root_dir(mTestbed);
  mRootDir = root;
  g_free(root);

  mHandler = umockdev_ioctl_base_new();
  g_signal_connect(mHandler, "handle-ioctl", G_CALLBACK(onIoctl), this);
  g_signal_connect(mHandler, "handle-read", G_CALLBACK(onRead), this);
  g_signal_connect(mHandler, "handle-write", G_CALLBACK(onWrite), this);

  GError* err = nullptr;
  if (!umockdev_testbed_attach_ioctl(mTestbed, mDevPath.c_str(), mHandler, &err)) {
    fail("cannot attach the device handler: " + takeError(err));
  }
  std::string description = deviceDescription(mDevPath, gNextMinor++);
  if (!umockdev_testbed_add_from_string(mTestbed, description.c_str(), &err)) {
    fail("cannot add the device: " + takeError(err));
  }
  openTerminal();
}

cSimGpio::~cSimGpio() {
  dispose();
}

void cSimGpio::dispose() {
  // The testbed stops serving first, so no handler runs while this object goes away.
  if (mTestbed != nullptr) g_object_unref(mTestbed);
  if (mHandler != nullptr) {
    g_signal_handlers_disconnect_by_data(mHandler, this);
    g_object_unref(mHandler);
  }
  // Taking the model's lock once orders everything the serving thread did before this point:
  // its requests arrive through umockdev's socket, which the thread sanitizer cannot see.
  (void)mModel.writes();
  int slave = mSlave.exchange(-1);
  if (slave >= 0) close(slave);
  mTestbed = nullptr;
  mHandler = nullptr;
}

void cSimGpio::fail(const std::string& what) {
  dispose();
  throw std::runtime_error("cSimGpio " + mDevPath + ": " + what);
}

// Opens the daemon's side of the node's terminal for ourselves. The raw system call keeps the
// umockdev preload (when this process runs under it) out of this descriptor.
void cSimGpio::openTerminal() {
  int master = umockdev_testbed_get_dev_fd(mTestbed, mDevPath.c_str());
  char name[256];
  if (master < 0 || ptsname_r(master, name, sizeof name) != 0) fail("the node has no terminal");
  // Signalling input must never block, even when nobody reads for a long time.
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  mMaster = master;
  mSlave = static_cast<int>(
      syscall(SYS_openat, AT_FDCWD, name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (mSlave < 0) fail(std::string("cannot open ") + name);
}

std::vector<std::string> cSimGpio::childEnv() const {
  // A sanitizer-built child refuses a preload ahead of its runtime unless told otherwise.
  const char* asan = getenv("ASAN_OPTIONS");
  std::string asanOptions = std::string(asan != nullptr && *asan != '\0' ? asan : "");
  if (asanOptions.find("verify_asan_link_order") == std::string::npos) {
    asanOptions += std::string(asanOptions.empty() ? "" : ":") + "verify_asan_link_order=0";
  }
  return {std::string("LD_PRELOAD=") + UMOCKDEV_PRELOAD, "UMOCKDEV_DIR=" + mRootDir,
          "ASAN_OPTIONS=" + asanOptions};
}

void cSimGpio::press() {
  setInput(pinId(kButtonName), 0);
}

void cSimGpio::release() {
  setInput(pinId(kButtonName), 1);
}

void cSimGpio::setInput(uint16_t pin, uint16_t value) {
  if (mModel.setInput(pin, value)) raiseInputReady();
}

void cSimGpio::raiseInputReady() {
  const char byte = 1;
  ssize_t ignored = write(mMaster, &byte, 1);  // a full terminal is ready already
  (void)ignored;
}

void cSimGpio::clearInputReady() {
  tcflush(mSlave, TCIFLUSH);
}

bool cSimGpio::waitWrites(size_t n, int timeoutMs) const {
  const timespec step = {0, 5 * 1000 * 1000};
  for (int waited = 0; waited < timeoutMs; waited += 5) {
    if (mModel.writes().size() >= n) return true;
    nanosleep(&step, nullptr);
  }
  return mModel.writes().size() >= n;
}

int cSimGpio::onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self) {
  static_cast<cSimGpio*>(self)->handleIoctl(client);
  return TRUE;
}

int cSimGpio::onRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self) {
  static_cast<cSimGpio*>(self)->handleRead(client);
  return TRUE;
}

int cSimGpio::onWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self) {
  static_cast<cSimGpio*>(self)->handleWrite(client);
  return TRUE;
}

// Runs on the testbed's serving thread. Every call is completed here: an uncompleted call
// leaves the daemon blocked.
void cSimGpio::handleIoctl(UMockdevIoctlClient* client) {
  unsigned long request = umockdev_ioctl_client_get_request(client);
  int err = 0;
  long result = -1;
  if (request == kPinCountRequest) {
    result = mModel.countRequest(&err);
  } else if (request == kPinTableRequest) {
    std::vector<uint8_t> table;
    result = mModel.tableRequest(&table, &err);
    if (result > 0 && !table.empty()) {
      // The request's encoded size (4) is smaller than the table: resolve the whole buffer.
      UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
      UMockdevIoctlData* buf = umockdev_ioctl_data_resolve(arg, 0, table.size(), nullptr);
      if (buf == nullptr) {
        result = -1;
        err = EFAULT;
      } else {
        umockdev_ioctl_data_update(buf, 0, table.data(), static_cast<int>(table.size()));
        g_object_unref(buf);
      }
    }
  } else {
    err = ENOTTY;
  }
  umockdev_ioctl_client_complete(client, avoidUnhandled(result), err);
}

void cSimGpio::handleRead(UMockdevIoctlClient* client) {
  // Input-ready goes before the values are taken: a change after this point signals again.
  clearInputReady();
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  std::vector<uint8_t> records;
  int err = 0;
  long result = mModel.readRequest(static_cast<size_t>(arg->data_len), &records, &err);
  if (result > 0) umockdev_ioctl_data_update(arg, 0, records.data(), static_cast<int>(result));
  umockdev_ioctl_client_complete(client, avoidUnhandled(result), err);
}

void cSimGpio::handleWrite(UMockdevIoctlClient* client) {
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  int err = 0;
  long result = mModel.writeRequest(arg->data, static_cast<size_t>(arg->data_len), &err);
  umockdev_ioctl_client_complete(client, avoidUnhandled(result), err);
}
