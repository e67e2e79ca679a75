#include "host/HostLink.h"

#include "common/TrafficLog.h"
#include "core/ServerContext.h"
#include "host/CertificateErrors.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace paxelle {
namespace {

// Socket reads are taken in pieces of this size.
constexpr std::size_t kIoBufferSize = 65536;
// A request travels in a single TLS record; a longer one is refused (3107) rather than
// split across records.
constexpr std::size_t kMaxFramedRequest = SSL3_RT_MAX_PLAIN_LENGTH;

// A number for an OpenSSL failure: the library's packed error code when it queued one,
// else the SSL_get_error value. The error queue is emptied.
int OpenSslStatus(int sslError) {
  const unsigned long queued = ERR_peek_last_error();
  ERR_clear_error();
  return queued != 0 ? static_cast<int>(queued) : sslError;
}

// The count the answer's two length bytes announce; 0 before they have arrived.
std::size_t AnnouncedLength(const std::string& received) {
  if (received.size() < 2) return 0;
  return (static_cast<std::size_t>(static_cast<unsigned char>(received[0])) << 8) |
         static_cast<unsigned char>(received[1]);
}

}  // namespace

CHostLink::CHostLink(CSecurityInterface& security, CServerContext& server, CHostSessionCache* sessions,
                     HostLinkWaits waits, CHostAddressCache* addresses)
    : CHostSocket(waits == HostLinkWaits::kEndAtInterfacesStop ? &server.interfacesStopping : nullptr),
      security_(security),
      server_(server),
      sessions_(sessions),
      addresses_(addresses) {}

CHostLink::~CHostLink() { Close(); }

bool CHostLink::Connect(const std::string& host, int port, milliseconds timeout) {
  Close();
  if (!ConnectByName(host, port, timeout, addresses_)) {
    server_.log.Log("ConnectToServerByHostName - Faied - [%d]%s ", LastErrorCode(), LastErrorText().c_str());
    return false;
  }
  serverName_ = host;
  endpointKey_ = host + ":" + std::to_string(port);
  if (!PerformClientHandshake()) {
    Close();
    server_.log.Log("PerformClientHandshake - Faied - [%d]%s ", LastErrorCode(), LastErrorText().c_str());
    return false;
  }
  sessionUp_ = true;
  if (server_.params.GetParams().IsYes(kParamVerifyCertificate) && !VerifyServerCertificate()) {
    Close();
    server_.log.Log("VerifyServerCertificate - Failed - [%d]%s ", LastErrorCode(), LastErrorText().c_str());
    return false;
  }
  accepted_ = true;
  if (sessions_ != nullptr) {
    // A TLS 1.2 session resumed by its id announces no new session: it is kept again.
    if (resumed_ && SSL_version(ssl_.get()) < TLS1_3_VERSION) heldSessions_.emplace_back(SSL_get1_session(ssl_.get()));
    for (SslSessionPtr& session : heldSessions_) sessions_->Put(endpointKey_, std::move(session));
  }
  heldSessions_.clear();
  return true;
}

bool CHostLink::SessionResumed() const { return resumed_; }

bool CHostLink::KeepSession(SSL_SESSION* session) {
  if (sessions_ == nullptr || session == nullptr) return false;
  if (accepted_) {
    sessions_->Put(endpointKey_, SslSessionPtr(session));
  } else {
    heldSessions_.emplace_back(session);
  }
  return true;
}

bool CHostLink::PerformClientHandshake() {
  resumed_ = false;
  ERR_clear_error();
  ssl_.reset(security_.NewConnection());
  if (!ssl_) {
    SetLastError(kHostLinkHandshakeFailed, "InitializeSecurityContext Failed (A) - Status = %d",
                 OpenSslStatus(SSL_ERROR_SSL));
    return false;
  }
  BIO* input = BIO_new(BIO_s_mem());
  BIO* output = BIO_new(BIO_s_mem());
  if (input == nullptr || output == nullptr) {
    BIO_free(input);
    BIO_free(output);
    SetLastError(kHostLinkOutOfMemory, "Out of memory in SSL Handshake.");
    ERR_clear_error();
    return false;
  }
  // An empty input means "not yet": the end of the connection is the socket's to tell.
  BIO_set_mem_eof_return(input, -1);
  SSL_set_bio(ssl_.get(), input, output);
  input_ = input;
  output_ = output;
  SSL_set_connect_state(ssl_.get());
  SSL_set_app_data(ssl_.get(), this);
  // A kept session is offered once; when the host refuses it, or the handshake
  // fails, it is gone, and the handshake is a full one with every check.
  SslSessionPtr offered = sessions_ != nullptr ? sessions_->Take(endpointKey_) : nullptr;
  if (offered && SSL_set_session(ssl_.get(), offered.get()) != 1) ERR_clear_error();

  // The name goes out for the host to choose its certificate, and the certificate must
  // carry it; an address is matched against the certificate's addresses instead.
  X509_VERIFY_PARAM* check = SSL_get0_param(ssl_.get());
  in_addr numeric{};
  const bool isAddress = ::inet_pton(AF_INET, serverName_.c_str(), &numeric) == 1;
  const bool named = isAddress ? X509_VERIFY_PARAM_set1_ip_asc(check, serverName_.c_str()) == 1
                               : SSL_set_tlsext_host_name(ssl_.get(), serverName_.c_str()) == 1 &&
                                     X509_VERIFY_PARAM_set1_host(check, serverName_.c_str(), 0) == 1;
  if (!named) {
    SetLastError(kHostLinkHandshakeFailed, "InitializeSecurityContext Failed (A) - Status = %d",
                 OpenSslStatus(SSL_ERROR_SSL));
    return false;
  }

  ioBuffer_.resize(kIoBufferSize);
  for (bool firstStep = true;; firstStep = false) {
    ERR_clear_error();
    const int result = SSL_do_handshake(ssl_.get());
    const int error = result == 1 ? SSL_ERROR_NONE : SSL_get_error(ssl_.get(), result);
    // What the step produced goes out first, also an alert that explains a failure.
    if (!SendPendingOutput()) {
      if (firstStep) {
        SetLastError(kHostLinkHandshakeIoFailed, "Socket Error %d sending to server (A)", LastSystemError());
      } else {
        SetLastError(kHostLinkHandshakeIoFailed, "Socket Error %d sending to Server(B)", LastSystemError());
      }
      ERR_clear_error();
      return false;
    }
    if (result == 1) {
      resumed_ = offered && SSL_session_reused(ssl_.get()) == 1;
      return true;
    }
    if (error != SSL_ERROR_WANT_READ) {
      if (firstStep) {
        SetLastError(kHostLinkHandshakeFailed, "InitializeSecurityContext Failed (A) - Status = %d",
                     OpenSslStatus(error));
      } else {
        SetLastError(kHostLinkHandshakeFailed, "InitializeSecurityContext Failed(B) - Status = %d",
                     OpenSslStatus(error));
      }
      return false;
    }
    const int got = Receive(ioBuffer_.data(), static_cast<int>(ioBuffer_.size()), kHostHandshakeReadLimit);
    if (got < 0) {
      SetLastError(LastSystemError(), "Socket Error %d receiving from server", LastSystemError());
      return false;
    }
    if (got == 0) {
      SetLastError(kHostLinkHandshakeIoFailed, "Server disconnected unexpectedly.");
      return false;
    }
    if (BIO_write(input_, ioBuffer_.data(), got) != got) {
      SetLastError(kHostLinkOutOfMemory, "Out of memory in SSL Handshake.");
      ERR_clear_error();
      return false;
    }
  }
}

bool CHostLink::VerifyServerCertificate() {
  if (serverName_.empty()) {
    SetLastError(kHostLinkCertificateCheckFailed,
                 "VerifyServerCertificate Failed (A) - The target principal name is incorrect.");
    return false;
  }
  const long verifyResult = SSL_get_verify_result(ssl_.get());
  if (SSL_get0_peer_certificate(ssl_.get()) == nullptr) {
    SetLastError(kHostLinkCertificateCheckFailed, "VerifyServerCertificate Failed (C) - Status = %d",
                 static_cast<int>(verifyResult));
    return false;
  }
  if (verifyResult == X509_V_OK) return true;
  // The code carries the chain error value as the signed number the text shows.
  const std::uint32_t chainError = CertificateErrorFromVerifyResult(verifyResult);
  const int code = static_cast<int>(chainError);
  SetLastError(code, "VerifyCertificateChain Failed (F) - Error = %d more: %s", code, CertificateErrorText(chainError));
  return false;
}

bool CHostLink::SetRequest(const CRequest& record) {
  const std::string& message = record.HostRequest;
  if (message.size() < 2) return false;
  const std::size_t length = message.size() % 65536;
  request_.clear();
  request_.reserve(message.size() + 2);
  request_ += static_cast<char>((length >> 8) & 0xFF);
  request_ += static_cast<char>(length & 0xFF);
  request_ += message;
  return true;
}

bool CHostLink::Exchange(milliseconds timeout) {
  timedOut_ = false;
  receiveText_.clear();
  response_.clear();
  if (!ssl_ || !sessionUp_) {
    SetLastError(kHostLinkSendFailed, "Socket Error %d sending to Host", ENOTCONN);
    return false;
  }
  if (request_.size() > kMaxFramedRequest) {
    SetLastError(kHostLinkMessageTooLarge, "Message too large to Send!.");
    return false;
  }
  // A request that was never framed sends nothing; the wait below then finds no answer.
  if (!request_.empty()) {
    ERR_clear_error();
    const int written = SSL_write(ssl_.get(), request_.data(), static_cast<int>(request_.size()));
    if (written <= 0) {
      const unsigned status = static_cast<unsigned>(OpenSslStatus(SSL_get_error(ssl_.get(), written)));
      sessionUp_ = false;
      SetLastError(kHostLinkEncryptFailed, "Error 0x%x Encrypting Message.", status);
      return false;
    }
    if (!SendPendingOutput()) {
      SetLastError(kHostLinkSendFailed, "Socket Error %d sending to Host", LastSystemError());
      return false;
    }
  }

  const Clock::time_point deadline = Clock::now() + std::max(timeout, milliseconds(0));
  bool failed = false;
  while (Clock::now() < deadline) {
    const ReadResult result = ReceiveAndDecrypt(deadline);
    if (result == ReadResult::kTimeout || result == ReadResult::kSessionEnded) break;
    if (result == ReadResult::kFailed) {
      failed = true;
      break;
    }
    if (receiveText_.size() < 2) continue;
    // Complete at exactly the announced count. A host that sends more is not answering
    // as it should, and waiting on would only let it fill the server's memory.
    const std::size_t announced = AnnouncedLength(receiveText_);
    if (receiveText_.size() == announced + 2) break;
    if (receiveText_.size() > announced + 2) {
      SetLastError(kHostLinkReadFailed, "Host sent %zu bytes for an answer of %zu - answer refused.",
                   receiveText_.size() - 2, announced);
      receiveText_.clear();
      failed = true;
      break;
    }
  }
  if (failed || receiveText_.empty()) {
    timedOut_ = true;
    return false;
  }
  // An answer that never completed is handed on as it stands; the parser judges it.
  response_ = receiveText_.size() > 2 ? receiveText_.substr(2) : std::string();
  return true;
}

CHostLink::ReadResult CHostLink::ReceiveAndDecrypt(Clock::time_point deadline) {
  ioBuffer_.resize(kIoBufferSize);
  bool decrypted = false;
  for (;;) {
    for (;;) {
      ERR_clear_error();
      const int got = SSL_read(ssl_.get(), ioBuffer_.data(), static_cast<int>(ioBuffer_.size()));
      if (got > 0) {
        receiveText_.append(ioBuffer_.data(), static_cast<std::size_t>(got));
        decrypted = true;
        // Past the announced length nothing more is read: Exchange refuses the answer.
        if (receiveText_.size() > AnnouncedLength(receiveText_) + 2 && receiveText_.size() >= 2) {
          return ReadResult::kOk;
        }
        continue;
      }
      const int error = SSL_get_error(ssl_.get(), got);
      if (error == SSL_ERROR_WANT_READ) break;
      if (error == SSL_ERROR_ZERO_RETURN) {
        ERR_clear_error();
        SetLastError(kHostLinkReadFailed, "Host Signaled End of Session. (ReceiveAndDecrypt)");
        return ReadResult::kSessionEnded;
      }
      const unsigned status = static_cast<unsigned>(OpenSslStatus(error));
      SendPendingOutput();  // the alert, if the library wrote one
      sessionUp_ = false;   // a session that failed like this can no longer say goodbye
      SetLastError(kHostLinkReadFailed, "Error 0x%x returned by DecryptMessage.", status);
      return ReadResult::kFailed;
    }
    // What the host asked for in between (a renegotiation, a key update) is answered now.
    if (!SendPendingOutput()) {
      SetLastError(kHostLinkHandshakeIoFailed, "Error occured during Renegotiate attempt requested by Host.");
      return ReadResult::kFailed;
    }
    const bool partialRecord = SSL_has_pending(ssl_.get()) == 1 || BIO_ctrl_pending(input_) > 0;
    if (decrypted && !partialRecord) return ReadResult::kOk;
    const int got = Receive(ioBuffer_.data(), static_cast<int>(ioBuffer_.size()),
                            std::chrono::ceil<milliseconds>(deadline - Clock::now()));
    if (got < 0) {
      SetLastError(kHostLinkReadFailed, "Socket Error %d reading data from Host", LastSystemError());
      return ReadResult::kFailed;
    }
    if (got == 0) {
      if (partialRecord) {
        SetLastError(kHostLinkReadFailed, "Host unexpectedly disconnected.(ReceiveAndDecrypt)");
        return ReadResult::kFailed;
      }
      SetLastError(kHostLinkAnswerTimeout, "Timeout Waiting for Verifiable Packet from Host (ReceiveAndDecrypt)");
      return ReadResult::kTimeout;
    }
    if (BIO_write(input_, ioBuffer_.data(), got) != got) {
      ERR_clear_error();
      SetLastError(kHostLinkReadFailed, "Host unexpectedly disconnected.(ReceiveAndDecrypt)");
      return ReadResult::kFailed;
    }
  }
}

bool CHostLink::SendPendingOutput() {
  char* pending = nullptr;
  const long length = BIO_get_mem_data(output_, &pending);
  if (length <= 0) return true;
  const bool sent = Send(pending, static_cast<int>(length)) == static_cast<int>(length);
  BIO_reset(output_);
  return sent;
}

const std::string& CHostLink::Response() const { return response_; }

bool CHostLink::TimedOut() const { return timedOut_; }

void CHostLink::Close() {
  if (sessionUp_ && ssl_) {
    // The notice is a courtesy: what goes wrong sending it must not hide why the link closes.
    const int code = LastErrorCode();
    const std::string text = LastErrorText();
    ERR_clear_error();
    SSL_shutdown(ssl_.get());
    SendPendingOutput();
    ERR_clear_error();
    SetLastError(code, "%s", text.c_str());
  }
  sessionUp_ = false;
  if (ssl_) SSL_set_app_data(ssl_.get(), nullptr);
  ssl_.reset();
  heldSessions_.clear();
  accepted_ = false;
  input_ = nullptr;
  output_ = nullptr;
  CHostSocket::Close();
}

}  // namespace paxelle
