#pragma once

// ferrycat broker: see ferrycat(1).
int brokerMain(int argc, char** argv);
