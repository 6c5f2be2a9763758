/*
 * Reading the camera handle's fields, which the link's receive thread writes
 * while the GUI thread reads them: whole-field relaxed atomic loads.
 */
#ifndef SHELL_CAMERAFIELDS_H
#define SHELL_CAMERAFIELDS_H

#include "tavrin/tavrin.h"

#include <QString>
#include <atomic>

namespace CameraFields {

template <typename T> T load(const T &field)
{
    return std::atomic_ref<T>(const_cast<T &>(field)).load(std::memory_order_relaxed);
}

template <typename T> void store(T &field, T value)
{
    std::atomic_ref<T>(field).store(value, std::memory_order_relaxed);
}

/* A NUL-terminated text field of the handle, byte by byte. */
template <size_t N> QString text(const char (&field)[N])
{
    QByteArray bytes;
    for (size_t i = 0; i < N; ++i) {
        const char c = load(field[i]);
        if (c == '\0')
            break;
        bytes.append(c);
    }
    return QString::fromLatin1(bytes);
}

} // namespace CameraFields

#endif
