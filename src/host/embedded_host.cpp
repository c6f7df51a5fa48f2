#include "host/embedded_host.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "files/files.h"
#include "host/device_file.h"
#include "host/ini_text.h"

namespace varnel {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxSettingsBytes = std::size_t{4} * 1024 * 1024;
constexpr std::size_t kMaxDeviceFileBytes = std::size_t{64} * 1024 * 1024;
constexpr std::size_t kKeptEvents = 10000;
constexpr std::size_t kProblemsLogged = 20;

// The user's links stay: a symbolic link is written through to its file, and a file
// with other hard links is rewritten in place so that every name keeps showing it.
files::ReplaceOptions keepLinks(const files::WriteFaults* faults = nullptr) {
    return {.followLink = true, .keepHardLinks = true, .faults = faults};
}

fs::path normalDir(const fs::path& dir) {
    std::error_code ec;
    fs::path p = fs::absolute(dir, ec).lexically_normal();
    if (ec) p = dir.lexically_normal();
    if (!p.has_filename() && p.has_parent_path() && p != p.root_path()) p = p.parent_path();
    return p;
}

// Creates the folders and proves that files can be made in them.
void prepareHostDir(const fs::path& dir) {
    auto fail = [&](const std::string& why) {
        throw HostDirError("cannot use host directory " + dir.string() + ": " + why);
    };
    for (const fs::path& sub : {dir, dir / "config", dir / "logs"}) {
        std::error_code ec;
        fs::create_directories(sub, ec);
        if (ec) fail(ec.message());
        if (!fs::is_directory(sub, ec)) fail(sub.string() + " is not a directory");
        const fs::path probe = sub / ".write-test";
        const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) fail(std::string("not writable (") + std::strerror(errno) + ")");
        ::close(fd);
        ::unlink(probe.c_str());
    }
}

std::vector<std::string> pathParts(const std::string& path) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : path) {
        if (c == '\\' || c == '/') {
            if (!part.empty()) parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty()) parts.push_back(part);
    return parts;
}

std::string lowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// Every argument in double quotes, so empty ones and ones with blanks keep their place.
std::string quoted(const std::string& arg) {
    std::string out = "\"";
    for (char c : arg) out += (c == '"') ? std::string("\"\"\"") : std::string(1, c);
    return out + "\"";
}

// A file this process could read but not save would lose every change made to it.
void checkWritable(const fs::path& file) {
    try {
        files::checkReplaceable(file, keepLinks());
    } catch (const files::FileError& e) {
        throw HostDirError(e.what());
    }
}

bool isExecutableFile(const fs::path& p) {
    std::error_code ec;
    const auto st = fs::status(p, ec);
    if (ec || !fs::is_regular_file(st)) return false;
    const auto x = fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec;
    return (st.permissions() & x) != fs::perms::none;
}

host::HostLog::Sink consoleSink(const EmbeddedHostOptions& o) {
    if (o.consoleLine) return o.consoleLine;
    if (!o.console) return {};
    return [console = o.console](const host::ConsoleLine& line) { console(line.text()); };
}

}  // namespace

EmbeddedHost::EmbeddedHost(const fs::path& hostDir, SettingsStore& userSettings, ProcessLauncher& launcher,
                           EmbeddedHostOptions options)
    : hostDir_(normalDir(hostDir)),
      userSettings_(userSettings),
      launcher_(launcher),
      options_(std::move(options)),
      log_(
          hostDir_ / "logs" / "host.log",
          options_.clock ? options_.clock : [] { return std::chrono::system_clock::now(); }, consoleSink(options_),
          options_.maxLogBytes),
      table_(std::make_shared<host::DeviceTable>(options_.firstRef > 0 ? options_.firstRef : 1, options_.maxDevices)) {
    prepareHostDir(hostDir_);
    auto clean = [this](const fs::path& dir, std::string_view name) {
        const files::Leftovers left = files::cleanLeftovers(dir, name);
        for (const fs::path& f : left.removed) hostMessage("removed " + f.string() + " left by an interrupted save");
        for (const fs::path& f : left.kept)
            hostMessage("left " + f.string() + " alone: the process that is writing it still runs");
    };
    clean(hostDir_ / "config", {});
    // A file that is a symbolic link is saved beside its target, and so are the leftovers of a killed save.
    for (const fs::path& file : {settingsFile(), devicesFile()}) {
        std::error_code ec;
        if (!fs::is_symlink(file, ec)) continue;
        const fs::path target = fs::weakly_canonical(file, ec);
        if (!ec) clean(target.parent_path(), target.filename().string());
    }
    checkSettingsFile();
    loadDevices();
    if (options_.createSettingsFile && !fs::exists(settingsFile())) {
        try {
            files::replaceFile(settingsFile(), "", writeOptions());
        } catch (const std::exception& e) {
            throw HostDirError("cannot use host directory " + hostDir_.string() + ": " + e.what());
        }
    }
    if (options_.loop) {
        saveTimer_ = options_.loop->createTimer();
        saveTimer_->setInterval(options_.saveDelayMs);
        saveTimer_->onTick = [this] {
            saveTimer_->setEnabled(false);
            if (unsaved_) saveDevices();
        };
        definitionTimer_ = options_.loop->createTimer();
        definitionTimer_->setInterval(0);
        definitionTimer_->onTick = [this] { saveDefinitions(); };
        retryTimer_ = options_.loop->createTimer();
        retryTimer_->setInterval(options_.saveRetryMs);
        retryTimer_->onTick = [this] {
            retryTimer_->setEnabled(false);
            (void)saveNow();
        };
    }
    table_->onChange = [this](host::Change what) { deviceChanged(what); };
    table_->onStatus = [this](const host::DeviceRecord& r) {
        record({.kind = host::HostEvent::Kind::StatusSet, .code = r.code(), .value = r.Status});
    };
    hostMessage("host " + options_.version + " in " + hostDir_.string() + ", " + std::to_string(table_->size()) +
                " devices");
}

EmbeddedHost::~EmbeddedHost() {
    table_->onChange = nullptr;
    table_->onStatus = nullptr;
    if (saveTimer_) saveTimer_->setEnabled(false);
    if (definitionTimer_) definitionTimer_->setEnabled(false);
    if (retryTimer_) retryTimer_->setEnabled(false);
    if (unsaved_) saveDevices();
    if (!unsavedSettings_.empty()) saveSettings();
}

fs::path EmbeddedHost::settingsFile() const { return hostDir_ / "config" / "settings.ini"; }
fs::path EmbeddedHost::devicesFile() const { return hostDir_ / "config" / "devices.txt"; }
fs::path EmbeddedHost::scriptsDir() const { return hostDir_ / "scripts"; }

void EmbeddedHost::hostMessage(const std::string& text) { log_.own(text); }

// ---- devices on disk

void EmbeddedHost::loadDevices() {
    const fs::path file = devicesFile();
    auto keptAs = [&](const fs::path& copy) { return "; the original is kept as " + copy.string(); };
    auto setAside = [&](const std::string& why) {
        try {
            const fs::path copy = files::setAsideMove(file, ".bad");
            hostMessage("device file " + file.string() + " " + why + keptAs(copy));
        } catch (const files::FileError& e) {
            throw HostDirError("cannot set aside the damaged device file: " + std::string(e.what()));
        }
    };

    std::optional<std::string> text;
    try {
        text = files::readFile(file, {.maxBytes = kMaxDeviceFileBytes});
    } catch (const files::TooLarge&) {
        setAside("is larger than " + files::sizeText(kMaxDeviceFileBytes) + ", starting without devices");
        return;
    } catch (const files::FileError& e) {
        // Starting without the devices would lose them at the first save; the user must fix this first.
        throw HostDirError(e.what());
    }
    if (!text) return;
    checkWritable(file);
    host::DeviceFileContent content = host::readDeviceFile(*text);
    if (!content.formatKnown) {
        setAside("is not a device file, starting without devices");
        return;
    }
    if (!content.problems.empty()) {
        fs::path copy;
        try {
            copy = files::setAsideCopy(file, ".bad", *text);
        } catch (const files::FileError& e) {
            throw HostDirError("cannot keep a copy of the damaged device file: " + std::string(e.what()));
        }
        hostMessage("device file " + file.string() + " has " + std::to_string(content.problems.size()) +
                    " unreadable lines, which were skipped" + keptAs(copy));
        for (std::size_t i = 0; i < content.problems.size() && i < kProblemsLogged; ++i)
            hostMessage("device file " + content.problems[i]);
        if (content.problems.size() > kProblemsLogged)
            hostMessage("device file: " + std::to_string(content.problems.size() - kProblemsLogged) +
                        " more unreadable lines");
    }
    const bool skipped = !content.problems.empty();
    table_->load(std::move(content.records), content.nextRef);
    if (skipped) {
        // The copy holds the skipped lines; left in the file, they would be copied again at every start.
        try {
            files::replaceFile(file, host::writeDeviceFile(*table_), writeOptions());
        } catch (const files::FileError& e) {
            hostMessage("device file: cannot write it again without the unreadable lines: " + std::string(e.what()));
        }
    }
    if (content.nextRefRepaired)
        hostMessage("device file: next reference " + std::to_string(*content.nextRefRepaired) +
                    " is out of range; new devices get references from " + std::to_string(table_->nextRef()) + " on");
}

void EmbeddedHost::checkSettingsFile() {
    const fs::path file = settingsFile();
    std::optional<std::string> text;
    try {
        text = files::readFile(file, {.maxBytes = kMaxSettingsBytes});
    } catch (const files::FileError& e) {
        // Falling back to the per-user store would put this directory's settings where
        // every other host directory finds them.
        throw HostDirError("cannot use the settings: " + std::string(e.what()));
    }
    if (!text) return;
    checkWritable(file);
    const std::vector<std::string> problems = host::iniProblems(*text);
    for (std::size_t i = 0; i < problems.size() && i < kProblemsLogged; ++i)
        hostMessage("settings file " + file.string() + " " + problems[i] + "; the line is ignored");
    if (problems.size() > kProblemsLogged)
        hostMessage("settings file: " + std::to_string(problems.size() - kProblemsLogged) + " more ignored lines");
}

void EmbeddedHost::deviceChanged(host::Change what) {
    unsaved_ = true;
    if (!saveTimer_) {
        saveDevices();
    } else if (what == host::Change::Definition) {
        // A device is made by a burst of calls (new, code, name, ...): saved once the
        // burst is over, or before a setting is written, whichever comes first.
        definitionTimer_->setEnabled(true);
    } else if (!saveTimer_->enabled()) {
        saveTimer_->setEnabled(true);
    }
}

void EmbeddedHost::saveDefinitions() {
    if (!definitionTimer_ || !definitionTimer_->enabled()) return;
    definitionTimer_->setEnabled(false);
    saveDevices();
}

bool EmbeddedHost::saveDevices() {
    try {
        // Gathered saves are rare enough to wait for the disk; saves after every
        // single change only guard against a crash of the program.
        files::ReplaceOptions options = writeOptions();
        options.durable = saveTimer_ != nullptr;
        files::replaceFile(devicesFile(), host::writeDeviceFile(*table_), options);
    } catch (const std::exception& e) {
        saveError_ = e.what();
        if (!saveFailed_)
            hostMessage("cannot save the devices: " + saveError_ +
                        (retryTimer_ ? "; trying again every " + std::to_string(options_.saveRetryMs / 1000) + " s"
                                     : std::string()));
        saveFailed_ = true;
        retryLater();
        return false;
    }
    if (saveFailed_) hostMessage("devices saved again");
    saveFailed_ = false;
    unsaved_ = false;
    return true;
}

// Without a loop nobody would retry: the caller hears of the failure instead.
void EmbeddedHost::retryLater() {
    if (retryTimer_ && !retryTimer_->enabled()) retryTimer_->setEnabled(true);
}

std::optional<std::string> EmbeddedHost::unsavedWhy() const {
    std::string why;
    if (unsaved_ && saveFailed_) why = "cannot save the devices: " + saveError_;
    if (!unsavedSettings_.empty())
        why += (why.empty() ? "" : "; ") + std::string("cannot save the settings: ") + settingsError_;
    if (why.empty()) return std::nullopt;
    return why;
}

std::optional<std::string> EmbeddedHost::saveNow() {
    if (definitionTimer_) definitionTimer_->setEnabled(false);
    if (unsaved_) saveDevices();
    if (!unsavedSettings_.empty()) saveSettings();
    return unsavedWhy();
}

void EmbeddedHost::flush() {
    if (saveTimer_) saveTimer_->setEnabled(false);
    if (definitionTimer_) definitionTimer_->setEnabled(false);
    if (retryTimer_) retryTimer_->setEnabled(false);
    if (unsaved_ && !saveDevices()) throw HostError("cannot save the devices to " + devicesFile().string());
    if (!unsavedSettings_.empty() && !saveSettings())
        throw HostError("cannot save the settings to " + settingsFile().string());
}

// ---- settings

std::string EmbeddedHost::readSettingsText() const {
    try {
        return files::readFile(settingsFile(), {.maxBytes = kMaxSettingsBytes}).value_or("");
    } catch (const std::exception& e) {
        throw HostError(e.what());
    }
}

files::ReplaceOptions EmbeddedHost::writeOptions() {
    files::ReplaceOptions options = keepLinks(options_.writeFaults);
    options.note = ownerNote();
    return options;
}

void EmbeddedHost::writeSettingsText(const std::string& text,
                                     const std::function<std::string(const std::string&)>& edit) {
    const std::string changed = edit(text);
    // Unchanged settings are not written: the file keeps its date and its links stay untouched.
    if (changed != text) files::replaceFile(settingsFile(), changed, writeOptions());
}

std::string EmbeddedHost::GetIniSetting(const std::string& section, const std::string& key,
                                        const std::string& fallback) const {
    std::string text = readSettingsText();
    for (const auto& p : unsavedSettings_) text = host::iniSet(text, p.section, p.key, p.value);
    return host::iniGet(text, section, key).value_or(fallback);
}

void EmbeddedHost::SaveIniSetting(const std::string& section, const std::string& key, const std::string& value) {
    // A setting such as the unit mappings names devices: they are on disk first, so that a
    // process killed after this write never leaves settings naming devices it did not save.
    saveDefinitions();
    if (!unsavedSettings_.empty()) {
        // Behind earlier ones that wait for the disk, so that they land in order.
        (void)host::iniSet("", section, key, value);  // refuses what no file can hold, as below
        unsavedSettings_.push_back({section, key, value});
        saveSettings();
        return;
    }
    try {
        writeSettingsText(readSettingsText(),
                          [&](const std::string& text) { return host::iniSet(text, section, key, value); });
    } catch (const files::FileError& e) {
        // The value is kept and the write tried again, as for the devices.
        if (!retryTimer_) throw HostError(std::string("SaveIniSetting: ") + e.what());
        unsavedSettings_.push_back({section, key, value});
        settingsUnsaved(e.what());
    } catch (const std::exception& e) {
        throw HostError(std::string("SaveIniSetting: ") + e.what());
    }
}

bool EmbeddedHost::saveSettings() {
    try {
        writeSettingsText(readSettingsText(), [&](std::string text) {
            for (const auto& p : unsavedSettings_) text = host::iniSet(text, p.section, p.key, p.value);
            return text;
        });
    } catch (const std::exception& e) {
        settingsUnsaved(e.what());
        return false;
    }
    unsavedSettings_.clear();
    settingsError_.clear();
    hostMessage("settings saved again");
    return true;
}

void EmbeddedHost::settingsUnsaved(const std::string& why) {
    if (settingsError_.empty())
        hostMessage("cannot save the settings: " + why + "; trying again every " +
                    std::to_string(options_.saveRetryMs / 1000) + " s");
    settingsError_ = why;
    retryLater();
}

void EmbeddedHost::MoveSettings(const std::string& registryPath, const std::string& target) {
    // The per-user store stands for the registry, whose key names ignore case.
    const std::vector<std::string> parts = pathParts(registryPath);
    if (parts.size() < 2) throw HostError("MoveSettings: no application and section in \"" + registryPath + "\"");
    if (!files::equalsNoCase(target, "settings")) throw HostError("MoveSettings: unknown target \"" + target + "\"");
    const std::string& app = parts[parts.size() - 2];
    std::vector<std::string> sections{parts.back()};
    if (lowerAscii(parts.back()) != parts.back()) sections.push_back(lowerAscii(parts.back()));

    std::vector<std::pair<std::string, std::string>> entries;
    for (const std::string& section : sections) {
        for (const std::string& key : userSettings_.keys(app, section)) {
            std::string value = userSettings_.get(app, section, key, "");
            bool storable = true;
            try {
                (void)host::iniSet("", app, key, value);
            } catch (const std::invalid_argument& e) {
                storable = false;
                hostMessage(std::string("MoveSettings skipped a setting: ") + e.what());
            }
            if (storable) entries.emplace_back(key, std::move(value));
        }
    }
    saveDefinitions();
    try {
        writeSettingsText(readSettingsText(),
                          [&](const std::string& text) { return host::iniSetAll(text, app, entries); });
    } catch (const std::exception& e) {
        throw HostError(std::string("MoveSettings: ") + e.what());
    }
    hostMessage("moved " + std::to_string(entries.size()) + " settings of " + app + " into " + settingsFile().string());
}

void EmbeddedHost::WriteLog(const std::string& source, const std::string& message) { log_.write(source, message); }

// ---- scripts and programs

void EmbeddedHost::RunEx(const std::string& scriptFile, const std::string& procedure, const std::string& parameter) {
    host::HostRun run{
        .kind = host::HostRun::Kind::RunEx, .file = scriptFile, .procedure = procedure, .parameter = parameter};
    const auto script = files::resolveNoCase(hostDir_, "scripts/" + scriptFile);
    std::error_code ec;
    const bool present = script && fs::is_regular_file(*script, ec);
    if (present && isExecutableFile(*script)) {
        run.started = true;
        run.result = launcher_.run(script->string(), quoted(procedure) + " " + quoted(parameter), true);
    }
    hostMessage(host::describe(run));
    runs_.push_back(std::move(run));
    // No script is no error (the scripts are optional); one that is there and fails is.
    const auto& done = runs_.back();
    const std::string what = "RunEx " + scriptFile + " " + procedure + ": ";
    if (present && !done.started) throw HostError(what + "the script is not executable");
    if (done.started && done.result < 0) throw HostError(what + "the script could not be run");
    if (done.started && done.result != 0)
        throw HostError(what + "the script ended with exit status " + std::to_string(done.result));
}

void EmbeddedHost::Launch(const std::string& programPath, const std::string& parameters) {
    host::HostRun run{.kind = host::HostRun::Kind::Launch, .file = programPath, .parameter = parameters};
    std::string_view path = programPath;
    const bool absolute = !path.empty() && (path.front() == '/' || path.front() == '\\');
    while (!path.empty() && (path.front() == '/' || path.front() == '\\')) path.remove_prefix(1);
    const auto program = files::resolveNoCase(absolute ? fs::path("/") : hostDir_, path);
    std::error_code ec;
    if (program && fs::is_regular_file(*program, ec)) {
        run.started = true;
        run.result = launcher_.run(program->string(), parameters, false);
    }
    hostMessage(host::describe(run));
    runs_.push_back(std::move(run));
}

// ---- events

void EmbeddedHost::record(host::HostEvent event) {
    events_.push_back(std::move(event));
    if (events_.size() > kKeptEvents) events_.pop_front();
    if (onEvent) onEvent(events_.back());
    if (receivers_->empty()) return;
    // Receivers may come and go (and the event leave the records) while it is delivered:
    // one dropped meanwhile is not called any more.
    const std::vector<std::weak_ptr<Subscription::Receiver>> receivers(receivers_->begin(), receivers_->end());
    const host::HostEvent copy = events_.back();
    for (const auto& weak : receivers)
        if (auto r = weak.lock()) (*r)(copy);
}

EmbeddedHost::Subscription EmbeddedHost::subscribe(std::function<void(const host::HostEvent&)> receiver) {
    Subscription s;
    s.receiver_ = std::make_shared<Subscription::Receiver>(std::move(receiver));
    s.list_ = receivers_;
    receivers_->push_back(s.receiver_);
    return s;
}

EmbeddedHost::Subscription& EmbeddedHost::Subscription::operator=(Subscription&& other) noexcept {
    if (this != &other) {
        reset();
        list_ = std::move(other.list_);
        receiver_ = std::move(other.receiver_);
    }
    return *this;
}

void EmbeddedHost::Subscription::reset() {
    if (auto list = list_.lock()) std::erase(*list, receiver_);
    list_.reset();
    receiver_.reset();
}

std::int32_t EmbeddedHost::nextFreeIOCode() const { return host::nextFreeCode(options_.freeCodeOrder, *table_); }

}  // namespace varnel
