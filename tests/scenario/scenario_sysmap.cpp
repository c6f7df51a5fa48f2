// The System Map synchronisation on a project file of the host directory, and the
// files it leaves there:
//   sync to-host|to-map [variables] [x10] [io] [ir] [ask] [standalone] [project NAME]
//     ask: the confirmation goes to the prompts (answer yes|no); standalone: devices and
//     IR tables are found first, as the command-line runner does; ir-tables: the IR
//     tables only, as the window has them
//   sample NAME [AS]: a copy of samples/NAME in the host directory
//   lines [FROM TO] FILE: numbered lines, line ends shown
//   changes FILE BEFORE: the lines of FILE that differ from those of BEFORE
//   mkdir PATH: a directory where a file would go
#include <cctype>
#include <filesystem>
#include <map>
#include <sstream>

#include "scenario_parts.h"
#include "support/escape.h"
#include "sysmap/synchronize.h"
#include "text_files.h"

namespace varnel::test {
namespace {

namespace fs = std::filesystem;

// Lines with their "\r" kept; the last one without an end is marked.
std::vector<std::string> rawLines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t at = 0;
    for (auto nl = text.find('\n'); nl != std::string::npos; at = nl + 1, nl = text.find('\n', at))
        out.push_back(text.substr(at, nl - at));
    if (at < text.size()) out.push_back(text.substr(at) + " (no line end)");
    return out;
}

class Sysmap final : public ScenarioPart {
public:
    bool directive(Scenario& s, const std::vector<std::string>& w, const std::string& line) override {
        const fs::path dir = s.dir->path();
        Transcript& t = s.transcript;
        if (w[0] == "sync" && w.size() > 1) {
            s.build();
            SyncRequest r;
            r.direction = w[1] == "to-host";
            r.projectFile = (dir / "house.prj").string();
            r.assumeYes = true;
            r.faults = s.faults;
            for (std::size_t i = 2; i < w.size(); ++i) {
                const std::string& o = w[i];
                if (o == "variables") r.includes.variables = true;
                if (o == "x10") r.includes.x10 = true;
                if (o == "io") r.includes.io = true;
                if (o == "ir") r.includes.ir = true;
                if (o == "ask") r.assumeYes = false;
                if (o == "standalone") r.discoverDevices = r.loadIrTables = true;
                if (o == "ir-tables") r.loadIrTables = true;
                if (o == "project") r.projectFile = (dir / w.at(++i)).string();
            }
            const SyncSummary summary = runSync(s.rig->ctx(), r);
            for (const auto& l : describeSync(summary)) t.line("  " + escaped(l));
            t.line("  (outcome " + std::to_string(static_cast<int>(summary.outcome)) + ")");
        } else if (w[0] == "sample") {
            fs::copy_file(fs::path(VARNEL_SCENARIO_DIR) / "../../samples" / w.at(1), dir / (w.size() > 2 ? w[2] : w[1]),
                          fs::copy_options::overwrite_existing);
        } else if (w[0] == "mkdir") {
            fs::create_directories(dir / restOf(line, 1));
        } else if (w[0] == "lines" || w[0] == "changes") {
            const bool range = w[0] == "lines" && w.size() > 3 && std::isdigit(static_cast<unsigned char>(w[1][0]));
            const fs::path file = dir / (w[0] == "lines" ? restOf(line, range ? 3 : 1) : w.at(1));
            if (!fs::is_regular_file(file)) return t.line("  (no file)"), true;
            const auto now = rawLines(readFile(file));
            if (w[0] == "lines") {
                const std::size_t from = range ? std::stoul(w[1]) : 1;
                const std::size_t to = range ? std::stoul(w[2]) : now.size();
                for (std::size_t i = from; i <= to && i <= now.size(); ++i)
                    t.line("  " + std::to_string(i) + ": " + escaped(now[i - 1]));
                return true;
            }
            const fs::path before = dir / restOf(line, 2);
            if (!fs::is_regular_file(before)) return t.line("  (no file to compare with)"), true;
            const auto was = rawLines(readFile(before));
            int differ = 0;
            for (std::size_t i = 0; i < std::max(was.size(), now.size()); ++i) {
                const std::string a = i < was.size() ? was[i] : "(none)", b = i < now.size() ? now[i] : "(none)";
                if (a != b) ++differ, t.line("  " + std::to_string(i + 1) + ": " + escaped(a) + " -> " + escaped(b));
            }
            t.line("  " + std::to_string(differ) + " of " + std::to_string(now.size()) + " lines differ");
        } else {
            return false;
        }
        return true;
    }
};

const bool registered = registerPart([] { return std::make_unique<Sysmap>(); });

}  // namespace
}  // namespace varnel::test
