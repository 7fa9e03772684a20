#pragma once

#include <unknwn.h>

#include <utility>

namespace pellix {

// Owns one COM reference. Adopting a pointer takes over a reference the caller already holds
// (the usual out-parameter convention); copying adds one.
template <class T> class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    ComPtr(const ComPtr& other) : pointer_(other.pointer_) { add_ref(); }
    ComPtr(ComPtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
    ~ComPtr() { reset(); }

    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(pointer_, other.pointer_);
        return *this;
    }

    // Takes ownership of a reference the caller already holds.
    static ComPtr adopt(T* pointer) {
        ComPtr result;
        result.pointer_ = pointer;
        return result;
    }

    // Adds a reference of its own.
    static ComPtr share(T* pointer) {
        ComPtr result;
        result.pointer_ = pointer;
        result.add_ref();
        return result;
    }

    T* get() const { return pointer_; }
    T* operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }

    // Hands the reference to the caller.
    T* detach() { return std::exchange(pointer_, nullptr); }

    void reset() {
        if (T* old = std::exchange(pointer_, nullptr)) {
            old->Release();
        }
    }

    // For out-parameters: releases what is held and returns the slot to fill.
    T** put() {
        reset();
        return &pointer_;
    }

private:
    void add_ref() {
        if (pointer_) {
            pointer_->AddRef();
        }
    }

    T* pointer_ = nullptr;
};

} // namespace pellix
