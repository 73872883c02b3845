#pragma once

// ferrycat peer: see ferrycat(1).
int peerMain(int argc, char** argv);
