// Sets a flag for the lifetime of a handler and clears it on every way out,
// a failed device call included, so that an update guard never leaves a
// window deaf to the operator.
#pragma once

class FlagScope {
public:
    explicit FlagScope(bool &flag) : flag_(flag) { flag_ = true; }
    ~FlagScope() { flag_ = false; }
    FlagScope(const FlagScope &) = delete;
    FlagScope &operator=(const FlagScope &) = delete;

private:
    bool &flag_;
};
