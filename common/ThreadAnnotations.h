// Clang's thread-safety attributes, so the compiler checks which lock guards
// what; other compilers see nothing.
#pragma once

#if defined(__clang__)
#define PAXELLE_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define PAXELLE_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) PAXELLE_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY PAXELLE_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) PAXELLE_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) PAXELLE_THREAD_ANNOTATION(pt_guarded_by(x))
#define REQUIRES(...) PAXELLE_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) PAXELLE_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) PAXELLE_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define ACQUIRE_SHARED(...) PAXELLE_THREAD_ANNOTATION(acquire_shared_capability(__VA_ARGS__))
#define RELEASE(...) PAXELLE_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define RELEASE_SHARED(...) PAXELLE_THREAD_ANNOTATION(release_shared_capability(__VA_ARGS__))
#define NO_THREAD_SAFETY_ANALYSIS PAXELLE_THREAD_ANNOTATION(no_thread_safety_analysis)
