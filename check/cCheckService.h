#pragma once

struct cCheckContext;

// The service part, when systemd runs the system: the unit is installed, enabled and active,
// and its effective sandbox admits what the configuration needs (the two device nodes in
// DeviceAllow=, the broker's address in IPAddressAllow=, the device groups gathered by the
// device checks in SupplementaryGroups=). What it lacks is printed as one drop-in. Without
// systemd one line says so.
namespace cCheckService {

void run(cCheckContext& c);

}  // namespace cCheckService
