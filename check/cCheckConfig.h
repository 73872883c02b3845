#pragma once

struct cCheckContext;

// The configuration part: the file read (or missing, with the defaults holding), every key the
// daemon reads with its value and where it came from, values that are not numbers or out of
// range, malformed lines and keys the daemon does not know (with the key most likely meant).
namespace cCheckConfig {

void run(cCheckContext& c);

}  // namespace cCheckConfig
