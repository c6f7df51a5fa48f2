// `varnel sim`: the controller simulator on a pseudo-terminal, for any serial
// program to talk to, until Ctrl-C or --for ends it.
#include <QCoreApplication>
#include <QTimer>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "commands.h"
#include "signal_watcher.h"
#include "sim/demo.h"
#include "sim/pty/pty_simulator.h"
#include "sim_demo.h"

namespace varnel::app {

namespace {

// A link we made may be replaced; anything else at that path is left alone.
std::optional<std::string> makeLink(const std::filesystem::path& link, const std::string& target) {
    std::error_code ec;
    if (std::filesystem::is_symlink(std::filesystem::symlink_status(link, ec)))
        std::filesystem::remove(link, ec);
    else if (std::filesystem::exists(std::filesystem::symlink_status(link, ec)))
        return link.string() + " exists and is not a link; not replaced";
    std::filesystem::create_symlink(target, link, ec);
    if (ec) return "cannot create the link " + link.string() + ": " + ec.message();
    return std::nullopt;
}

}  // namespace

int runSimulator(const SimOptions& o) {
    auto plan = planDemo(o.demoScript, o.demo);
    if (auto* err = std::get_if<std::string>(&plan)) {
        std::cerr << "varnel sim: " << *err << '\n';
        return kExitUsage;
    }
    SignalWatcher watcher;
    sim::Controller controller(demoController());
    sim::pty::PtySimulator pty(controller);
    if (o.byteByByte) pty.setHandover(sim::pty::Handover::Byte);
    if (auto err = pty.start()) {
        std::cerr << "varnel sim: " << *err << '\n';
        return kExitFailure;
    }
    if (o.link) {
        if (auto err = makeLink(*o.link, pty.path())) {
            std::cerr << "varnel sim: " << *err << '\n';
            return kExitFailure;
        }
    }
    std::cout << (o.link ? *o.link : pty.path()) << std::endl;
    std::cerr << "Simulated controller on " << pty.path() << " (9600,N,8,1); Ctrl-C ends it" << std::endl;
    pty.onClientChanged = [](bool connected) {
        std::cerr << (connected ? "A program opened the line" : "The program closed the line") << std::endl;
    };
    sim::Demo demo(controller);
    demo.onStep = [](const std::string& step) { std::cerr << "Demo: " << step << std::endl; };
    startDemo(demo, std::get<DemoPlan>(plan));

    watcher.onSignal = [](int) { QCoreApplication::exit(kExitOk); };
    QTimer forTimer;
    forTimer.setSingleShot(true);
    QObject::connect(&forTimer, &QTimer::timeout, &forTimer, [] { QCoreApplication::exit(kExitOk); });
    if (o.forSeconds) forTimer.start(static_cast<int>(std::min(*o.forSeconds * 1000.0, 2.0e9)));

    QCoreApplication::exec();
    pty.stop();
    if (o.link) {
        std::error_code ec;
        if (std::filesystem::is_symlink(std::filesystem::symlink_status(*o.link, ec)))
            std::filesystem::remove(*o.link, ec);
    }
    return kExitOk;
}

}  // namespace varnel::app
