// A TLS connection over an already connected socket, behind one small
// interface: the system's SChannel on Windows (secure_channel_win.cpp); none
// elsewhere (secure_channel_posix.cpp), where https is not fetched. The
// HTTP client gives it a link that sends and receives the raw bytes with
// the client's own bounded waits.
#pragma once

// Why a secure connection could not be made.
enum TlsFailure : int {
    TlsNone = 0,
    TlsUnavailable,      // no TLS on this system (library or entry missing)
    TlsHandshakeFailed,  // the peers did not agree, or the link broke
    TlsNotTrusted,       // the certificate's chain ends in no trusted authority
    TlsWrongName,        // the certificate is for another host
    TlsExpired,          // the certificate is out of its validity
    TlsRevoked,          // a certificate of the chain was revoked by its issuer
};

// What the check of a certificate knew of its revocation. Revocation that
// cannot be determined is accepted, as browsers do: a revocation server
// out of reach must not stop every download.
enum TlsRevocation : int {
    RevocationChecked = 0,  // checked, or the chain was refused anyway
    RevocationUnknown,      // no revocation information for a certificate
    RevocationOffline,      // its revocation server could not be reached
};

// The raw byte link under the TLS records.
class TlsLink {
public:
    virtual ~TlsLink() {}
    // Sends every byte: count, -1 failed, -2 timed out.
    virtual int SendAll(const char* bytes, int count) = 0;
    // One receive of at most `size` bytes after a bounded wait: count (>0),
    // 0 when the peer closed, -1 failed, -2 timed out.
    virtual int RecvSome(char* buffer, int size) = 0;
};

class SecureChannel {
public:
    virtual ~SecureChannel() {}
    // Handshake with `host` (the name the certificate must carry) and the
    // check of its certificate. `early` holds bytes already received on the
    // link. 0, or -1 with failure() telling why.
    virtual int Start(TlsLink* link, const char* host, const char* early, int earlyCount) = 0;
    // As TlsLink::SendAll, for application bytes.
    virtual int Send(const char* bytes, int count) = 0;
    // Decrypted bytes: count (>0), 0 at the end of the stream (close-notify,
    // or the peer closing between records), -1 failed (also a close in the
    // middle of a record), -2 timed out.
    virtual int Recv(char* buffer, int size) = 0;
    // Sends the close-notify; the socket stays for the caller to close.
    virtual void Shutdown() = 0;
    // After Recv gave 0: whether the stream ended with the peer's
    // close-notify. A close without it may be anyone on the path cutting
    // the connection, so only a body whose length was announced and met
    // counts as whole then.
    virtual bool closed_cleanly() const = 0;
    virtual TlsFailure failure() const = 0;
    // After a Start that succeeded: what was known of revocation.
    virtual TlsRevocation revocation() const { return RevocationChecked; }
    // After a Start refused for its certificate: the certificate at fault
    // (its subject's name), "" when not known.
    virtual const char* refused_certificate() const { return ""; }
    // After a Start that failed: the step and the system's own codes, for
    // the log ("" when there is nothing more to say than failure()).
    virtual const char* detail() const { return ""; }
};

// The system's TLS, or null when it has none. `receiveBlock` is the size of
// the receive buffer; receives of the link are asked for as much as fits.
SecureChannel* NewSecureChannel(int receiveBlock);
