#pragma once

// The fixed values of the cloud account: the product website it talks to, the
// payment pages it may open, where the session token is kept and the limits of
// the guarded sender.

#include <chrono>
#include <cstddef>
#include <string_view>

namespace glimmet::cloud {

// The product website's origin; every cloud request goes to this origin only.
inline constexpr std::string_view kWebsiteOrigin = "https://glimmet.app";
// The payment provider's checkout and billing pages the page may open.
inline constexpr std::string_view kCheckoutHost = "checkout.stripe.com";
inline constexpr std::string_view kBillingHost = "billing.stripe.com";

inline constexpr std::string_view kKeychainService = "app.glimmet.cloud-session";
inline constexpr std::string_view kKeychainAccount = "primary";

// Identifies this client to the website (the website relies on these values).
inline constexpr std::string_view kUserAgent = "GlimmetMac/1.0";
inline constexpr std::string_view kClientId = "glimmet-mac";

inline constexpr std::chrono::seconds kRequestTimeout{90};
inline constexpr std::size_t kResponseLimit = std::size_t{4} << 20;

// Device login pacing: the shortest gap between token polls, the gap after the
// website asked to slow down, and the code lifetime when the website names none.
inline constexpr std::chrono::seconds kPollInterval{5};
inline constexpr std::chrono::seconds kSlowDownInterval{10};
inline constexpr std::chrono::seconds kDefaultCodeLifetime{600};

}  // namespace glimmet::cloud
