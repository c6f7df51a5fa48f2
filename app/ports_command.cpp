// `varnel ports`: the serial devices there are, their stable names, whether this
// user may open them and who holds them.
#include <iostream>

#include "commands.h"
#include "platform/net/endpoint.h"
#include "platform/qt/serial_devices.h"

namespace varnel::app {

namespace {

namespace fs = std::filesystem;

void describe(const fs::path& device, std::ostream& out) {
    std::error_code ec;
    const fs::path real = fs::canonical(device, ec);
    out << device.string();
    if (!ec && real != device) out << " -> " << real.string();
    out << '\n';
    const auto ids = byIdNames(device);
    if (ids.empty()) out << "  by-id:  none\n";
    for (const auto& id : ids) out << "  by-id:  " << id.string() << '\n';
    const auto problem = accessProblem(device);
    out << "  access: " << (problem ? "no, " + *problem : std::string("may open")) << '\n';
    const auto lock = serialLock(device);
    if (!lock) {
        out << "  lock:   none\n";
        return;
    }
    out << "  lock:   " << lock->holder();
    if (lock->stale()) out << "; the next varnel run takes it over";
    out << " (" << lock->file.string() << ")\n";
}

}  // namespace

int listPorts(const PortsOptions& o) {
    std::vector<fs::path> devices(o.devices.begin(), o.devices.end());
    if (devices.empty()) devices = serialDevices();
    if (devices.empty()) {
        std::cout << "No serial devices found (looked for /dev/ttyS*, ttyUSB*, ttyACM*, ttyAMA* and the like)\n";
        std::cout << "Over the network: " << net::kPortForms << '\n';
        return kExitOk;
    }
    int exitCode = kExitOk;
    bool byId = false;
    for (const auto& device : devices) {
        std::error_code ec;
        if (!fs::exists(device, ec)) {
            std::cout << device.string() << ": not found (no such device)\n";
            exitCode = kExitFailure;
            continue;
        }
        describe(device, std::cout);
        byId = byId || !byIdNames(device).empty();
    }
    if (byId)
        std::cout << "Give a by-id name as the port (--port, or port= in the settings file): it stays right\n"
                     "when USB adapters are plugged in another order.\n";
    std::cout << "Over the network: " << net::kPortForms << '\n';
    return exitCode;
}

}  // namespace varnel::app
