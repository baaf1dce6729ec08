#include "web/self_signed_certificate.h"

#include "platform/atomic_file.h"
#include "platform/locations.h"

#include <QFileInfo>
#include <QSysInfo>
#include <ctime>
#include <gnutls/crypto.h>
#include <gnutls/gnutls.h>
#include <gnutls/x509.h>
#include <memory>

namespace {

constexpr time_t kValidSeconds = 10 * 365 * 24 * 3600;

struct KeyDeleter {
    void operator()(gnutls_x509_privkey_int* key) const { gnutls_x509_privkey_deinit(key); }
};
struct CertificateDeleter {
    void operator()(gnutls_x509_crt_int* certificate) const { gnutls_x509_crt_deinit(certificate); }
};

Failure TlsFailure(const char* step, int code)
{
    return Failure{std::string("Cannot make the web certificate (") + step + "): " + gnutls_strerror(code)};
}

// The PEM text of a key or certificate; empty on failure.
template <typename Export>
std::string Pem(Export exportCall)
{
    gnutls_datum_t datum{};
    if (exportCall(&datum) != GNUTLS_E_SUCCESS)
        return {};
    std::string pem(reinterpret_cast<const char*>(datum.data), datum.size);
    gnutls_free(datum.data);
    return pem;
}

Result<void> WritePrivate(const QString& path, const std::string& bytes)
{
    MakeOwnFolder(QFileInfo(path).absolutePath().toStdString());
    return WriteFileAtomically(path.toStdString(), bytes, kPrivateFileMode, true);
}

} // namespace

Result<void> MakeCertificateIfMissing(const QString& certificateFile, const QString& keyFile)
{
    const bool haveCertificate = QFileInfo::exists(certificateFile);
    const bool haveKey = QFileInfo::exists(keyFile);
    if (haveCertificate && haveKey)
        return {};
    if (haveCertificate || haveKey) // one of a pair the user named: never replace it
        return Failure{QString("The web certificate %1 and its key %2 must both exist")
                           .arg(certificateFile, keyFile)
                           .toStdString()};
    gnutls_x509_privkey_t rawKey = nullptr;
    if (const int code = gnutls_x509_privkey_init(&rawKey); code != GNUTLS_E_SUCCESS)
        return TlsFailure("key", code);
    const std::unique_ptr<gnutls_x509_privkey_int, KeyDeleter> key(rawKey);
    if (const int code = gnutls_x509_privkey_generate(key.get(), GNUTLS_PK_ECDSA,
                                                      GNUTLS_CURVE_TO_BITS(GNUTLS_ECC_CURVE_SECP256R1), 0);
        code != GNUTLS_E_SUCCESS)
        return TlsFailure("key", code);

    gnutls_x509_crt_t rawCertificate = nullptr;
    if (const int code = gnutls_x509_crt_init(&rawCertificate); code != GNUTLS_E_SUCCESS)
        return TlsFailure("certificate", code);
    const std::unique_ptr<gnutls_x509_crt_int, CertificateDeleter> certificate(rawCertificate);
    unsigned char serial[16];
    gnutls_rnd(GNUTLS_RND_NONCE, serial, sizeof serial);
    serial[0] &= 0x7f; // a positive number
    const QByteArray host = QSysInfo::machineHostName().toUtf8();
    const QByteArray commonName = host.isEmpty() ? QByteArray("localhost") : host;
    const time_t now = std::time(nullptr);
    const int steps[] = {
        gnutls_x509_crt_set_version(certificate.get(), 3),
        gnutls_x509_crt_set_serial(certificate.get(), serial, sizeof serial),
        gnutls_x509_crt_set_activation_time(certificate.get(), now - 24 * 3600),
        gnutls_x509_crt_set_expiration_time(certificate.get(), now + kValidSeconds),
        gnutls_x509_crt_set_dn_by_oid(certificate.get(), GNUTLS_OID_X520_COMMON_NAME, 0, commonName.constData(),
                                      static_cast<unsigned>(commonName.size())),
        gnutls_x509_crt_set_subject_alt_name(certificate.get(), GNUTLS_SAN_DNSNAME, commonName.constData(),
                                             static_cast<unsigned>(commonName.size()), GNUTLS_FSAN_APPEND),
        gnutls_x509_crt_set_subject_alt_name(certificate.get(), GNUTLS_SAN_DNSNAME, "localhost", 9, GNUTLS_FSAN_APPEND),
        gnutls_x509_crt_set_key(certificate.get(), key.get()),
        gnutls_x509_crt_set_basic_constraints(certificate.get(), 0, -1),
        gnutls_x509_crt_set_key_usage(certificate.get(), GNUTLS_KEY_DIGITAL_SIGNATURE),
        gnutls_x509_crt_set_key_purpose_oid(certificate.get(), GNUTLS_KP_TLS_WWW_SERVER, 0),
        gnutls_x509_crt_sign2(certificate.get(), certificate.get(), key.get(), GNUTLS_DIG_SHA256, 0),
    };
    for (const int code : steps) {
        if (code != GNUTLS_E_SUCCESS)
            return TlsFailure("certificate", code);
    }
    const std::string keyPem =
        Pem([&](gnutls_datum_t* out) { return gnutls_x509_privkey_export2(key.get(), GNUTLS_X509_FMT_PEM, out); });
    const std::string certificatePem =
        Pem([&](gnutls_datum_t* out) { return gnutls_x509_crt_export2(certificate.get(), GNUTLS_X509_FMT_PEM, out); });
    if (keyPem.empty() || certificatePem.empty())
        return TlsFailure("export", GNUTLS_E_MEMORY_ERROR);
    if (Result<void> written = WritePrivate(keyFile, keyPem); !written)
        return written;
    return WritePrivate(certificateFile, certificatePem);
}
