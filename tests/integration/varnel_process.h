#pragma once
// Running the varnel executable from a test: arguments, an isolated per-user
// settings folder, optional standard input, and what it printed.
#include <QProcessEnvironment>
#include <QStringList>
#include <filesystem>
#include <optional>
#include <string>

namespace varnel::test {

struct Outcome {
    int exitCode = -1;  // -1: crashed or did not end in time
    std::string out, err;
};

struct VarnelRun {
    QStringList args;
    // Per-user settings go here instead of the user's own; empty: a fresh temp folder per run.
    std::filesystem::path configHome;
    // Standard input read from this file (a pseudo-terminal's slave makes it a terminal);
    // empty: closed at once.
    std::optional<std::string> stdinFile;
    int timeoutMs = 30'000;
};

Outcome runVarnel(const VarnelRun& run);
inline Outcome runVarnel(const QStringList& args, int timeoutMs = 30'000) {
    return runVarnel(VarnelRun{args, {}, std::nullopt, timeoutMs});
}

// The environment every varnel child gets: per-user settings in `configHome`.
QProcessEnvironment varnelEnvironment(const std::filesystem::path& configHome);

std::string readFile(const std::filesystem::path& p);
void writeFile(const std::filesystem::path& p, const std::string& bytes);
inline QString q(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }

}  // namespace varnel::test
