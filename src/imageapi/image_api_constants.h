#pragma once

// The fixed values of the image service client: names it stores under, the
// service it recognises, its limits and time-outs.

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "core/json.h"

namespace glimmet::imageapi {

// The API Mart API host. A base URL on exactly this host (any letter case),
// on the default port and with the path "v1" speaks the API Mart task protocol.
inline constexpr std::string_view kAPIMartHost = "api.apimart.ai";

inline constexpr std::string_view kKeychainService = "app.plumora.native.image-api";
inline constexpr std::string_view kImageQueueLabel = "app.plumora.api-images";

inline constexpr const char* kBaseKey = "api.base";
inline constexpr const char* kModelKey = "api.model";
inline constexpr const char* kHasKeyKey = "api.hasKey";
inline constexpr const char* kVerifiedKey = "api.verified";

inline constexpr const char* kPendingRequestsKey = "api.pendingRequests";
inline constexpr const char* kLastTaskKey = "api.lastTask";
inline constexpr const char* kLastTaskBaseKey = "api.lastTaskBase";

inline constexpr const char* kBusyMessage = "已有请求正在进行";

inline constexpr std::size_t kMaxBaseURLCharacters = 2048;
inline constexpr std::size_t kMaxModelBytes = 128;
inline constexpr std::size_t kMaxKeyBytes = 8192;

// Response byte limits.
inline constexpr std::size_t kGenerationResponseLimit = std::size_t{20} << 20;
inline constexpr std::size_t kImageDownloadLimit = std::size_t{10} << 20;
inline constexpr std::size_t kTaskPollLimit = std::size_t{2} << 20;
inline constexpr std::size_t kModelListLimit = std::size_t{2} << 20;

// Each request waits at most this long for the connection or the next bytes;
// the session bounds a whole transfer.
inline constexpr std::chrono::seconds kRequestTimeout{60};
inline constexpr std::chrono::seconds kSessionTimeout{300};

// Every generation ends within this time; API Mart tasks are polled this often,
// counted from the previous answer.
inline constexpr std::chrono::seconds kGenerationDeadline{600};
inline constexpr std::chrono::seconds kPollInterval{4};

// The text entry `name` of an object, or "" when absent or not text.
std::string textEntry(const Json& value, std::string_view name);

}  // namespace glimmet::imageapi
