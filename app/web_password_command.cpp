// `varnel web-password`: asks for the web page's password and keeps a salted hash of
// it in the host directory's settings, section "varnel", key http_password.
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <string>

#include "commands.h"
#include "confirm.h"
#include "files/files.h"
#include "host/ini_text.h"
#include "run_settings.h"
#include "web/password.h"

namespace varnel::app {

namespace {

constexpr std::size_t kMaxSettingsBytes = std::size_t{4} * 1024 * 1024;

// One line from standard input; on a terminal without echo.
std::optional<std::string> readSecret(const char* prompt, bool terminal) {
    termios saved{};
    if (terminal) {
        std::cerr << prompt << std::flush;
        if (tcgetattr(STDIN_FILENO, &saved) == 0) {
            termios quiet = saved;
            quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
            tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
        }
    }
    std::string line;
    const bool got = static_cast<bool>(std::getline(std::cin, line));
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::cerr << '\n';
    }
    if (!got) return std::nullopt;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

}  // namespace

int runWebPassword(const WebPasswordOptions& o) {
    const bool terminal = stdinIsTerminal();
    const auto password = readSecret("Web page password: ", terminal);
    if (!password || password->empty()) {
        std::cerr << "varnel web-password: no password given; nothing was changed\n";
        return kExitUsage;
    }
    if (password->size() > web::kMaxPasswordBytes) {
        std::cerr << "varnel web-password: the password is longer than " << web::kMaxPasswordBytes
                  << " bytes; nothing was changed\n";
        return kExitUsage;
    }
    if (terminal) {
        const auto again = readSecret("The same again: ", terminal);
        if (!again || *again != *password) {
            std::cerr << "varnel web-password: the two differ; nothing was changed\n";
            return kExitUsage;
        }
    }
    const auto file = hostSettingsFile(o.hostDir);
    try {
        const std::string text = files::readFile(file, {.maxBytes = kMaxSettingsBytes}).value_or("");
        std::error_code ec;
        std::filesystem::create_directories(file.parent_path(), ec);
        files::replaceFile(file, host::iniSet(text, kRunSection, "http_password", web::hashPassword(*password)));
    } catch (const std::exception& e) {
        std::cerr << "varnel web-password: " << e.what() << "; nothing was changed\n";
        return kExitFailure;
    }
    std::cout << "The web page's password is set in " << file.string()
              << " (as a salted hash); a run started from now on asks for it\n";
    return kExitOk;
}

}  // namespace varnel::app
