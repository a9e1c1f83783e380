#pragma once

#include <QString>

// Makes a self-signed certificate for 127.0.0.1 and its key in folder with the openssl command, at test
// time (no key material lives in the repository): pemPath gets key and certificate in one file, as the
// test server's --tls-cert takes them, fingerprint "SHA256:AB:CD:..." of the certificate's DER form.
bool makeTestCertificate(const QString& folder, QString& pemPath, QString& fingerprint);
