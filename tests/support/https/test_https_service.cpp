#include "support/https/test_https_service.h"

#include <glib.h>
#include <httplib.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <stdexcept>

namespace glimmet::testing {
namespace {

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Certificate = std::unique_ptr<X509, decltype(&X509_free)>;

void require(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("test certificate: ") + what);
}

// A self-signed server certificate for `key` and `hosts`, valid from a day ago
// for a day; clients trust it as its own issuer.
Certificate makeCertificate(EVP_PKEY* key, const std::vector<std::string>& hosts) {
  Certificate certificate(X509_new(), &X509_free);
  require(certificate != nullptr, "allocation");
  X509* cert = certificate.get();
  X509_set_version(cert, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
  X509_gmtime_adj(X509_getm_notBefore(cert), -86400);
  X509_gmtime_adj(X509_getm_notAfter(cert), 86400);
  X509_set_pubkey(cert, key);
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
  X509_set_issuer_name(cert, name);
  std::string names = "DNS:localhost,IP:127.0.0.1";
  for (const auto& host : hosts) names += ",DNS:" + host;
  for (const auto& [nid, value] :
       std::vector<std::pair<int, std::string>>{{NID_basic_constraints, "critical,CA:FALSE"},
                                                {NID_ext_key_usage, "serverAuth"},
                                                {NID_subject_alt_name, names}}) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
    require(extension != nullptr, "extension");
    X509_add_ext(cert, extension, -1);
    X509_EXTENSION_free(extension);
  }
  require(X509_sign(cert, key, EVP_sha256()) > 0, "signature");
  return certificate;
}

void writeReply(Reply reply, httplib::Response& response) {
  response.status = reply.status;
  for (const auto& [name, value] : reply.headers) response.set_header(name, value);
  auto body = std::make_shared<std::string>(std::move(reply.body));
  if (reply.chunked) {
    response.set_chunked_content_provider(
        reply.contentType, [body](size_t offset, httplib::DataSink& sink) {
          if (offset < body->size()) {
            return sink.write(body->data() + offset, std::min<size_t>(4096, body->size() - offset));
          }
          sink.done();
          return true;
        });
  } else {
    response.set_content(*body, reply.contentType);
  }
}

}  // namespace

std::optional<std::string> RecordedRequest::header(const std::string& name) const {
  for (const auto& [field, value] : headers) {
    if (g_ascii_strcasecmp(field.c_str(), name.c_str()) == 0) return value;
  }
  return std::nullopt;
}

TestHttpsService::TestHttpsService(const std::vector<std::string>& hosts) {
  Key key(EVP_EC_gen("P-256"), &EVP_PKEY_free);
  require(key != nullptr, "key generation");
  Certificate certificate = makeCertificate(key.get(), hosts);

  caFile_ = dir_ / "ca.pem";
  std::unique_ptr<BIO, decltype(&BIO_free)> pem(BIO_new(BIO_s_mem()), &BIO_free);
  require(pem && PEM_write_bio_X509(pem.get(), certificate.get()) == 1, "CA file");
  char* data = nullptr;
  const long size = BIO_get_mem_data(pem.get(), &data);
  writeFile(caFile_, std::string(data, static_cast<std::size_t>(size)));

  server_ = std::make_unique<httplib::SSLServer>(certificate.get(), key.get());
  require(server_->is_valid(), "server context");
  const auto handle = [this](const httplib::Request& request, httplib::Response& response) {
    RecordedRequest recorded{request.method,
                             request.target,
                             request.path,
                             {request.headers.begin(), request.headers.end()},
                             request.body};
    Handler handler;
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(recorded);
      const auto found = routes_.find({request.method, request.path});
      if (found != routes_.end()) handler = found->second;
    }
    Reply reply = handler ? handler(recorded) : Reply::with(404, "{}");
    if (reply.delay.count() > 0) pause(reply.delay);
    writeReply(std::move(reply), response);
  };
  server_->Get(".*", handle);
  server_->Post(".*", handle);
  server_->Put(".*", handle);

  port_ = server_->bind_to_any_port("127.0.0.1");
  require(port_ > 0, "bind");
  listener_ = std::thread([this] { server_->listen_after_bind(); });
  // httplib's stop() does nothing before the listener runs, so a service
  // stopped that early would never return from the join.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!server_->is_running() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  require(server_->is_running(), "listener");
}

TestHttpsService::~TestHttpsService() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  stopped_.notify_all();
  server_->stop();
  listener_.join();
}

std::string TestHttpsService::connectTo(const std::string& host, int port) const {
  return host + ":" + std::to_string(port) + ":127.0.0.1:" + std::to_string(port_);
}

void TestHttpsService::route(const std::string& method, const std::string& path, Reply reply) {
  route(method, path, [reply = std::move(reply)](const RecordedRequest&) { return reply; });
}

void TestHttpsService::route(const std::string& method, const std::string& path, Handler handler) {
  std::lock_guard lock(mutex_);
  routes_[{method, path}] = std::move(handler);
}

std::vector<RecordedRequest> TestHttpsService::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

void TestHttpsService::pause(std::chrono::milliseconds delay) {
  std::unique_lock lock(mutex_);
  stopped_.wait_for(lock, delay, [this] { return stopping_; });
}

}  // namespace glimmet::testing
