#pragma once
// Working buffers that belong to one fitter object and are not part of what
// it has learnt: copying the fitter (a run keeps a copy of its method state
// to measure a frame again) copies none of them, and the copy's buffers keep
// their own storage, so neither side allocates for it.
namespace corvane {

template <class T> struct Scratch {
    T value;

    Scratch() = default;
    Scratch(const Scratch&) : value() {}
    Scratch& operator=(const Scratch&) { return *this; }
    Scratch(Scratch&&) noexcept = default;
    Scratch& operator=(Scratch&&) noexcept = default;
    ~Scratch() = default;
};

} // namespace corvane
