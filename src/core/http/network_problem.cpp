#include "core/http/network_problem.h"

#include <curl/curl.h>

#include <cerrno>

namespace glimmet {

// libcurl code                                   -> meaning
// CURLE_OPERATION_TIMEDOUT                       -> timedOut (connect, idle or total time-out)
// CURLE_COULDNT_RESOLVE_HOST                     -> cannotFindHost
// CURLE_COULDNT_RESOLVE_PROXY                    -> dnsLookupFailed
// CURLE_COULDNT_CONNECT, errno ENETUNREACH/ENETDOWN -> notConnectedToInternet
// CURLE_COULDNT_CONNECT, any other errno         -> cannotConnectToHost
// CURLE_SEND_ERROR, CURLE_RECV_ERROR, CURLE_GOT_NOTHING,
//   CURLE_PARTIAL_FILE, CURLE_HTTP2, CURLE_HTTP2_STREAM -> networkConnectionLost
// CURLE_PEER_FAILED_VERIFICATION                 -> serverCertificateUntrusted
// CURLE_SSL_CONNECT_ERROR, CURLE_SSL_CERTPROBLEM, CURLE_SSL_CIPHER,
//   CURLE_SSL_CACERT_BADFILE, CURLE_SSL_ISSUER_ERROR,
//   CURLE_SSL_PINNEDPUBKEYNOTMATCH, CURLE_SSL_ENGINE_*,
//   CURLE_SSL_SHUTDOWN_FAILED, CURLE_SSL_CRL_BADFILE -> secureConnectionFailed
// CURLE_UNSUPPORTED_PROTOCOL                     -> unsupportedURL (also a plain-HTTP URL
//                                                   on an HTTPS-only transfer)
// CURLE_URL_MALFORMAT                            -> badURL
// CURLE_WEIRD_SERVER_REPLY, CURLE_BAD_CONTENT_ENCODING -> badServerResponse
// anything else                                  -> unknown
NetworkProblem networkProblemOf(int curlCode, long osErrno) {
  switch (static_cast<CURLcode>(curlCode)) {
    case CURLE_OPERATION_TIMEDOUT:
      return NetworkProblem::timedOut;
    case CURLE_COULDNT_RESOLVE_HOST:
      return NetworkProblem::cannotFindHost;
    case CURLE_COULDNT_RESOLVE_PROXY:
      return NetworkProblem::dnsLookupFailed;
    case CURLE_COULDNT_CONNECT:
      return osErrno == ENETUNREACH || osErrno == ENETDOWN ? NetworkProblem::notConnectedToInternet
                                                           : NetworkProblem::cannotConnectToHost;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
      return NetworkProblem::networkConnectionLost;
    case CURLE_PEER_FAILED_VERIFICATION:
      return NetworkProblem::serverCertificateUntrusted;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
      return NetworkProblem::secureConnectionFailed;
    case CURLE_UNSUPPORTED_PROTOCOL:
      return NetworkProblem::unsupportedURL;
    case CURLE_URL_MALFORMAT:
      return NetworkProblem::badURL;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
      return NetworkProblem::badServerResponse;
    default:
      return NetworkProblem::unknown;
  }
}

}  // namespace glimmet
