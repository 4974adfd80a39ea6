#pragma once

#include <glib-object.h>

#include <memory>

namespace kestrune {

// Starts libvips once per process (thread-safe); later calls return at once.
void ensureVipsStarted();

struct GObjectUnref {
    void operator()(void* object) const {
        if (object != nullptr) g_object_unref(object);
    }
};
template <typename T>
using VipsObjectPtr = std::unique_ptr<T, GObjectUnref>;

}  // namespace kestrune
