#pragma once

// Waits for background work that a normal build finishes well in time. Under
// AddressSanitizer or ThreadSanitizer (Debug, instrumented, on a shared
// machine) the same work runs several times slower: a limit that catches a
// hang in a normal build would only catch slowness there. Only the limit grows;
// what the test waits for stays the same.

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool sanitizedBuild = true;
#else
inline constexpr bool sanitizedBuild = false;
#endif

// The time allowed for work that takes `normalMs` at most in a normal build:
// `factor` times that in a sanitized one.
constexpr int allowForSanitizers(int normalMs, int factor = 4)
{
    return sanitizedBuild ? normalMs * factor : normalMs;
}
