#pragma once
// Whether this build runs under AddressSanitizer or ThreadSanitizer, whose
// shadow memory no address-space limit holds: gcc says so with a macro, clang
// only through __has_feature.

namespace krel::test {

constexpr bool sanitized() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    return true;
#else
    return false;
#endif
#else
    return false;
#endif
}

}  // namespace krel::test
