// mqtt ... directives: the bridge over the scenario's plug-in, with a broker played by hand.
#include <map>
#include <stdexcept>

#include "bridge/bridge.h"
#include "bridge/installation.h"
#include "bridge/settings.h"
#include "bridge/text.h"
#include "devices/device_model.h"
#include "entities/plugin_view.h"
#include "fake_transport.h"
#include "scenario_parts.h"
#include "support/escape.h"

namespace varnel::test {
namespace {

std::string address(const bridge::BrokerAddress& a) {
    return std::string(a.tls ? "tls " : "plain ") + a.host + " port " + std::to_string(a.port);
}

// parse broker-url|topic-root|identity|plugin-settings|utf8 TEXT, parse mqtt-settings
// cli.url=.. file.KEY=.. env.NAME=..: the bridge's readers of text from outside.
bool readers(Transcript& t, const std::vector<std::string>& w, const std::string& line) {
    if (w[0] != "parse" || w.size() < 2) return false;
    const std::string text = restOf(line, 2);
    const auto problem = [](const std::optional<std::string>& p) { return p ? "refused: " + *p : std::string("ok"); };
    if (w[1] == "broker-url") {
        const auto r = bridge::parseBrokerUrl(text);
        const auto* a = std::get_if<bridge::BrokerAddress>(&r);
        t.line("  " + (a ? address(*a) : "refused: " + std::get<std::string>(r)));
    } else if (w[1] == "topic-root") {
        t.line("  " + problem(bridge::topicRootProblem(text)));
    } else if (w[1] == "identity") {
        t.line("  " + problem(bridge::identityProblem(text)));
    } else if (w[1] == "plugin-settings") {
        t.line(bridge::holdsPluginSettings(text) ? "  holds the plug-in's settings" : "  no plug-in settings");
    } else if (w[1] == "utf8") {
        t.line("  " + escaped(bridge::toUtf8(text)));
    } else if (w[1] == "mqtt-settings") {
        bridge::CommandLineMqtt cli;
        std::map<std::string, std::string> file, env;
        for (std::size_t i = 2; i < w.size(); ++i) {
            const auto eq = w[i].find('=');
            const std::string k = w[i].substr(0, eq), v = eq == std::string::npos ? "" : w[i].substr(eq + 1);
            if (k == "cli.url")
                cli.url = v;
            else if (k == "cli.ca")
                cli.caFile = v;
            else if (k == "cli.base")
                cli.baseTopic = v;
            else if (k == "cli.prefix")
                cli.discoveryPrefix = v;
            else if (k.starts_with("file."))
                file[k.substr(5)] = v;
            else if (k.starts_with("env."))
                env[k.substr(4)] = v;
            else
                throw std::invalid_argument("mqtt-settings: " + k);
        }
        const auto in = [](const std::map<std::string, std::string>& m) {
            return [&m](const std::string& k) -> std::optional<std::string> {
                const auto it = m.find(k);
                return it == m.end() ? std::nullopt : std::optional(it->second);
            };
        };
        const auto r = bridge::resolveMqttSettings(cli, in(file), in(env), "3f9a1c2b7e4d");
        if (const auto* e = std::get_if<std::string>(&r)) return t.line("  refused: " + *e), true;
        const auto& m = std::get<std::optional<bridge::MqttSettings>>(r);
        t.line(m ? "  " + address(m->broker) + ", ca \"" + m->caFile + "\", user \"" + m->username + "\", password \"" +
                       m->password + "\", base " + m->baseTopic + ", prefix " + m->discoveryPrefix + ", client " +
                       m->clientId
                 : std::string("  no bridge"));
    } else if (w[1] == "installation") {
        // parse installation ID|- LEGACY USED-BEFORE: what a host directory's settings settle on
        std::string saved;
        const auto got = bridge::settleInstallation(
            w.at(2) == "-" ? std::nullopt : std::optional(w[2]), w.at(3) == "1", w.at(4) == "1",
            [&](std::string_view k, const std::string& v) { saved += " " + std::string(k) + "=" + v; },
            [] { return std::string("made1"); });
        t.line("  " + got.id + (got.legacyIds ? " with legacy ids" : "") + "; saved" +
               (saved.empty() ? " nothing" : saved));
    } else {
        return false;
    }
    return true;
}

class MqttPart final : public ScenarioPart {
public:
    bool directive(Scenario& s, const std::vector<std::string>& w, const std::string& line) override {
        if (readers(s.transcript, w, line)) return true;
        if (w[0] != "mqtt") return false;
        const std::string& what = w.at(1);
        auto& o = options_;
        if (what == "option") {
            const std::string& k = w.at(2);
            const std::string v = w.size() > 3 ? w[3] : "";
            const std::map<std::string, int*> ints{{"claim-wait", &o.claimWaitMs},
                                                   {"alive", &o.aliveMs},
                                                   {"scan", &o.scanMs},
                                                   {"poll-room", &o.pollRoomMs},
                                                   {"first-pause", &o.firstPauseMs},
                                                   {"max-pause", &o.maxPauseMs},
                                                   {"log-lines", &o.logLines},
                                                   {"connect-timeout", &o.connectTimeoutMs}};
            if (k == "base")
                o.baseTopic = v;
            else if (k == "prefix")
                o.discoveryPrefix = v;
            else if (k == "installation")
                o.installation = v;
            else if (k == "legacy-ids")
                o.legacyIds = v == "on";
            else if (k == "max-waiting")
                o.maxWaiting = std::stoul(v);
            else if (ints.contains(k))
                *ints.at(k) = std::stoi(v);
            else
                throw std::invalid_argument("mqtt option: " + k);
            return true;
        }
        s.build();
        if (what == "start") {
            if (o.installation.empty()) {
                o.installation = "a1b2c3d4e5f6";
                o.legacyIds = true;
            }
            o.version = "9.9";
            o.brokerName = "mqtt://broker:1883";
            transport_.loop = &s.rig->loop;
            transport_.trace = [&s](const std::string& t) { s.transcript.line("mqtt " + t); };
            view_ = std::make_unique<entities::PluginView>(*s.rig->plugin);
            bridge_ =
                std::make_unique<bridge::Bridge>(o, transport_, s.rig->loop, *s.rig->host, *s.console, *view_,
                                                 [&s](const std::string& l) { s.transcript.line("mqtt log " + l); });
            bridge_->start();
        } else if (what == "stop") {
            bridge_.reset();
        } else if (what == "accept") {
            transport_.accept();
        } else if (what == "accept-pending") {  // the connection attempt under way, if any
            if (transport_.pending) transport_.accept();
        } else if (what == "wait-attempt") {
            // the time until the bridge tries to connect again, to a tenth of a second
            const int before = transport_.attempts;
            const auto start = s.rig->loop.tickMs();
            while (transport_.attempts == before && s.rig->loop.tickMs() - start < 120'000) s.rig->run(100);
            s.transcript.line("  next attempt after " +
                              std::to_string((s.rig->loop.tickMs() - start + 50) / 100 * 100) + " ms");
        } else if (what == "refuse-next") {
            transport_.refuseNext = true;
        } else if (what == "drop") {
            transport_.drop(w.size() > 2 ? restOf(line, 2) : "connection reset");
        } else if (what == "send" || what == "replay") {
            transport_.send(w.at(2), restOf(line, 3), what == "replay");
        } else if (what == "keep") {  // a message the broker keeps (retained) from someone else
            transport_.retained[w.at(2)] = restOf(line, 3);
        } else if (what == "echo") {  // off: the broker's own messages come by hand
            transport_.loop = w.at(2) == "on" ? &s.rig->loop : nullptr;
        } else if (what == "retained") {
            const std::string prefix = w.size() > 2 ? w[2] : "";
            for (const auto& [t, p] : transport_.retained)
                if (t.starts_with(prefix)) s.transcript.line("  " + t + " = " + p);
        } else if (what == "scan") {
            bridge_->scan();
        } else if (what == "leopard") {
            CreateLeopardDevice(s.rig->ctx());
            bridge_->scan();
        } else if (what == "state") {
            const auto& c = bridge_->counters();
            s.transcript.line("  " + bridge_->stateText() + "; refused " + std::to_string(c.refused) + ", dropped " +
                              std::to_string(c.dropped) + ", executed " + std::to_string(c.executed) + ", waiting " +
                              std::to_string(bridge_->waiting()) + (bridge_->holding() ? ", holding" : ""));
        } else {
            throw std::invalid_argument("mqtt: " + what);
        }
        return true;
    }
    void ending() override {
        bridge_.reset();
        view_.reset();
        transport_.echoTimer.reset();
        transport_.echoes.clear();
        transport_.loop = nullptr;
    }

private:
    bridge::BridgeOptions options_;
    FakeTransport transport_;
    std::unique_ptr<entities::PluginView> view_;
    std::unique_ptr<bridge::Bridge> bridge_;
};

const bool registered = registerPart([] { return std::make_unique<MqttPart>(); });

}  // namespace

}  // namespace varnel::test
