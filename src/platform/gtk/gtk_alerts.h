#pragma once

// Alerts as modal GTK message dialogs. The first button title is the default
// button (Enter chooses it); Escape and the window's close button answer the
// last one. Requires an initialised GTK; main thread only.

#include <memory>
#include <vector>

#include "platform/alerts.h"

typedef struct _GtkWidget GtkWidget;

namespace glimmet {

class GtkAlerts final : public Alerts {
 public:
  // The title of the single button of an alert that names none.
  static constexpr const char* kAcknowledgeTitle = "好";

  GtkAlerts();
  // Closes the alerts still open without running their completions.
  ~GtkAlerts() override;
  GtkAlerts(const GtkAlerts&) = delete;
  GtkAlerts& operator=(const GtkAlerts&) = delete;

  void present(const AlertRequest& alert, Completion completion) override;

 private:
  struct OpenAlert;
  static void onResponse(GtkWidget* dialog, int response, OpenAlert* open);

  std::vector<std::unique_ptr<OpenAlert>> open_;
};

}  // namespace glimmet
