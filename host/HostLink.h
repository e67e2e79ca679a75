// One TLS exchange with the host: connect, shake hands, check the host's certificate when
// the merchant asks for it, send one length-prefixed request and collect the
// length-prefixed answer within a time limit.
#pragma once

#include "core/Request.h"
#include "host/HostSessionCache.h"
#include "host/HostSocket.h"
#include "host/SecurityInterface.h"

#include <openssl/ssl.h>

#include <memory>
#include <string>
#include <vector>

namespace paxelle {

class CServerContext;

// Error codes of the link, besides the socket's, errno values and the chain error values
// of host/CertificateErrors.h.
enum HostLinkError : int {
  kHostLinkSendFailed = 3003,
  kHostLinkReadFailed = 3007,        // read error, or the host left in the middle of a record
  kHostLinkAnswerTimeout = 3010,     // no record arrived within the time
  kHostLinkEncryptFailed = 3012,
  kHostLinkHandshakeFailed = 3102,
  kHostLinkHandshakeIoFailed = 3103,  // send or receive failed, or the host left, during the handshake
  kHostLinkOutOfMemory = 3105,
  kHostLinkMessageTooLarge = 3107,
  kHostLinkCertificateCheckFailed = 3124,
};

// Whether a link's waits give up when the interfaces stop. New work gives up; a
// message the host must get (a completion already due) runs to its own time limits.
enum class HostLinkWaits { kEndAtInterfacesStop, kRunToLimits };

class CHostLink : public CHostSocket {
 public:
  // `security` and `server` must stay alive as long as the link; `security` may be
  // unloaded meanwhile (a connected link keeps its own reference to the TLS settings).
  // `server` gives the merchant's certificate setting, the log and the stopping event.
  // With `sessions` (which must outlive the link) the link offers a session kept for
  // the same endpoint and keeps the sessions the host hands out; without, every
  // handshake is a full one.
  // With `addresses` (which must outlive the link) the host's name is looked up
  // only when no address of it is kept (see CHostSocket::ConnectByName).
  CHostLink(CSecurityInterface& security, CServerContext& server, CHostSessionCache* sessions = nullptr,
            HostLinkWaits waits = HostLinkWaits::kEndAtInterfacesStop, CHostAddressCache* addresses = nullptr);
  // Close().
  ~CHostLink() override;
  CHostLink(const CHostLink&) = delete;
  CHostLink& operator=(const CHostLink&) = delete;

  // Connects to `host`:`port` within `timeout`, shakes hands (each read bounded by 10 s
  // and the interfaces-stopping event) with `host` as the name the certificate must carry,
  // and, when "VERIFY SSL CERTIFICATE" is "Y", checks the certificate. Any earlier session
  // is closed first. False with the last error set and logged; the link is then closed.
  bool Connect(const std::string& host, int port, milliseconds timeout);
  // Takes the record's HostRequest with its two length bytes in front (high byte first,
  // the length modulo 65536). False, the request kept as it was, when it is shorter
  // than 2 characters.
  bool SetRequest(const CRequest& record);
  // Sends the request and collects the answer for at most `timeout`: complete when the
  // bytes received are exactly their two length bytes' count plus 2. True when anything
  // arrived (Response() is it without the length bytes); false with TimedOut() set when
  // nothing arrived, the read failed or the host sent more than its length bytes
  // announced (nothing past them is kept); false with TimedOut() clear when the
  // request could not be sent.
  bool Exchange(milliseconds timeout = kHostExchangeLimit);

  // Whether the last handshake resumed a kept session instead of a full one.
  bool SessionResumed() const;
  // Called by the TLS layer for each session the host hands out on this link's
  // connection; true when the link took `session` over.
  bool KeepSession(SSL_SESSION* session);

  // The last answer without its length bytes; empty before one arrived.
  const std::string& Response() const;
  // Whether the last Exchange ended without an answer after its request went out.
  bool TimedOut() const;

  // Tells the host the session ends (when it is up; send errors ignored), drops the TLS
  // session and closes the socket. The last error is kept.
  void Close();

 private:
  enum class ReadResult { kOk, kTimeout, kSessionEnded, kFailed };
  using Clock = std::chrono::steady_clock;

  bool PerformClientHandshake();
  bool VerifyServerCertificate();
  // Sends what the TLS layer has written; false when the socket refused it.
  bool SendPendingOutput();
  // Reads until `deadline` until at least one record is decrypted and no partial record
  // is left, appending the data to receiveText_.
  ReadResult ReceiveAndDecrypt(Clock::time_point deadline);

  struct FreeSsl {
    void operator()(SSL* ssl) const { SSL_free(ssl); }
  };

  CSecurityInterface& security_;
  CServerContext& server_;
  CHostSessionCache* const sessions_;
  CHostAddressCache* const addresses_;
  std::string endpointKey_;
  // Sessions handed out before the connection was accepted (certificate included);
  // they go into the cache only once it is.
  std::vector<SslSessionPtr> heldSessions_;
  bool accepted_ = false;
  bool resumed_ = false;
  std::unique_ptr<SSL, FreeSsl> ssl_;
  BIO* input_ = nullptr;   // encrypted bytes from the host, owned by ssl_
  BIO* output_ = nullptr;  // encrypted bytes for the host, owned by ssl_
  std::string serverName_;
  bool sessionUp_ = false;
  std::vector<char> ioBuffer_;
  std::string request_;
  std::string receiveText_;
  std::string response_;
  bool timedOut_ = false;
};

}  // namespace paxelle
