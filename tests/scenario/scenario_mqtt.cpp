// mqtt ... directives: the bridge over the scenario's plug-in, with a broker played by hand.
#include <map>
#include <stdexcept>

#include "bridge/bridge.h"
#include "entities/plugin_view.h"
#include "devices/device_model.h"
#include "fake_transport.h"
#include "scenario_parts.h"

namespace varnel::test {
namespace {

class MqttPart final : public ScenarioPart {
public:
    bool directive(Scenario& s, const std::vector<std::string>& w, const std::string& line) override {
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
        } else if (what == "refuse-next") {
            transport_.refuseNext = true;
        } else if (what == "drop") {
            transport_.drop(w.size() > 2 ? restOf(line, 2) : "connection reset");
        } else if (what == "send" || what == "replay") {
            transport_.send(w.at(2), restOf(line, 3), what == "replay");
        } else if (what == "keep") {  // a message the broker keeps (retained) from someone else
            transport_.retained[w.at(2)] = restOf(line, 3);
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
