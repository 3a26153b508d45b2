#pragma once

#include <functional>

// A two-way link to a value that another view owns: the owner decides where
// the value lives and what a write does (for example, marshal it to the main
// thread and redraw).
template <typename T>
struct Binding {
    std::function<T()> get;
    std::function<void(T)> set;

    T wrappedValue() const { return get(); }
};
