#pragma once

// The image a local generation run produced: the run's thread in the CLI's
// output, its image file passed through the image gate, and its diagnostics.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "imaging/image_gate.h"

namespace glimmet {

struct LocalCommandResult;

namespace generated_image {

// The one thread identifier of the CLI's JSON-lines output; none when it is
// missing, invalid or ambiguous.
std::optional<std::string> threadID(std::string_view output);
bool validThreadID(std::string_view identifier);
// The newest acceptable image in taskDirectory/generated_images, or none.
// `createdAt` is when the task directory was created: older files belong to
// someone else. Throws LocalAgentFailure.
std::optional<DecodedImage> ownTaskImage(const std::filesystem::path& taskDirectory,
                                         std::filesystem::file_time_type createdAt);
// The newest acceptable image in codexHome/generated_images/<thread>. Throws
// LocalAgentFailure when there is none.
DecodedImage ownThreadImage(const std::string& threadID, const std::filesystem::path& codexHome,
                            std::filesystem::file_time_type createdAt);
// Writes diagnostics.json (events and final message of the run) into the
// task directory; never fails.
void saveDiagnostics(const LocalCommandResult& result, const std::filesystem::path& taskDirectory);

}  // namespace generated_image
}  // namespace glimmet
