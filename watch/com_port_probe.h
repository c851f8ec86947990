#pragma once
// The COM Port method: a dial-up connection holds the modem's serial port, so a port that cannot
// be opened is taken to be in use by a live connection, and one that opens is taken to be free.

#include <string>

namespace quorvane {

class TComm32;

// Opens and at once closes "COM<portNumber>" with `comm` (its reader and writer threads started
// and stopped). True (online) when anything on the way fails: the port held by another program,
// and also a port number with no device behind it.
bool ComPortInUse(TComm32& comm, int portNumber);

// The device a port number means on this machine, for the user to see: "/dev/ttyUSB0", or
// "/dev/ttyS3 (not present)" when nothing is there.
std::string ComPortDeviceText(int portNumber);

} // namespace quorvane
