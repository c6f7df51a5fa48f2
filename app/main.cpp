// varnel: the plug-in in its embedded host (`run`), the controller simulator (`sim`)
// and the System Map synchronisation (`sync`).
#include <QApplication>
#include <QCoreApplication>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "ha_app.h"
#include "log_output.h"
#include "run_settings.h"
#include "window_session.h"

// Whatever throws, from the command line on, ends with a message, not an abort.
int main(int argc, char** argv) try {
    using namespace varnel::app;
    const std::vector<std::string> args(argv + 1, argv + argc);
    const EnvLookup env = [](const char* name) { return std::getenv(name); };
    const auto defaultDir = defaultHostDir(std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
    Command command = parseCommandLine(args, defaultDir);
    const std::optional<std::string> appToken = varnel::app::appToken(env);
    // The Supervisor restarts an app that fails: one whose options are wrong would fail
    // again at once, so it ends as if stopped.
    const int configExit = appToken ? kExitOk : kExitConfig;
    // The Supervisor keeps and backs up /data: the health check and the backup look there too.
    if (appToken) {
        std::visit(
            [&](auto& c) {
                if constexpr (requires { c.hostDir; })
                    if (c.hostDir == defaultDir) c.hostDir = std::string(kAppDataDir);
            },
            command);
    }
    if (auto* run = std::get_if<RunOptions>(&command)) {
        const auto refuse = [](const std::string& why) {
            LogOutput(LogLevel::Error, logStyleFromEnvironment(), std::cout, std::cerr)
                .line(LogLevel::Error, "varnel: " + why);
        };
        if (appToken) {
            run->ingress = varnel::web::BindAddress{.host = "0.0.0.0", .port = kIngressPort};
            run->ingressPeer = std::string(kIngressPeer);
            if (auto bad = addAppOptions(*run)) {
                refuse(*bad);
                return configExit;
            }
        }
        if (auto bad = addHostSettings(*run, env)) {
            refuse(*bad);
            return configExit;
        }
        if (auto bad = settleDemoOptions(*run)) command = UsageError{*bad};
    }

    if (const auto* help = std::get_if<HelpRequest>(&command)) {
        std::cout << help->text;
        return kExitOk;
    }
    if (std::holds_alternative<VersionRequest>(command)) {
        std::cout << "varnel " << VARNEL_VERSION << '\n';
        return kExitOk;
    }
    if (const auto* error = std::get_if<UsageError>(&command)) {
        std::cerr << error->message << (error->message.ends_with('\n') ? "" : "\n");
        return kExitUsage;
    }

    if (const auto* ports = std::get_if<PortsOptions>(&command)) return listPorts(*ports);
    if (const auto* pw = std::get_if<WebPasswordOptions>(&command)) return runWebPassword(*pw);
    if (const auto* b = std::get_if<HistoryBackupOptions>(&command)) return runHistoryBackup(*b);
    if (const auto* h = std::get_if<HealthOptions>(&command)) return runHealth(*h);

    // Widgets only for a run that has a display to put the configuration window on.
    std::unique_ptr<QCoreApplication> app;
    const auto* runOptions = std::get_if<RunOptions>(&command);
    // Pictures of the window need no screen: they are drawn off screen.
    if (runOptions && runOptions->windowScreenshots && !displayAvailable([](const char* n) { return std::getenv(n); }))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (std::holds_alternative<RunOptions>(command) && displayAvailable([](const char* n) { return std::getenv(n); })) {
        app = std::make_unique<QApplication>(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    QCoreApplication::setApplicationName("varnel");
    if (auto* run = std::get_if<RunOptions>(&command)) {
        if (appToken) {
            LogOutput(run->logLevel, logStyleFromEnvironment(), std::cout, std::cerr)
                .line(LogLevel::Info, "varnel: " + settleAppBroker(*run, [&appToken] {
                                          return supervisorGet(std::string(kServicesUrl), *appToken);
                                      }));
        }
        const int code = runPlugin(*run);
        return code == kExitConfig ? configExit : code;
    }
    if (const auto* sync = std::get_if<SyncOptions>(&command)) return runSyncCommand(*sync);
    return runSimulator(std::get<SimOptions>(command));
} catch (const std::exception& e) {
    using namespace varnel::app;
    LogOutput(LogLevel::Error, logStyleFromEnvironment(), std::cout, std::cerr)
        .line(LogLevel::Error, std::string("varnel: ") + e.what());
    return varnel::app::kExitFailure;
}
