#pragma once

// What went wrong on the network, in the vocabulary the rest of the program
// reasons with (is it a time-out, is it worth polling again), independent of
// libcurl. The values are the URL-loading error codes these meanings carry on
// other platforms, so logs and reports line up across implementations.

namespace glimmet {

enum class NetworkProblem : int {
  unknown = -1,
  badURL = -1000,
  timedOut = -1001,
  unsupportedURL = -1002,
  cannotFindHost = -1003,
  cannotConnectToHost = -1004,
  networkConnectionLost = -1005,
  dnsLookupFailed = -1006,
  notConnectedToInternet = -1009,
  badServerResponse = -1011,
  secureConnectionFailed = -1200,
  serverCertificateUntrusted = -1202,
};

// Classifies a libcurl result code; `osErrno` (CURLINFO_OS_ERRNO) separates a
// missing network from a refused connection.
NetworkProblem networkProblemOf(int curlCode, long osErrno);

}  // namespace glimmet
