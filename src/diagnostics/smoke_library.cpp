#include "diagnostics/smoke_library.h"

#include <cstdint>
#include <system_error>

#include "core/failure.h"
#include "core/json.h"
#include "diagnostics/seed_image.h"
#include "history/plumora_history.h"
#include "imaging/image_gate.h"

namespace glimmet {
namespace {

constexpr const char* kTitles[] = {"资源验收 · 可重命名", "资源验收 · 可多选 A",
                                   "资源验收 · 可多选 B"};

std::optional<std::filesystem::path> rootFor(bool active,
                                             const std::filesystem::path& temporaryDirectory,
                                             pid_t processId) {
  if (!active) return std::nullopt;
  return temporaryDirectory / (SmokeLibrary::kRootPrefix + std::to_string(processId));
}

}  // namespace

SmokeLibrary::SmokeLibrary(bool active, const std::filesystem::path& temporaryDirectory,
                           pid_t processId, Workspace& workspace)
    : root_(rootFor(active, temporaryDirectory, processId)), trash_(workspace, active) {}

std::string SmokeLibrary::seed(const PlumoraHistory& store) {
  const std::string png = seedImagePNG();
  const std::string image =
      image_gate::pngDataURL(reinterpret_cast<const std::uint8_t*>(png.data()), png.size());
  for (const char* title : kTitles) {
    try {
      store.save(Json{{"image", image}, {"prompt", title}, {"ratio", "1:1"}, {"version", 1}});
    } catch (const LocalAgentFailure& failure) {
      return std::string("LIBRARY_VALIDATION seedFailed=") + failure.what();
    }
  }
  return "LIBRARY_VALIDATION root=" + store.root().string();
}

void SmokeLibrary::remove(const PlumoraHistory& store) const {
  std::error_code ignored;
  for (const std::filesystem::path& landed : trash_.landed()) {
    std::filesystem::remove_all(landed, ignored);
    // A freedesktop.org Trash keeps what it knows of each item beside the
    // "files" directory; without the item that record would dangle.
    if (landed.parent_path().filename() == "files") {
      const std::filesystem::path info =
          landed.parent_path().parent_path() / "info" / (landed.filename().string() + ".trashinfo");
      std::filesystem::remove(info, ignored);
    }
  }
  std::filesystem::remove_all(store.root(), ignored);
}

}  // namespace glimmet
