// Whether the tests run under the address sanitizer, whose build keeps no
// heap of its own and whose shadow memory outgrows any address-space limit.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif

// The same for ThreadSanitizer, which starts no thread in a child forked from
// a process with threads.
#if defined(__SANITIZE_THREAD__)
inline constexpr bool kThreadSanitized = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
inline constexpr bool kThreadSanitized = true;
#else
inline constexpr bool kThreadSanitized = false;
#endif
#else
inline constexpr bool kThreadSanitized = false;
#endif
