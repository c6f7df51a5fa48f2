#pragma once
// The two ways a procedure traps errors: skip the failing step and go on
// (the error stays pending, as the host's runtime leaves it), or report it
// under the procedure's name and go on. Every procedure uses one of these.
#include <exception>
#include <string>
#include <utility>

#include "support/core.h"
#include "support/logging.h"

namespace varnel {

// Runs one step; a failure becomes the pending error and is otherwise ignored.
template <class F>
bool skipStep(Core& ctx, int step, F&& fn) noexcept {
    try {
        std::forward<F>(fn)();
        return true;
    } catch (const std::exception& e) {
        ctx.error = {true, step, e.what()};
    } catch (...) {
        ctx.error = {true, step, "Unknown error"};
    }
    return false;
}

// Reports a pending error under `procedure` (source "Varnel"); false when none was pending.
inline bool reportPending(Core& ctx, const std::string& procedure) noexcept {
    if (!ctx.error.pending) return false;
    const PendingError e = ctx.error;
    ctx.error = {};
    try {
        logEntry(ctx, kSourceVarnel, procedure, e.step, e.description);
    } catch (...) {
    }
    return true;
}

// Clears a pending error without a message.
inline void clearPending(Core& ctx) noexcept { ctx.error = {}; }

// Runs one step; a failure is reported under `procedure` and the caller goes on.
template <class F>
bool reportStep(Core& ctx, const std::string& procedure, int step, F&& fn) noexcept {
    if (skipStep(ctx, step, std::forward<F>(fn))) return true;
    reportPending(ctx, procedure);
    return false;
}

}  // namespace varnel
