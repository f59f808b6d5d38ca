#pragma once

// Addresses of class streams come from the school's course records, that is
// from the network: they are played or published only when they are what a
// class stream is, an rtmp:// or rtmps:// address with a host.

#include <QString>

namespace tavi {

// The protocols FFmpeg may use for a class stream (its "protocol_whitelist").
inline const char *const kClassStreamProtocols = "rtmp,rtmps,tcp,tls";
// The protocols FFmpeg may use for a local file the user chose.
inline const char *const kLocalFileProtocols = "file";

// Whether address is a class stream: rtmp:// or rtmps://, a host, no blanks
// or control characters. When it is not, *why (if given) tells why in a few
// words fit for the log; it never repeats the address.
bool isClassStreamAddress(const QString &address, QString *why = nullptr);

// Whether address names a protocol ("scheme:" in front), so that it is no
// plain local path.
bool hasAddressScheme(const QString &address);

// What a media address (of a player or a recording) opens as.
enum class MediaAddress {
    Refused, // any other protocol, or a local file where only streams go
    ClassStream, // see isClassStreamAddress
    LocalFile // a plain path
};

// An address naming a protocol must be a class stream; a plain path is a
// local file, unless classStreamOnly. *why tells why a refusal.
MediaAddress mediaAddressKind(const QString &address, bool classStreamOnly, QString *why = nullptr);
// FFmpeg's protocol whitelist for what an address opens as (null when
// refused).
const char *protocolWhitelist(MediaAddress kind);

// The address as the log may show it: scheme, host, port and application
// ("rtmp://host:1935/live"), never the stream name (a publishing key), the
// query or user and password. A text that is no such address gives
// "(no stream address)".
QString streamAddressForLog(const QString &address);

} // namespace tavi
