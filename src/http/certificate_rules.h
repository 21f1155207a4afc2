// How the system's verdict on a server's certificate is read: the error
// bits of the chain its chain engine built and the error its SSL policy
// gave become one reason to refuse the certificate, or none, and what is
// known of revocation. Portable code: the values are the system's own.
#pragma once
#include <cstdint>

#include "http/secure_channel.h"

// The chain's error bits that matter here.
const uint32_t kTrustIsNotTimeValid = 0x00000001;
const uint32_t kTrustIsRevoked = 0x00000004;
const uint32_t kTrustRevocationUnknown = 0x00000040;
const uint32_t kTrustOfflineRevocation = 0x01000000;
// The policy's errors that matter here.
const uint32_t kPolicyExpired = 0x800B0101;
const uint32_t kPolicyNameMismatch = 0x800B010F;
const uint32_t kPolicyRevoked = 0x80092010;      // the cryptography's "revoked"
const uint32_t kPolicyCertRevoked = 0x800B010C;  // the trust provider's "revoked"

struct CertificateVerdict {
    TlsFailure failure;        // TlsNone when the certificate is accepted
    TlsRevocation revocation;  // of an accepted certificate
};

// The verdict from two chains the system built for the same certificate:
// one without revocation, whose error bits and SSL policy error decide
// trust, dates and name (the policy's error first: expired, another name,
// any other not trusted, a revocation the system found on its own revoked;
// then any error bit of the chain), and one with
// the revocation of every certificate but the root, whose revocation bits
// decide the rest: a certificate revoked anywhere in the chain is refused;
// revocation that could not be determined (no information, or its server
// out of reach) is accepted and reported in `revocation`. Two chains,
// because some SSL policies stop looking at the name once a chain carries
// a revocation bit.
CertificateVerdict JudgeCertificate(uint32_t chainErrors, uint32_t policyError, uint32_t revocationErrors);

// The certificates found revoked during the run, by their encoded bytes:
// one found revoked stays refused, whatever a later check says (a chain
// engine's cache of revocation answers may not remember a refusal). A
// handful is kept; beyond that the oldest goes. Not locked: the caller
// holds a lock around it.
class RevokedCertificates {
public:
    RevokedCertificates() = default;
    ~RevokedCertificates();
    RevokedCertificates(const RevokedCertificates&) = delete;
    RevokedCertificates& operator=(const RevokedCertificates&) = delete;
    void Remember(const unsigned char* bytes, unsigned length, const char* name);
    // The name it was remembered with, or null when it is not known.
    const char* Find(const unsigned char* bytes, unsigned length) const;

private:
    struct Entry {
        unsigned char* bytes;
        unsigned length;
        char name[256];
    };
    static const int kEntries = 16;
    Entry entries[kEntries] = {};
    int next = 0;
};
