/* Reading the library's shared records in tests as the program does: relaxed atomic loads. */
#ifndef TESTS_RECORD_FIELDS_H
#define TESTS_RECORD_FIELDS_H

#include <atomic>
#include <cstddef>
#include <string>

template <typename T> T get(T &field)
{
    return std::atomic_ref<T>(field).load(std::memory_order_relaxed);
}

/* A NUL-terminated text field, byte by byte. */
template <size_t N> std::string text(char (&field)[N])
{
    std::string out;
    for (size_t i = 0; i < N && get(field[i]) != '\0'; ++i)
        out += get(field[i]);
    return out;
}

#endif
