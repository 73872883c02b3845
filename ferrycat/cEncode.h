#pragma once

// ferrycat encode: see ferrycat(1).
int encodeMain(int argc, char** argv);
