#ifndef QUELLMAR_QMX_SANITIZED_H
#define QUELLMAR_QMX_SANITIZED_H

// QMX_SANITIZED is 1 in builds under AddressSanitizer or ThreadSanitizer, whose runtimes own
// the signal handlers and memory limits the tool would otherwise set.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QMX_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QMX_SANITIZED 1
#endif
#endif

#endif
