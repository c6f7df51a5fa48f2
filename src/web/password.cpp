#include "web/password.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QPasswordDigestor>
#include <QRandomGenerator>
#include <charconv>
#include <variant>
#include <vector>

namespace varnel::web {

namespace {

constexpr std::string_view kScheme = "pbkdf2-sha256";
constexpr int kMinIterations = 1000;
constexpr int kMaxIterations = 10'000'000;
constexpr qsizetype kSaltBytes = 16;
constexpr qsizetype kHashBytes = 32;

struct Parsed {
    int iterations = 0;
    QByteArray salt, hash;
};

std::vector<std::string_view> split(std::string_view text, char sep) {
    std::vector<std::string_view> out;
    for (;;) {
        const auto at = text.find(sep);
        out.push_back(text.substr(0, at));
        if (at == std::string_view::npos) return out;
        text.remove_prefix(at + 1);
    }
}

std::optional<QByteArray> base64(std::string_view text) {
    auto decoded = QByteArray::fromBase64Encoding(QByteArray(text.data(), static_cast<qsizetype>(text.size())),
                                                  QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded) return std::nullopt;
    return *decoded;
}

std::variant<Parsed, std::string> parse(std::string_view stored) {
    const auto parts = split(stored, '$');
    if (parts.size() != 4 || parts[0] != kScheme)
        return std::string("is not a password hash made by varnel web-password");
    Parsed p;
    const auto* end = parts[1].data() + parts[1].size();
    const auto [ptr, ec] = std::from_chars(parts[1].data(), end, p.iterations);
    if (ec != std::errc() || ptr != end || p.iterations < kMinIterations || p.iterations > kMaxIterations)
        return "needs an iteration count from " + std::to_string(kMinIterations) + " to " +
               std::to_string(kMaxIterations);
    auto salt = base64(parts[2]);
    auto hash = base64(parts[3]);
    if (!salt || salt->size() < 8 || !hash || hash->size() != kHashBytes)
        return std::string("has a damaged salt or hash (set the password again with varnel web-password)");
    p.salt = std::move(*salt);
    p.hash = std::move(*hash);
    return p;
}

QByteArray derive(std::string_view password, const QByteArray& salt, int iterations) {
    return QPasswordDigestor::deriveKeyPbkdf2(QCryptographicHash::Sha256,
                                              QByteArray(password.data(), static_cast<qsizetype>(password.size())),
                                              salt, iterations, kHashBytes);
}

}  // namespace

std::string hashPassword(std::string_view password, int iterations) {
    QByteArray salt(kSaltBytes, '\0');
    QRandomGenerator::system()->generate(salt.begin(), salt.end());
    const QByteArray hash = derive(password, salt, iterations);
    return std::string(kScheme) + "$" + std::to_string(iterations) + "$" + salt.toBase64().toStdString() + "$" +
           hash.toBase64().toStdString();
}

std::optional<std::string> hashProblem(std::string_view stored) {
    auto parsed = parse(stored);
    if (auto* bad = std::get_if<std::string>(&parsed)) return *bad;
    return std::nullopt;
}

bool passwordMatches(std::string_view password, std::string_view stored) {
    if (password.size() > kMaxPasswordBytes) return false;
    auto parsed = parse(stored);
    const auto* p = std::get_if<Parsed>(&parsed);
    if (!p) return false;
    const QByteArray got = derive(password, p->salt, p->iterations);
    if (got.size() != p->hash.size()) return false;
    unsigned char diff = 0;
    for (qsizetype i = 0; i < got.size(); ++i) diff |= static_cast<unsigned char>(got[i] ^ p->hash[i]);
    return diff == 0;
}

}  // namespace varnel::web
