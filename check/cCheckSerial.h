#pragma once

struct cCheckContext;

// The serial part: the device node (cCheckNode); no other program holding it (named, with its
// pid; when the running ferryd holds it the module is left alone and its status shown); the
// line opened raw at 115200 baud as the daemon sets it up; and the module's answer to the
// daemon's configuration query: firmware, Bluetooth address and name, or the usual causes of
// silence.
namespace cCheckSerial {

// A module that answers takes well under a second; a silent one costs this long.
constexpr int kAnswerMs = 3000;

void run(cCheckContext& c);

}  // namespace cCheckSerial
