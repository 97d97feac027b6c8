// The C++ runtime entry points a freestanding build may call for. There is no
// C++ runtime library in a UEFI application, so what the compiler references
// is defined here over the platform's pool.
#include <bits/functexcept.h>

#include <cstddef>
#include <new>

#include "platform/platform.h"

extern "C" {

// A call through an unset pure virtual function is a programming error; stop
// on the spot instead of jumping to address 0.
void __cxa_pure_virtual() { __builtin_trap(); }

// Destructors of function-local statics would be registered here. The
// application ends by returning to the shell, which frees its image and pool;
// nothing has to run at exit.
int __cxa_atexit(void (*)(void *), void *, void *) { return 0; }
void *__dso_handle = nullptr;

}  // extern "C"

void *operator new(std::size_t size) { return PlatAllocateZeroPool(size); }
void *operator new[](std::size_t size) { return PlatAllocateZeroPool(size); }
void *operator new(std::size_t size, const std::nothrow_t &) noexcept {
  return PlatAllocateZeroPool(size);
}
void *operator new[](std::size_t size, const std::nothrow_t &) noexcept {
  return PlatAllocateZeroPool(size);
}
void operator delete(void *p) noexcept { PlatFreePool(p); }
void operator delete[](void *p) noexcept { PlatFreePool(p); }
void operator delete(void *p, std::size_t) noexcept { PlatFreePool(p); }
void operator delete[](void *p, std::size_t) noexcept { PlatFreePool(p); }

// Built without exceptions, the standard headers still call these helpers
// where a checked operation fails (string_view::substr past the end, ...).
// Each such call is a programming error; stop where it happened.
namespace std {
void __throw_bad_exception() { __builtin_trap(); }
void __throw_bad_alloc() { __builtin_trap(); }
void __throw_bad_array_new_length() { __builtin_trap(); }
void __throw_bad_cast() { __builtin_trap(); }
void __throw_bad_typeid() { __builtin_trap(); }
void __throw_logic_error(const char *) { __builtin_trap(); }
void __throw_domain_error(const char *) { __builtin_trap(); }
void __throw_invalid_argument(const char *) { __builtin_trap(); }
void __throw_length_error(const char *) { __builtin_trap(); }
void __throw_out_of_range(const char *) { __builtin_trap(); }
void __throw_out_of_range_fmt(const char *, ...) { __builtin_trap(); }
void __throw_runtime_error(const char *) { __builtin_trap(); }
void __throw_range_error(const char *) { __builtin_trap(); }
void __throw_overflow_error(const char *) { __builtin_trap(); }
void __throw_underflow_error(const char *) { __builtin_trap(); }
void __throw_bad_function_call() { __builtin_trap(); }
}  // namespace std
