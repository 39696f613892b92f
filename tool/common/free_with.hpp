// One deleter for C libraries' objects (FFmpeg, GLib): each is freed by its
// own library call, on every path out of a scope.
#pragma once

#include <memory>
#include <type_traits>

namespace mp {

// A deleter that hands the object to `Free`, which takes either the pointer
// or, as most FFmpeg free functions do, its address. The pointer is tried
// first: a function taking `void*` (GLib's) would accept the address too.
template <auto Free>
struct FreeWith {
    template <typename T>
    void operator()(T* object) const
    {
        if constexpr (std::is_invocable_v<decltype(Free), T*>)
            Free(object);
        else
            Free(&object);
    }
};

template <typename T, auto Free>
using FreedPtr = std::unique_ptr<T, FreeWith<Free>>;

}  // namespace mp
