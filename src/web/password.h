#pragma once
// The page's password, kept only as a salted hash:
//   pbkdf2-sha256$ITERATIONS$SALT$HASH   (salt and hash in base64)
// A hash is checked where it is read (settings are untrusted), and a password is
// compared in time that does not depend on where it differs.
#include <optional>
#include <string>
#include <string_view>

namespace varnel::web {

// Enough to make guessing from a stolen settings file slow, while one login keeps the
// event loop busy for tens of milliseconds only (logins are rate-limited as well).
inline constexpr int kHashIterations = 20000;
// Longer passwords are refused rather than hashed: the hashing time grows with them.
inline constexpr std::size_t kMaxPasswordBytes = 1024;

// A new salted hash of `password`.
[[nodiscard]] std::string hashPassword(std::string_view password, int iterations = kHashIterations);

// What is wrong with a stored hash, in one line; nothing when it can be used.
[[nodiscard]] std::optional<std::string> hashProblem(std::string_view stored);

// True when `password` is the one `stored` was made from (false for an unusable hash).
[[nodiscard]] bool passwordMatches(std::string_view password, std::string_view stored);

}  // namespace varnel::web
