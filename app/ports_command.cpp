// `varnel ports`: the serial devices there are, their stable names, whether this
// user may open them and who holds them.
#include <iostream>

#include "commands.h"
#include "platform/net/endpoint.h"
#include "platform/qt/serial_devices.h"
#include "support/escape.h"

namespace varnel::app {

namespace {

namespace fs = std::filesystem;

// Device names come from the file system and the command line: shown escaped.
std::string shown(const fs::path& p) { return escaped(p.string()); }

void describe(const fs::path& device, std::ostream& out) {
    std::error_code ec;
    const fs::path real = fs::canonical(device, ec);
    out << shown(device);
    if (!ec && real != device) out << " -> " << shown(real);
    out << '\n';
    const auto ids = byIdNames(device);
    if (ids.empty()) out << "  by-id:  none\n";
    for (const auto& id : ids) out << "  by-id:  " << shown(id) << '\n';
    // The verdict the port's own open gives first: what is not a serial device is refused
    // whoever may open it, and has no lock to show.
    if (const auto kind = kindProblem(device)) {
        out << "  access: no, " << escaped(*kind) << '\n';
        return;
    }
    const auto problem = accessProblem(device);
    out << "  access: " << (problem ? "no, " + escaped(*problem) : std::string("may open")) << '\n';
    const auto lock = serialLock(device);
    if (!lock) {
        out << "  lock:   none\n";
        return;
    }
    out << "  lock:   " << escaped(lock->holder());
    if (lock->stale()) out << "; the next varnel run takes it over";
    out << " (" << shown(lock->file) << ")\n";
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
            std::cout << shown(device) << ": not found (no such device)\n";
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
