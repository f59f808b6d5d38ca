#pragma once

// Certificates of https and wss servers are checked against the system's
// store. OpenSSL's programs also trust what SSL_CERT_FILE and SSL_CERT_DIR
// name; Qt reads neither, so the client adds them to the default TLS
// configuration at start.
void trustCertificatesFromEnvironment();
