// The website's answers: the first byte picks the reader (device code, token
// poll, JSON call, upload) and whether the status is 200; the rest is the body.
#include <cstddef>
#include <cstdint>

#include "cloud/plumora_cloud_account.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  using glimmet::PlumoraCloudAccount;
  static const glimmet::URL origin = PlumoraCloudAccount::websiteOrigin();
  glimmet::HttpResponse response;
  response.status = data[0] & 4 ? 400 : 200;
  response.body.assign(data + 1, data + size);
  switch (data[0] & 3) {
    case 0:
      if (const auto grant = PlumoraCloudAccount::deviceCodeGrant(response, origin)) {
        if (grant.value().page.components().host != origin.components().host) __builtin_trap();
      }
      break;
    case 1:
      (void)PlumoraCloudAccount::tokenPoll(response);
      break;
    case 2:
      (void)PlumoraCloudAccount::requestAnswer(response);
      break;
    default:
      (void)PlumoraCloudAccount::uploadAnswer(response);
      break;
  }
  return 0;
}
