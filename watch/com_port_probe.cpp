#include "watch/com_port_probe.h"

#include "serial/comm32.h"
#include "serial/posix_port.h"

#include <filesystem>
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
    namespace fs = std::filesystem;
    fs::path device = ResolvePortName(PortName(portNumber));
    std::error_code error;
    // A ports/COMn link is there to say which device is meant: show that device, not the link.
    if (fs::is_symlink(device, error)) {
        if (fs::path real = fs::canonical(device, error); !error)
            device = std::move(real);
        else if (const fs::path target = fs::read_symlink(device, error); !error)
            device = (device.parent_path() / target).lexically_normal();
    }
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0 || !S_ISCHR(st.st_mode))
        return device.string() + " (not present)";
    return device.string();
}

} // namespace quorvane
