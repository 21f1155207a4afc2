// Formatting of the run log's lines and the secrets they must not show.
#include "base/run_log.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
LogSink* volatile currentSink = nullptr;

// Filled one slot at a time and published by the count, so that a thread
// writing a line meanwhile sees only whole secrets.
const int kSecretSize = 260;
char secrets[kMaxLogSecrets][kSecretSize];
std::atomic<int> secretCount(0);
std::atomic<int> secretsClaimed(0);
}  // namespace

void SetLogSink(LogSink* sink) { currentSink = sink; }

LogSink* GetLogSink() { return currentSink; }

void AddLogSecret(const char* secret) {
    if (!secret || static_cast<int>(std::strlen(secret)) < kMinSecretLength) return;
    int known = secretCount.load();
    for (int i = 0; i < known; ++i)
        if (std::strcmp(secrets[i], secret) == 0) return;
    int slot = secretsClaimed.fetch_add(1);
    if (slot >= kMaxLogSecrets) return;
    // A secret longer than the slot would be masked only in part; such a
    // one is kept to its first characters, which still hide what follows.
    std::snprintf(secrets[slot], kSecretSize, "%s", secret);
    // Slots are claimed in order; publish once the earlier ones are in.
    int expected = slot;
    while (!secretCount.compare_exchange_weak(expected, slot + 1)) expected = slot;
}

void ClearLogSecrets() {
    secretCount.store(0);
    secretsClaimed.store(0);
}

void LogEventV(const char* format, va_list args) {
    LogSink* sink = currentSink;
    if (!sink || !format) return;
    // The text is formatted whole and cut only once its secrets are masked:
    // a cut before that could leave the first characters of one behind.
    char small[1024];
    char* text = small;
    va_list again;
    va_copy(again, args);
    int needed = std::vsnprintf(small, sizeof small, format, args);
    if (needed >= static_cast<int>(sizeof small)) {
        text = static_cast<char*>(std::malloc(static_cast<size_t>(needed) + 1));
        if (text) std::vsnprintf(text, static_cast<size_t>(needed) + 1, format, again);
    }
    va_end(again);
    if (!text || needed < 0) return;
    const char* known[kMaxLogSecrets];
    int count = secretCount.load();
    for (int i = 0; i < count; ++i) known[i] = secrets[i];
    // "***" is never longer than a secret it replaces.
    size_t length = std::strlen(text);
    char* replaced = static_cast<char*>(std::malloc(length + 1));
    if (replaced) {
        ReplaceSecrets(text, known, count, replaced, static_cast<int>(length + 1));
        LogTime now = {};
        sink->Now(&now);
        char line[kLogLineSize];
        int written = FormatLogLine(now, replaced, line, sizeof line);
        if (written > 0) sink->Write(line, written);
        std::free(replaced);
    }
    if (text != small) std::free(text);
}

void LogEvent(const char* format, ...) {
    va_list args;
    va_start(args, format);
    LogEventV(format, args);
    va_end(args);
}
