// One owner for every kind of system handle: a file descriptor, a Windows handle, a registry key, a
// device context. Traits say what the handle is, which value is empty and how it is released.
#pragma once

#include <utility>

namespace nerova::platform {

// Traits: `using Handle = ...;`, `static Handle empty();` and `static void close(Handle);`.
template <typename Traits>
class Owned {
public:
    using Handle = typename Traits::Handle;
    Owned() = default;
    explicit Owned(Handle handle) : handle_(handle) {}
    ~Owned() { reset(); }
    Owned(Owned&& other) noexcept : handle_(other.release()) {}
    Owned& operator=(Owned&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = other.release();
        }
        return *this;
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;

    Handle get() const { return handle_; }
    explicit operator bool() const { return handle_ != Traits::empty(); }
    // For calls that hand a new handle out through a pointer.
    Handle* out() {
        reset();
        return &handle_;
    }
    // Gives the handle up without releasing it.
    Handle release() { return std::exchange(handle_, Traits::empty()); }
    void reset() {
        if (handle_ != Traits::empty()) Traits::close(handle_);
        handle_ = Traits::empty();
    }

private:
    Handle handle_ = Traits::empty();
};

}  // namespace nerova::platform
