#include "platform/gtk/atspi_focus_watch.h"

#include <atspi/atspi.h>
#include <gio/gio.h>

#include "core/glib_ptr.h"

namespace glimmet {

namespace {

constexpr const char* kFocusEvent = "object:state-changed:focused";
// Calls to the accessibility bus and to the focused application answer within
// this, or count as unanswered.
constexpr gint kCallTimeoutMs = 250;

// Whether the session runs an accessibility bus. The bus launcher may be
// started for the asking, as it would be for any toolkit that joins the bus.
bool accessibilityBusAnswers() {
  GObjectPtr<GDBusConnection> session(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr));
  if (!session) return false;
  GVariantPtr address(g_dbus_connection_call_sync(
      session.get(), "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", nullptr,
      G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE, 1000, nullptr, nullptr));
  return static_cast<bool>(address);
}

}  // namespace

AtspiFocusWatch::AtspiFocusWatch() {
  if (!accessibilityBusAnswers() || atspi_init() > 1) return;
  atspi_set_timeout(kCallTimeoutMs, -1);
  listener_ = atspi_event_listener_new(focusChanged, this, nullptr);
  GError* raw = nullptr;
  if (!atspi_event_listener_register(listener_, kFocusEvent, &raw)) {
    const GErrorPtr error(raw);
    g_object_unref(listener_);
    listener_ = nullptr;
  }
}

AtspiFocusWatch::~AtspiFocusWatch() {
  if (listener_ == nullptr) return;
  atspi_event_listener_deregister(listener_, kFocusEvent, nullptr);
  g_object_unref(listener_);
  if (focused_ != nullptr) g_object_unref(focused_);
}

void AtspiFocusWatch::focusChanged(AtspiEvent* event, void* data) {
  auto* self = static_cast<AtspiFocusWatch*>(data);
  if (event->detail1 == 1 && event->source != nullptr) {
    if (self->focused_ != nullptr) g_object_unref(self->focused_);
    self->focused_ = ATSPI_ACCESSIBLE(g_object_ref(event->source));
  }
  g_boxed_free(ATSPI_TYPE_EVENT, event);
}

bool AtspiFocusWatch::passwordFieldFocused(pid_t pid) const {
  if (focused_ == nullptr) return false;
  GError* raw = nullptr;
  const guint owner = atspi_accessible_get_process_id(focused_, &raw);
  if (raw != nullptr || owner != static_cast<guint>(pid)) {
    const GErrorPtr error(raw);
    return false;
  }
  const AtspiRole role = atspi_accessible_get_role(focused_, &raw);
  const GErrorPtr error(raw);
  return error == nullptr && role == ATSPI_ROLE_PASSWORD_TEXT;
}

}  // namespace glimmet
