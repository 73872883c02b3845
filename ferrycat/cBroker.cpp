#include "ferrycat/cBroker.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "ferrycat/cBrokerEnd.h"
#include "ferrycat/cBrokerSocket.h"
#include "ferrycat/cCat.h"
#include "ferrycat/cCatLoop.h"
#include "ferrycat/cCatOptions.h"
#include "link/cBTMsg.h"
#include "north/cLocalMsg.h"
#include "support/cProperties.h"

namespace {

const char kCommand[] = "broker";

void help() {
  printf(
      "Usage: ferrycat broker [OPTION]...\n"
      "Stand in for the message broker: listen where ferryd sends (the host and port of its\n"
      "configuration file), print every message it sends, and send it the messages of the\n"
      "input, cut into segments as the broker does.\n\n"
      "Where:\n"
      "  -c, --config FILE    ferryd's configuration file (default %s)\n"
      "  -H, --host HOST      listen on HOST instead of the file's %s\n"
      "  -p, --port PORT      listen on PORT instead of the file's %s\n"
      "  -s, --segsize N      largest segment sent, 6 to %d bytes (default %d)\n",
      cProperties::kDefaultPath, cLocalMsg::kHostKey, cLocalMsg::kPortKey,
      cBrokerSocket::kMaxDatagram, cBrokerSocket::kMaxDatagram);
  printf("%s", cCatOptions::kHelp);
}

struct cWhere {
  std::string config = cProperties::kDefaultPath;
  bool configGiven = false;
  std::string host;
  long port = -1;
};

// The host and port the daemon sends to, by the daemon's own rules for its file. The default
// file may be missing (ferrycat on a PC): the daemon's defaults then hold.
bool resolveWhere(cWhere* where) {
  cProperties props;
  bool missingDefault = !where->configGiven && access(where->config.c_str(), F_OK) != 0;
  if (!missingDefault) {
    FILE* probe = fopen(where->config.c_str(), "r");
    struct stat st;
    if (probe != nullptr && fstat(fileno(probe), &st) == 0 && S_ISDIR(st.st_mode)) {
      fclose(probe);
      probe = nullptr;
      errno = EISDIR;
    }
    if (probe == nullptr) {
      cCat::fail("%s: %s", where->config.c_str(), strerror(errno));
      return false;
    }
    fclose(probe);
    errno = 0;
    if (props.load(where->config.c_str()) != 0) {
      cCat::fail("%s: %s", where->config.c_str(), errno ? strerror(errno) : "cannot be read");
      return false;
    }
  }
  if (where->host.empty())
    where->host = props.getString(cLocalMsg::kHostKey, cLocalMsg::kDefaultHost);
  if (where->port < 0) where->port = props.getInt(cLocalMsg::kPortKey, cLocalMsg::kDefaultPort);
  if (where->port < 1 || where->port > 65535) {
    cCat::fail("%s: %s = %ld is not a UDP port", where->config.c_str(), cLocalMsg::kPortKey,
               where->port);
    return false;
  }
  return true;
}

}  // namespace

int brokerMain(int argc, char** argv) {
  cCatOptions options;
  options.segSize = cBrokerSocket::kMaxDatagram;
  cWhere where;
  std::string shortOptions = cCatOptions::shortOptions("c:H:p:");
  std::vector<option> longOptions =
      cCatOptions::longOptions({{"config", required_argument, nullptr, 'c'},
                                {"host", required_argument, nullptr, 'H'},
                                {"port", required_argument, nullptr, 'p'}});
  options.segMin = cBTMsg::kMinSegSize;
  options.segMax = cBrokerSocket::kMaxDatagram;
  int status = options.parse(kCommand, argc, argv, shortOptions, longOptions, help,
                             [&where](int letter, const char* arg) -> std::string {
                               if (letter == 'c') {
                                 where.config = arg;
                                 where.configGiven = true;
                               } else if (letter == 'H') {
                                 where.host = arg;
                               } else if (!cCatOptions::parseNumber(arg, 1, 65535, &where.port)) {
                                 return std::string("bad port '") + arg + "' (1 to 65535)";
                               }
                               return "";
                             });
  if (status != cCatOptions::kContinue) return status;
  if (optind < argc) return cCat::usage(kCommand, "unexpected argument '%s'", argv[optind]);

  cCat::setUp(options.verbose);
  if (!resolveWhere(&where)) return cCat::kFailure;
  cCatLoop loop(options);
  cBrokerSocket socket;
  std::string why;
  if (!socket.open(where.host, static_cast<uint16_t>(where.port), &why))
    return cCat::fail("%s", why.c_str());
  cBrokerEnd end(&socket, options.segSize, options.quiet);
  end.greet();
  return loop.run(&end);
}
