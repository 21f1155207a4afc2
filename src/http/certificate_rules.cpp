// The reading of the system's verdict on a certificate.
#include "http/certificate_rules.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

CertificateVerdict JudgeCertificate(uint32_t chainErrors, uint32_t policyError, uint32_t revocationErrors) {
    CertificateVerdict verdict = {TlsNone, RevocationChecked};
    switch (policyError) {
    case 0:
        break;
    case kPolicyExpired:
        verdict.failure = TlsExpired;
        return verdict;
    case kPolicyNameMismatch:
        verdict.failure = TlsWrongName;
        return verdict;
    // A chain engine may know a revocation before it is asked (from lists it
    // keeps): revoked is revoked, and is named as such.
    case kPolicyRevoked:
    case kPolicyCertRevoked:
        verdict.failure = TlsRevoked;
        return verdict;
    default:
        verdict.failure = TlsNotTrusted;
        return verdict;
    }
    if (chainErrors & kTrustIsNotTimeValid) {
        verdict.failure = TlsExpired;
        return verdict;
    }
    if (chainErrors & kTrustIsRevoked) {
        verdict.failure = TlsRevoked;
        return verdict;
    }
    if (chainErrors) {
        verdict.failure = TlsNotTrusted;
        return verdict;
    }
    if (revocationErrors & kTrustIsRevoked)
        verdict.failure = TlsRevoked;
    else if (revocationErrors & kTrustOfflineRevocation)
        verdict.revocation = RevocationOffline;
    else if (revocationErrors & kTrustRevocationUnknown)
        verdict.revocation = RevocationUnknown;
    return verdict;
}

RevokedCertificates::~RevokedCertificates() {
    for (Entry& e : entries) std::free(e.bytes);
}

void RevokedCertificates::Remember(const unsigned char* bytes, unsigned length, const char* name) {
    if (!bytes || length == 0 || Find(bytes, length)) return;
    unsigned char* copy = static_cast<unsigned char*>(std::malloc(length));
    if (!copy) return;
    std::memcpy(copy, bytes, length);
    Entry& e = entries[next];
    next = (next + 1) % kEntries;
    std::free(e.bytes);
    e.bytes = copy;
    e.length = length;
    std::snprintf(e.name, sizeof e.name, "%s", name ? name : "");
}

const char* RevokedCertificates::Find(const unsigned char* bytes, unsigned length) const {
    for (const Entry& e : entries)
        if (e.bytes && e.length == length && std::memcmp(e.bytes, bytes, length) == 0) return e.name;
    return nullptr;
}
