#pragma once

// Owning pointers for C library handles, each released by its library's own
// function: GPtr<SecretValue, secret_value_unref>, GObjectPtr<VipsImage>,
// GPtr<FcPattern, FcPatternDestroy>...

#include <glib-object.h>

#include <memory>

namespace glimmet {

template <auto release>
struct GRelease {
  template <typename T>
  void operator()(T* handle) const {
    release(handle);
  }
};

template <typename T, auto release>
using GPtr = std::unique_ptr<T, GRelease<release>>;

template <typename T>
using GObjectPtr = GPtr<T, g_object_unref>;

using GErrorPtr = GPtr<GError, g_error_free>;
using GTextPtr = GPtr<gchar, g_free>;
using GVariantPtr = GPtr<GVariant, g_variant_unref>;
using GHashTablePtr = GPtr<GHashTable, g_hash_table_unref>;

// A list that owns a reference to each object in it.
struct GObjectListRelease {
  void operator()(GList* list) const { g_list_free_full(list, g_object_unref); }
};
using GObjectListPtr = std::unique_ptr<GList, GObjectListRelease>;

}  // namespace glimmet
