#include "watch/com_port_probe.h"

#include "serial/comm32.h"
#include "serial/posix_port.h"

#include <sys/stat.h>

namespace quorvane {

namespace {

std::string PortName(int portNumber) {
    return "COM" + std::to_string(portNumber);
}

} // namespace

bool ComPortInUse(TComm32& comm, int portNumber) {
    try {
        comm.SetCommPort(PortName(portNumber));
        comm.StartComm();
        comm.StopComm();
        return false;
    } catch (...) {
        // Whatever stopped the open: the port's holder, or no port at all, reads as online.
        return true;
    }
}

std::string ComPortDeviceText(int portNumber) {
    const std::string device = ResolvePortName(PortName(portNumber));
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0 || !S_ISCHR(st.st_mode))
        return device + " (not present)";
    return device;
}

} // namespace quorvane
