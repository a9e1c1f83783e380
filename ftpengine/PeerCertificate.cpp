#include "PeerCertificate.h"

#include <algorithm>
#include <cctype>
#include <ctime>
#include <memory>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <strings.h>

namespace {

std::string oneLine(const X509_NAME* name) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
    if (!bio || X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB) < 0)
        return {};
    char* data = nullptr;
    long length = BIO_get_mem_data(bio.get(), &data);
    return length > 0 ? std::string(data, static_cast<size_t>(length)) : std::string();
}

std::string utcText(const ASN1_TIME* time) {
    std::tm parts{};
    if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1)
        return "?";
    char text[32];
    std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S UTC", &parts);
    return text;
}

// The hex digits alone, uppercase: how a fingerprint is compared whatever way it was typed.
std::string normalized(const std::string& fingerprint) {
    const bool prefixed = strncasecmp(fingerprint.c_str(), "SHA256:", 7) == 0;
    std::string text;
    for (char c : fingerprint.substr(prefixed ? 7 : 0))
        if (std::isxdigit(static_cast<unsigned char>(c)))
            text += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

} // namespace

PeerCertificate PeerCertificate::of(X509* certificate) {
    PeerCertificate result;
    if (certificate == nullptr)
        return result;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(certificate, EVP_sha256(), digest, &length) == 1) {
        static const char hex[] = "0123456789ABCDEF";
        result.fingerprint = "SHA256";
        for (unsigned int i = 0; i < length; ++i)
            result.fingerprint += {':', hex[digest[i] >> 4], hex[digest[i] & 15]};
    }
    result.subject = oneLine(X509_get_subject_name(certificate));
    result.issuer = oneLine(X509_get_issuer_name(certificate));
    result.validity =
        utcText(X509_get0_notBefore(certificate)) + " to " + utcText(X509_get0_notAfter(certificate));
    return result;
}

bool PeerCertificate::sameFingerprint(const std::string& a, const std::string& b) {
    std::string left = normalized(a);
    return left.size() == 64 && left == normalized(b);
}
