// The web process extension that carries the page's bridge messages to the
// program together with the frame that sent them. WebKitGTK's own script
// message handlers do not say which frame posted, and sub-frames of any origin
// reach them; the bridge only trusts the main frame of the packaged page, so
// the program must know the real sender.
//
// For every new document in every frame, `window.webkit.messageHandlers.plumora`
// is defined on that frame's global object as a frozen object whose
// `postMessage` is a native function bound to that frame. A call sends one
// user message, kPostMessageName with the parameters (ms frame URL, b main
// frame, s JSON of the posted value), to the web view in the program. The
// definition is read-only and non-configurable, so page scripts cannot replace
// it, and the injected bridge script posts through it unchanged. The main
// frame's URL is read when the message is sent (it follows same-document
// navigations); a sub-frame reports the URL its document had when it was
// created, and is never trusted anyway.
//
// The extension holds the page's id and a weak reference to the frame, never a
// bare pointer, across calls.

#include <jsc/jsc.h>
#include <webkit2/webkit-web-extension.h>

#include <cstdint>
#include <string>

#include "core/wire_names.h"

namespace {

using glimmet::wire::kPostMessageName;

// What one frame's `postMessage` knows about its sender.
struct FrameBinding {
  FrameBinding(WebKitWebExtension* owner, WebKitWebPage* page, WebKitFrame* frame)
      : extension(owner),
        pageId(webkit_web_page_get_id(page)),
        mainFrame(webkit_frame_is_main_frame(frame)) {
    g_weak_ref_init(&frameRef, frame);
    if (const char* url = webkit_frame_get_uri(frame)) {
      documentURL = url;
      hasDocumentURL = true;
    }
  }
  ~FrameBinding() { g_weak_ref_clear(&frameRef); }
  FrameBinding(const FrameBinding&) = delete;
  FrameBinding& operator=(const FrameBinding&) = delete;

  WebKitWebExtension* extension;
  guint64 pageId;
  GWeakRef frameRef;
  bool mainFrame;
  std::string documentURL;
  bool hasDocumentURL = false;
};

void releaseBinding(gpointer data) { delete static_cast<FrameBinding*>(data); }

void post(JSCValue* value, gpointer data) {
  const auto* binding = static_cast<const FrameBinding*>(data);
  WebKitWebPage* page = webkit_web_extension_get_page(binding->extension, binding->pageId);
  if (page == nullptr) return;

  auto* frame =
      static_cast<WebKitFrame*>(g_weak_ref_get(const_cast<GWeakRef*>(&binding->frameRef)));
  // A frame that is gone has no say.
  if (frame == nullptr) return;
  std::string url = binding->hasDocumentURL ? binding->documentURL : "";
  bool hasURL = binding->hasDocumentURL;
  if (binding->mainFrame) {
    const char* current = webkit_frame_get_uri(frame);
    hasURL = current != nullptr;
    url = current ? current : "";
  }
  g_object_unref(frame);

  // An unserialisable value (a cycle, a function) travels as null and is dropped
  // by the program like any malformed envelope.
  char* body = jsc_value_to_json(value, 0);
  JSCContext* context = jsc_value_get_context(value);
  if (jsc_context_get_exception(context) != nullptr) jsc_context_clear_exception(context);

  GVariant* parameters = g_variant_new("(msbs)", hasURL ? url.c_str() : nullptr,
                                       binding->mainFrame ? TRUE : FALSE, body ? body : "null");
  g_free(body);
  webkit_web_page_send_message_to_view(page, webkit_user_message_new(kPostMessageName, parameters),
                                       nullptr, nullptr, nullptr);
}

// Defines `name` on `object` as a read-only, non-configurable, non-enumerable value.
void defineFixed(JSCValue* object, const char* name, JSCValue* value) {
  jsc_value_object_define_property_data(object, name, static_cast<JSCValuePropertyFlags>(0), value);
}

void onWindowObjectCleared(WebKitScriptWorld* world, WebKitWebPage* page, WebKitFrame* frame,
                           gpointer extension) {
  auto* binding = new FrameBinding(static_cast<WebKitWebExtension*>(extension), page, frame);

  JSCContext* context = webkit_frame_get_js_context_for_script_world(frame, world);
  // The function owns the binding from here on and releases it when collected.
  JSCValue* postMessage = jsc_value_new_function(context, "postMessage", G_CALLBACK(post), binding,
                                                 releaseBinding, G_TYPE_NONE, 1, JSC_TYPE_VALUE);
  JSCValue* handler = jsc_value_new_object(context, nullptr, nullptr);
  defineFixed(handler, "postMessage", postMessage);
  JSCValue* handlers = jsc_value_new_object(context, nullptr, nullptr);
  defineFixed(handlers, glimmet::wire::kMessageHandler, handler);
  JSCValue* namespaceObject = jsc_value_new_object(context, nullptr, nullptr);
  defineFixed(namespaceObject, "messageHandlers", handlers);
  JSCValue* global = jsc_context_get_global_object(context);
  defineFixed(global, "webkit", namespaceObject);
  if (JSCException* exception = jsc_context_get_exception(context)) {
    g_warning("plumora bridge unavailable in this frame: %s", jsc_exception_get_message(exception));
    jsc_context_clear_exception(context);
  }
  for (JSCValue* value : {global, namespaceObject, handlers, handler, postMessage}) {
    g_object_unref(value);
  }
  g_object_unref(context);
}

}  // namespace

extern "C" G_MODULE_EXPORT void webkit_web_extension_initialize(WebKitWebExtension* extension) {
  g_signal_connect(webkit_script_world_get_default(), "window-object-cleared",
                   G_CALLBACK(onWindowObjectCleared), extension);
}
