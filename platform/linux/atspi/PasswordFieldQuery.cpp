#include "platform/linux/atspi/PasswordFieldQuery.hpp"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <atspi/atspi.h>

#include <chrono>
#include <deque>
#include <optional>
#include <thread>

#include "KestruneRemoteKit/Support/Log.hpp"
#include "platform/linux/x11/X11Connection.hpp"

namespace kestrune::atspi {

namespace {

using Clock = std::chrono::steady_clock;

// Each call to another application may take this long before it counts as no answer.
constexpr std::chrono::milliseconds callTimeout{500};
// How long to keep looking for a focused object, and how often.
constexpr std::chrono::milliseconds focusDeadline{3000};
constexpr std::chrono::milliseconds retryInterval{250};
// Bounds the walk of an accessibility tree for applications without the Collection interface.
constexpr int maxVisitedObjects = 5000;
// How far up from the focused X window to look for the owning process.
constexpr int maxAncestors = 16;

template <typename T>
struct Unref {
    void operator()(T* object) const {
        if (object) g_object_unref(object);
    }
};
template <typename T>
using Ref = std::unique_ptr<T, Unref<T>>;

void clear(GError*& error) {
    if (error) g_error_free(error);
    error = nullptr;
}

// The process owning the window with the keyboard focus, from _NET_WM_PID.
std::optional<guint> focusedProcess() {
    auto connection = x11::Connection::open("password field check");
    if (!connection) return std::nullopt;
    Display* display = connection->display();
    x11::ErrorTrap trap(display);
    Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
    Window window = None;
    int revert = 0;
    XGetInputFocus(display, &window, &revert);
    for (int depth = 0; depth < maxAncestors && window != None && window != PointerRoot; ++depth) {
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(display, window, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format,
                               &count, &after, &data) == Success &&
            data != nullptr) {
            std::optional<guint> pid;
            if (format == 32 && count == 1)
                pid = static_cast<guint>(*reinterpret_cast<long*>(data));
            XFree(data);
            if (pid) return pid;
        }
        Window root = None, parent = None;
        Window* children = nullptr;
        unsigned int childCount = 0;
        if (!XQueryTree(display, window, &root, &parent, &children, &childCount)) break;
        if (children) XFree(children);
        if (parent == root) break;
        window = parent;
    }
    return std::nullopt;
}

bool hasFocusedState(AtspiAccessible* object) {
    Ref<AtspiStateSet> states(atspi_accessible_get_state_set(object));
    return states && atspi_state_set_contains(states.get(), ATSPI_STATE_FOCUSED);
}

// The focused descendant through the Collection interface: one call answered by the application.
std::optional<Ref<AtspiAccessible>> focusedThroughCollection(AtspiAccessible* application) {
    Ref<AtspiCollection> collection(atspi_accessible_get_collection_iface(application));
    if (!collection) return std::nullopt;
    GArray* wanted = g_array_new(FALSE, FALSE, sizeof(AtspiStateType));
    AtspiStateType focused = ATSPI_STATE_FOCUSED;
    g_array_append_val(wanted, focused);
    Ref<AtspiStateSet> states(atspi_state_set_new(wanted));
    g_array_free(wanted, TRUE);
    Ref<AtspiMatchRule> rule(atspi_match_rule_new(
        states.get(), ATSPI_Collection_MATCH_ALL, nullptr, ATSPI_Collection_MATCH_ALL, nullptr,
        ATSPI_Collection_MATCH_ALL, nullptr, ATSPI_Collection_MATCH_ALL, FALSE));
    GError* error = nullptr;
    GArray* matches = atspi_collection_get_matches(
        collection.get(), rule.get(), ATSPI_Collection_SORT_ORDER_CANONICAL, 1, TRUE, &error);
    if (error || matches == nullptr) {
        clear(error);
        return std::nullopt;
    }
    std::optional<Ref<AtspiAccessible>> found = Ref<AtspiAccessible>();
    if (matches->len > 0) {
        found = Ref<AtspiAccessible>(g_array_index(matches, AtspiAccessible*, 0));
        for (guint i = 1; i < matches->len; ++i)
            g_object_unref(g_array_index(matches, AtspiAccessible*, i));
    }
    g_array_free(matches, TRUE);
    return found;
}

// The focused descendant by walking the tree, for applications without Collection.
Ref<AtspiAccessible> focusedByWalking(AtspiAccessible* application) {
    atspi_accessible_clear_cache(application);
    std::deque<Ref<AtspiAccessible>> queue;
    queue.emplace_back(static_cast<AtspiAccessible*>(g_object_ref(application)));
    int visited = 0;
    while (!queue.empty() && visited++ < maxVisitedObjects) {
        Ref<AtspiAccessible> object = std::move(queue.front());
        queue.pop_front();
        if (visited > 1 && hasFocusedState(object.get())) return object;
        GError* error = nullptr;
        gint children = atspi_accessible_get_child_count(object.get(), &error);
        clear(error);
        for (gint i = 0; i < children; ++i) {
            AtspiAccessible* child = atspi_accessible_get_child_at_index(object.get(), i, &error);
            clear(error);
            if (child) queue.emplace_back(child);
        }
    }
    return nullptr;
}

Ref<AtspiAccessible> focusedObject(std::optional<guint> process) {
    Ref<AtspiAccessible> desktop(atspi_get_desktop(0));
    if (!desktop) return nullptr;
    GError* error = nullptr;
    gint count = atspi_accessible_get_child_count(desktop.get(), &error);
    clear(error);
    for (gint i = 0; i < count; ++i) {
        Ref<AtspiAccessible> application(
            atspi_accessible_get_child_at_index(desktop.get(), i, &error));
        clear(error);
        if (!application) continue;
        if (process) {
            guint pid = atspi_accessible_get_process_id(application.get(), &error);
            clear(error);
            if (pid != *process) continue;
        }
        auto found = focusedThroughCollection(application.get());
        if (!found) found = focusedByWalking(application.get());
        if (*found) return std::move(*found);
    }
    return nullptr;
}

}  // namespace

bool isPasswordFieldFocused() {
    static const bool ready = [] {
        if (atspi_init() > 1) return false;
        atspi_set_timeout(static_cast<gint>(callTimeout.count()),
                          static_cast<gint>(callTimeout.count()));
        return true;
    }();
    if (!ready) {
        log(LogLevel::warning, "accessibility", "the accessibility bus is not reachable");
        return false;
    }
    auto process = focusedProcess();
    auto deadline = Clock::now() + focusDeadline;
    while (true) {
        if (auto object = focusedObject(process)) {
            GError* error = nullptr;
            AtspiRole role = atspi_accessible_get_role(object.get(), &error);
            clear(error);
            return role == ATSPI_ROLE_PASSWORD_TEXT;
        }
        if (Clock::now() + retryInterval >= deadline) return false;
        std::this_thread::sleep_for(retryInterval);
    }
}

}  // namespace kestrune::atspi
