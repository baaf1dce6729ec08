#pragma once

#include <string>
#include <utility>
#include <variant>

// Why an operation failed, worded so that it can be shown to the user as it stands
// ("Cannot open file /home/a/x.cfg"), with the errno of the failing system call and the file the
// failure concerns when there are such.
struct Failure {
    std::string reason;
    int error = 0;
    std::string path = {};
};

// The outcome of an operation that can fail with a reason: a value, or the Failure. Every
// operation of the program that reports why it failed returns one. Its members are named as
// std::expected's, which GCC 12 offers only with C++23 and clang 14's libFuzzer build not at all.
template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(Failure failure) : state_(std::in_place_index<1>, std::move(failure)) {}

    bool has_value() const { return state_.index() == 0; }
    explicit operator bool() const { return has_value(); }
    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T&& operator*() && { return std::move(*this).value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    const Failure& error() const { return std::get<1>(state_); }

private:
    std::variant<T, Failure> state_;
};

template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Failure failure) : failure_(std::move(failure)), ok_(false) {}

    bool has_value() const { return ok_; }
    explicit operator bool() const { return ok_; }
    const Failure& error() const { return failure_; }

private:
    Failure failure_;
    bool ok_ = true;
};
