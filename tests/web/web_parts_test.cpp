// The pieces of the web page that need no socket: where it listens, the password
// hash, a client's queue, sessions and the login limit.
#include <gtest/gtest.h>

#include <variant>

#include "web/bind_address.h"
#include "web/live_queue.h"
#include "web/password.h"
#include "web/sessions.h"

namespace varnel::web {
namespace {

TEST(BindAddress, parses_port_and_address_or_names_what_is_wrong) {
    struct Case {
        const char* text;
        const char* host;  // null: refused
        int port;
        bool loopback;
    };
    const Case cases[] = {
        {"8099", "127.0.0.1", 8099, true},
        {"127.0.0.1:8099", "127.0.0.1", 8099, true},
        {"localhost:80", "127.0.0.1", 80, true},
        {"0.0.0.0:8099", "0.0.0.0", 8099, false},
        {"192.168.1.5:1", "192.168.1.5", 1, false},
        {"[::1]:8099", "::1", 8099, true},
        {"[::]:8099", "::", 8099, false},
        {"0", nullptr, 0, false},
        {"65536", nullptr, 0, false},
        {"", nullptr, 0, false},
        {"8099x", nullptr, 0, false},
        {":8099", nullptr, 0, false},
        {"::1:8099", nullptr, 0, false},
        {"example.org:8099", nullptr, 0, false},
        {"-1", nullptr, 0, false},
    };
    for (const auto& c : cases) {
        const auto got = parseBindAddress(c.text);
        if (!c.host) {
            EXPECT_TRUE(std::holds_alternative<std::string>(got)) << c.text;
            continue;
        }
        ASSERT_TRUE(std::holds_alternative<BindAddress>(got)) << c.text << ": " << std::get<std::string>(got);
        const auto& b = std::get<BindAddress>(got);
        EXPECT_EQ(b.host, c.host) << c.text;
        EXPECT_EQ(b.port, c.port) << c.text;
        EXPECT_EQ(b.loopback(), c.loopback) << c.text;
    }
    EXPECT_EQ(std::get<BindAddress>(parseBindAddress("[::1]:8099")).url(), "http://[::1]:8099/");
    EXPECT_EQ(std::get<BindAddress>(parseBindAddress("8099")).url(), "http://127.0.0.1:8099/");
}

TEST(Password, a_hash_accepts_its_password_only_and_never_holds_it) {
    const std::string hash = hashPassword("correct horse", 1000);
    EXPECT_EQ(hash.find("correct"), std::string::npos);
    EXPECT_FALSE(hashProblem(hash));
    EXPECT_TRUE(passwordMatches("correct horse", hash));
    EXPECT_FALSE(passwordMatches("correct hors", hash));
    EXPECT_FALSE(passwordMatches("", hash));
    EXPECT_NE(hashPassword("correct horse", 1000), hash) << "salted: the same password hashes differently";
    EXPECT_FALSE(passwordMatches(std::string(kMaxPasswordBytes + 1, 'x'), hash));
}

TEST(Password, a_damaged_or_foreign_hash_is_refused_with_a_reason) {
    const std::string good = hashPassword("pw", 1000);
    const auto parts = [&] {
        std::vector<std::string> p;
        std::string rest = good;
        for (auto at = rest.find('$'); at != std::string::npos; at = rest.find('$')) {
            p.push_back(rest.substr(0, at));
            rest.erase(0, at + 1);
        }
        p.push_back(rest);
        return p;
    }();
    ASSERT_EQ(parts.size(), 4u);
    const std::string bad[] = {
        "",
        "pw",
        "md5$1000$" + parts[2] + "$" + parts[3],
        "pbkdf2-sha256$999$" + parts[2] + "$" + parts[3],
        "pbkdf2-sha256$x$" + parts[2] + "$" + parts[3],
        "pbkdf2-sha256$99999999999$" + parts[2] + "$" + parts[3],
        "pbkdf2-sha256$1000$!!$" + parts[3],
        "pbkdf2-sha256$1000$" + parts[2] + "$" + parts[3].substr(4),
        good + "$",
    };
    for (const auto& b : bad) {
        EXPECT_TRUE(hashProblem(b)) << b;
        EXPECT_FALSE(passwordMatches("pw", b)) << b;
    }
}

TEST(LiveQueue, changes_to_one_thing_merge_in_place_and_the_bound_holds) {
    LiveQueue q(3);
    EXPECT_TRUE(q.push({"v1", "a"}));
    EXPECT_TRUE(q.push({"", "event"}));
    EXPECT_TRUE(q.push({"v1", "b"}));  // replaces "a" where it stood
    EXPECT_TRUE(q.push({"v2", "c"}));
    EXPECT_EQ(q.size(), 3u);
    EXPECT_FALSE(q.push({"", "one too many"}));
    EXPECT_TRUE(q.push({"v2", "d"})) << "a merge needs no room";
    EXPECT_EQ(q.pop(), "b");
    EXPECT_TRUE(q.push({"v1", "e"})) << "v1 left the queue: a new entry at the end";
    EXPECT_EQ(q.pop(), "event");
    EXPECT_EQ(q.pop(), "d");
    EXPECT_EQ(q.pop(), "e");
    EXPECT_FALSE(q.pop());
}

TEST(Sessions, a_session_lives_until_closed_or_idle_too_long_and_their_number_is_bounded) {
    Sessions s;
    auto [token, session] = s.open(0);
    EXPECT_EQ(token.size(), 64u);
    EXPECT_NE(session.csrf, token);
    ASSERT_TRUE(s.use(token, 1000));
    EXPECT_EQ(s.use(token, 1000)->csrf, session.csrf);
    EXPECT_FALSE(s.use(token + "0", 1000));
    EXPECT_FALSE(s.use("", 1000));
    constexpr std::int64_t week = 7LL * 24 * 3600 * 1000;
    EXPECT_TRUE(s.use(token, 1000 + week)) << "each use keeps it alive";
    EXPECT_FALSE(s.use(token, 2001 + 2 * week));

    auto [second, _] = s.open(0);
    s.close(second);
    EXPECT_FALSE(s.use(second, 1));

    for (std::int64_t i = 0; i < 74; ++i) (void)s.open(i);
    EXPECT_EQ(s.size(), 64u);
}

TEST(LoginLimiter, five_wrong_passwords_a_minute_per_address_then_a_wait) {
    LoginLimiter l;
    for (int i = 0; i < 5; ++i) {
        EXPECT_FALSE(l.wait("10.0.0.1", 1000 * i)) << i;
        l.failed("10.0.0.1", 1000 * i);
    }
    ASSERT_TRUE(l.wait("10.0.0.1", 5000));
    EXPECT_EQ(*l.wait("10.0.0.1", 5000), 55);
    EXPECT_FALSE(l.wait("10.0.0.2", 5000)) << "another address is not held up";
    EXPECT_FALSE(l.wait("10.0.0.1", 60'000)) << "the window has passed";
    for (int i = 0; i < 2000; ++i) l.failed("a" + std::to_string(i), 0);  // bounded memory, no crash
    EXPECT_FALSE(l.wait("10.0.0.3", 0));
}

}  // namespace
}  // namespace varnel::web
